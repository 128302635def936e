// The ground floor reaching the Packet Sniffer window's folder: the floor check must stop it.
#include "packetmode/PacketRecord.h"
