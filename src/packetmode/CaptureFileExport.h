#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "capture/PacketTable.h"
#include "packetmode/PacketListSave.h"
#include "packetmode/RecordFile.h"

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

// A pcap file of the same format written as packets arrive, for a run that keeps no store:
// the header at once, then each packet into a buffer that reaches the file in large writes
// and whenever flush() is called. Errors are kept as RecordFile keeps them.
class PcapStreamWriter {
  public:
    // Creates the file anew, "-" meaning standard output; 0 or the error code.
    int create(const std::string& path);
    // `originalLength` is the packet's length on the wire, more than its bytes when the
    // capture cut it.
    int append(std::span<const std::uint8_t> datagram, std::uint32_t originalLength,
               std::int64_t arrivalNanoseconds);
    int flush() { return file_.writePending(); }
    int close() { return file_.close(); }
    bool isOpen() const { return file_.isOpen(); }
    int error() const { return file_.error(); }

  private:
    RecordFile file_;
};

}  // namespace qhs
