#pragma once

#include "platform/PlatformLayer.h"

#include <atomic>
#include <cstdint>
#include <memory>

#include "capture/CaptureSource.h"
#include "platform/PcapCaptureSource.h"

namespace qhs {

// The receive ring: blocks of 1 MiB (a datagram on the loopback device is up to 64 KiB) in
// a count that gives about the receive buffer above. A block the kernel has begun is
// handed over after the timeout even when not full, so a quiet link delays little.
inline constexpr std::uint32_t CaptureRingBlockBytes = 1u << 20;
inline constexpr std::uint32_t CaptureRingBlockCount =
    (CaptureReceiveBufferBytes + CaptureRingBlockBytes - 1) / CaptureRingBlockBytes;
inline constexpr std::uint32_t CaptureRingBlockTimeoutMs = 10;

// File Sniffer Mode keeps every segment of a download, and on loopback a download outruns
// the copying of its segments into fresh memory (1 to 3.5 s/GB to back on a virtual
// machine) by far. Its ring of 256 MiB, backed once at Start, holds all of a 200 MB burst.
inline constexpr std::uint32_t FileCaptureRingBlockCount = 256;

// A packet socket (AF_PACKET, SOCK_DGRAM) on the interface that owns an IPv4 address.
// Only IPv4 frames are passed on, so each datagram starts with its IP header; on the
// loopback device the outgoing copy of each frame is dropped, since it also arrives as
// incoming. An eventfd polled beside the socket lets close() wake a blocked receive.
// Datagrams are read from a memory-mapped receive ring, a block of them at a time, so the
// kernel does not need one system call per datagram; where the ring cannot be set up the
// socket is read one datagram per call instead.
class LinuxCaptureSource final : public CaptureSource {
  public:
    // `ringBlocks` blocks of receive ring are asked for; when the kernel refuses, fewer, down
    // to the standard count.
    explicit LinuxCaptureSource(std::uint32_t ringBlocks = CaptureRingBlockCount);
    ~LinuxCaptureSource() override;
    LinuxCaptureSource(const LinuxCaptureSource&) = delete;
    LinuxCaptureSource& operator=(const LinuxCaptureSource&) = delete;

    long createSocket() override;
    BindResult bindToInterface(const std::string& interfaceAddress) override;
    void setLargeReceiveBuffer() override;
    ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity) override;
    ReceiveResult receiveInto(const DatagramAllocator& allocate) override;
    ReceiveResult receiveView(const std::uint8_t*& datagram) override;
    void close() override;
    std::uint64_t droppedCount() const override;

    // Whether datagrams come through the receive ring (false: one system call each).
    bool readsThroughRing() const { return ring_ != nullptr; }

    // Blocks of receive ring held (0 without a ring).
    std::uint32_t ringBlockCount() const { return ring_ != nullptr ? ringBlocks_ : 0; }

    static std::unique_ptr<CaptureSource> create();
    // A source for File Sniffer Mode, whose ring holds a whole burst of a fast download.
    static std::unique_ptr<CaptureSource> createForFiles();

  private:
    bool setUpReceiveRing();
    bool setUpReceiveRing(std::uint32_t blocks);
    void releaseReceiveRing();
    // Where a datagram goes: a fixed buffer, or memory of its own length.
    struct ReceiveTarget {
        std::uint8_t* buffer = nullptr;
        std::size_t capacity = 0;
        const DatagramAllocator* allocate = nullptr;
        const std::uint8_t** view = nullptr;
    };
    ReceiveResult receiveFromRing(const ReceiveTarget& target);
    static ReceiveResult deliver(const std::uint8_t* datagram, std::size_t length,
                                 const ReceiveTarget& target);
    ReceiveResult receiveFromSocket(std::uint8_t* buffer, std::size_t capacity);
    // Frames queued on the socket before the ring existed are read through this.
    std::unique_ptr<std::uint8_t[]> queueBuffer_;
    // One non-blocking read of the socket queue: 1 a datagram, 0 nothing queued, -1 error.
    int readQueuedDatagram(std::uint8_t* buffer, std::size_t capacity, ReceiveResult& result);
    // Waits for the socket or close(); false with `result` set when the receive must end.
    bool waitForData(ReceiveResult& result);
    bool wantedFrame(std::uint16_t protocol, std::uint8_t packetType) const;

    std::uint32_t ringBlocks_;
    std::uint8_t* ring_ = nullptr;
    std::size_t ringBytes_ = 0;
    std::size_t currentBlock_ = 0;
    std::uint32_t packetsLeftInBlock_ = 0;
    std::size_t nextPacketOffset_ = 0;
    bool walkingBlock_ = false;
    // Frames that arrived between bind and the ring's setup wait in the socket queue.
    bool socketQueueDrained_ = true;
    mutable std::atomic<std::uint64_t> dropped_{0};

    int socket_ = -1;
    int wakeEvent_ = -1;
    int boundInterfaceIndex_ = 0;
    bool boundToLoopback_ = false;
    std::atomic<bool> closed_{false};
};

}  // namespace qhs
