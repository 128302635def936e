// A subsystem picking a Linux class itself instead of being handed it: the check must stop it.
#include "platform/PcapCaptureSource.h"
