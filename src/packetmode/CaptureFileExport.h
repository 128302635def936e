#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "capture/CaptureFile.h"
#include "capture/PacketTable.h"
#include "packetmode/PacketListSave.h"
#include "packetmode/RecordFile.h"

namespace qhs {

// The pcap format the export writes: nanosecond time stamps, datagrams that begin with their
// IP header (link type "raw IPv4", or "raw IP" when IPv6 is among them), none cut short: the
// snap length is the largest frame any capture file holds, so every datagram the store keeps
// fits whole.
inline constexpr std::uint32_t PcapNanosecondMagic = 0xA1B23C4D;
inline constexpr std::uint32_t PcapLinkTypeIpv4 = 228;
inline constexpr std::uint32_t PcapLinkTypeRaw = 101;
inline constexpr std::uint32_t PcapSnapLength = LargestSnapLength;

// Whether a time stamp fits a pcap file, whose seconds are 32 bits without a sign: 1970 to
// early 2106.
bool fitsClassicPcap(std::int64_t arrivalNanoseconds);

// pcap, or pcapng for stamps pcap cannot hold: one interface of the same link type and snap
// length, nanosecond stamps counted from `offsetSeconds` (0, or before 1970 when a stamp is).
struct CaptureFileForm {
    bool pcapng = false;
    std::int64_t offsetSeconds = 0;
    std::uint32_t linkType = PcapLinkTypeIpv4;

    std::string header() const;
    // Where the header holds the link type, and its bytes there.
    std::size_t linkTypeOffset() const;
    std::string linkTypeBytes() const;
    // One record: its header and the datagram; nothing for a datagram without data.
    // `originalLength` is the packet's length on the wire, more than its bytes when the capture
    // cut it. 0 or the error code.
    int writeRecord(RecordFile& file, std::span<const std::uint8_t> datagram,
                    std::uint32_t originalLength, std::int64_t arrivalNanoseconds) const;
};

// The form that holds every stamp from `earliestNanoseconds` to `latestNanoseconds`: pcap
// where it can; link type raw IP when `withIpv6`, else raw IPv4.
CaptureFileForm captureFileFormFor(std::int64_t earliestNanoseconds, std::int64_t latestNanoseconds,
                                   bool withIpv6 = false);

// Writes every stored datagram, slot by slot in capture order as a save does, to a new pcap
// file at `path` that tcpdump, Wireshark and tshark read: each with its arrival time to the
// nanosecond (a pcapng file when a stamp lies outside what pcap holds). Released and empty slots
// are left out. The count of stored packets is read again before every slot, so packets captured
// meanwhile are written too; `cancel` is cleared once the file is created and stops the export
// before the next slot. The outcomes and messages are those of a save; `hooks` as for a save.
SaveOutcome writeCaptureFile(const std::string& path, PacketTable& table,
                             const SettingsRecord& settings, std::atomic<bool>& cancel,
                             const SaveHooks& hooks = {});

// A pcap file of the same format written as packets arrive, for a run that keeps no store:
// the header at once, then each packet into a buffer that reaches the file in large writes
// and whenever flush() is called. Errors are kept as RecordFile keeps them. A file named
// "*.pcapng" is written as pcapng, which holds stamps after 2106 too. The header says raw
// IPv4 until the first IPv6 packet, which turns it into raw IP in place; output that cannot
// be written over (a pipe) says raw IP from the start.
class PcapStreamWriter {
  public:
    // Creates the file anew, "-" meaning standard output; 0 or the error code.
    int create(const std::string& path);
    // `originalLength` is the packet's length on the wire, more than its bytes when the
    // capture cut it. A packet whose stamp the file cannot hold is refused, and every one
    // after it: EOVERFLOW, and refusal() says which.
    int append(std::span<const std::uint8_t> datagram, std::uint32_t originalLength,
               std::int64_t arrivalNanoseconds);
    int flush() { return file_.writePending(); }
    int close() { return file_.close(); }
    bool isOpen() const { return file_.isOpen(); }
    int error() const { return file_.error(); }
    // The first packet refused, as a sentence; empty while none was.
    const std::string& refusal() const { return refusal_; }

  private:
    RecordFile file_;
    CaptureFileForm form_;
    std::uint64_t packets_ = 0;
    std::string refusal_;
};

}  // namespace qhs
