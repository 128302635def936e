#pragma once

#include "platform/PlatformLayer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "capture/CaptureSource.h"
#include "capture/LinkLayer.h"

struct pcap;

namespace qhs {

// Frames are cut after this many bytes: the largest IP datagram (an IPv6 one of 40 + 65,535
// bytes) after the largest link header, so no datagram is ever cut.
inline constexpr int CaptureSnapLength = 40 + 65535 + static_cast<int>(LargestLinkHeaderBytes);

// How long the kernel holds a part-filled buffer block before handing it over, so a quiet
// link delays little.
inline constexpr int CaptureTimeoutMilliseconds = 10;

// A live capture through libpcap on the interface that owns an IPv4 address (or, from the
// command line, an interface by name, or every interface): no promiscuous mode, nanosecond
// time stamps, an optional filter expression in the kernel, and on the loopback device
// incoming frames only (each frame also passes as outgoing). Only frames that carry IPv4 or IPv6
// are passed on, with the link header left out, so each datagram starts with its IP header whatever
// the link type. close() may be called from any thread and ends a blocked receive at once
// (pcap_breakloop).
class PcapCaptureSource final : public CaptureSource {
  public:
    PcapCaptureSource() = default;
    ~PcapCaptureSource() override;
    PcapCaptureSource(const PcapCaptureSource&) = delete;
    PcapCaptureSource& operator=(const PcapCaptureSource&) = delete;

    // Creates and activates the capture with every option, the buffer size included: libpcap
    // takes them only before activation.
    OpenOutcome open(const CaptureOptions& options) override;
    ReceiveResult receive(const DatagramVisitor& visit) override;
    void close() override;
    std::uint64_t droppedCount() const override;

    // The link-layer header type of the open capture, or -1.
    int linkType() const { return linkType_; }

    static std::unique_ptr<CaptureSource> create();

  private:
    pcap* handle_ = nullptr;
    int linkType_ = -1;
    std::atomic<bool> closed_{false};
    // pcap_stats is read from other threads than the receiving one; this keeps two readers
    // from meeting.
    mutable std::mutex statisticsGuard_;
    mutable std::uint64_t dropped_ = 0;
};

}  // namespace qhs
