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

struct DeliveryTarget;

// The kernel buffer a capture asks for, in bytes.
inline constexpr int CaptureReceiveBufferBytes = 10000000;

// File Sniffer Mode keeps every segment of a download, and on loopback a download outruns
// the copying of its segments into fresh memory (1 to 3.5 s/GB to back on a virtual
// machine) by far. Its buffer of 256 MiB holds all of a 200 MB burst.
inline constexpr int FileCaptureReceiveBufferBytes = 256 << 20;

// Frames are cut after this many bytes: the largest IPv4 datagram (65,535 bytes) after the
// largest link header, so no datagram is ever cut.
inline constexpr int CaptureSnapLength = 65535 + static_cast<int>(LargestLinkHeaderBytes);

// How long the kernel holds a part-filled buffer block before handing it over, so a quiet
// link delays little.
inline constexpr int CaptureTimeoutMilliseconds = 10;

// A live capture through libpcap on the interface that owns an IPv4 address: no promiscuous
// mode, nanosecond time stamps, and on the loopback device incoming frames only (each frame
// also passes as outgoing). Only frames that carry IPv4 are passed on, with the link header
// left out, so each datagram starts with its IP header whatever the link type. close() may be
// called from any thread and ends a blocked receive at once (pcap_breakloop).
class PcapCaptureSource final : public CaptureSource {
  public:
    explicit PcapCaptureSource(int bufferBytes = CaptureReceiveBufferBytes);
    ~PcapCaptureSource() override;
    PcapCaptureSource(const PcapCaptureSource&) = delete;
    PcapCaptureSource& operator=(const PcapCaptureSource&) = delete;

    // libpcap opens its own socket when the capture is activated. This makes and closes one
    // of the same kind first, so that a lack of privilege is told apart as it always was.
    long createSocket() override;
    // Opens and activates the capture with every option, the buffer size included: libpcap
    // takes them only before activation.
    BindResult bindToInterface(const std::string& interfaceAddress) override;
    // The buffer was set as the capture was activated.
    void setLargeReceiveBuffer() override {}
    ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity) override;
    ReceiveResult receiveInto(const DatagramAllocator& allocate) override;
    ReceiveResult receiveVisit(const DatagramVisitor& visit) override;
    void close() override;
    std::uint64_t droppedCount() const override;

    // The link-layer header type of the open capture, or -1.
    int linkType() const { return linkType_; }

    static std::unique_ptr<CaptureSource> create();
    // A source for File Sniffer Mode, whose buffer holds a whole burst of a fast download.
    static std::unique_ptr<CaptureSource> createForFiles();

  private:
    // Copies the datagram of the next IPv4 frame to where `target` says.
    ReceiveResult deliverNext(DeliveryTarget& target);

    int bufferBytes_;
    pcap* handle_ = nullptr;
    int linkType_ = -1;
    long creationError_ = 0;
    std::atomic<bool> closed_{false};
    // pcap_stats is read from other threads than the receiving one; this keeps two readers
    // from meeting.
    mutable std::mutex statisticsGuard_;
    mutable std::uint64_t dropped_ = 0;
};

}  // namespace qhs
