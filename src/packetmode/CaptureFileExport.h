#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "capture/PacketTable.h"
#include "packetmode/PacketListSave.h"

namespace qhs {

// The pcap format the export writes: nanosecond time stamps, datagrams that begin with their
// IPv4 header (link type "raw IPv4"), none cut short.
inline constexpr std::uint32_t PcapNanosecondMagic = 0xA1B23C4D;
inline constexpr std::uint32_t PcapLinkTypeIpv4 = 228;
inline constexpr std::uint32_t PcapSnapLength = 65535;

// Writes every stored datagram, slot by slot in capture order as a save does, to a new pcap
// file at `path` that tcpdump, Wireshark and tshark read: each with its arrival time to the
// nanosecond. Released and empty slots are left out. The count of stored packets is read
// again before every slot, so packets captured meanwhile are written too; `cancel` is cleared
// once the file is created and stops the export before the next slot. The outcomes and
// messages are those of a save; `hooks` as for a save.
SaveOutcome writeCaptureFile(const std::string& path, PacketTable& table,
                             const SettingsRecord& settings, std::atomic<bool>& cancel,
                             const SaveHooks& hooks = {});

}  // namespace qhs
