#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/CaptureSource.h"

namespace qhs {

// A packet socket (AF_PACKET, SOCK_DGRAM) on the interface that owns an IPv4 address.
// Only IPv4 frames are passed on, so each datagram starts with its IP header; on the
// loopback device the outgoing copy of each frame is dropped, since it also arrives as
// incoming. An eventfd polled beside the socket lets close() wake a blocked receive.
class LinuxCaptureSource final : public CaptureSource {
  public:
    LinuxCaptureSource();
    ~LinuxCaptureSource() override;
    LinuxCaptureSource(const LinuxCaptureSource&) = delete;
    LinuxCaptureSource& operator=(const LinuxCaptureSource&) = delete;

    long createSocket() override;
    BindResult bindToInterface(const std::string& interfaceAddress) override;
    void setLargeReceiveBuffer() override;
    ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity) override;
    void close() override;

    static std::unique_ptr<CaptureSource> create();

  private:
    int socket_ = -1;
    int wakeEvent_ = -1;
    int boundInterfaceIndex_ = 0;
    bool boundToLoopback_ = false;
    std::atomic<bool> closed_{false};
};

// The receive buffer asked for, in bytes.
inline constexpr int CaptureReceiveBufferBytes = 10000000;

// The index of the interface that is up and owns the dotted IPv4 address, or 0.
int interfaceIndexForAddress(const std::string& interfaceAddress, bool* isLoopback = nullptr);

// The length of the IPv4 datagram in a received frame: link layers pad short frames (an
// Ethernet frame carries at least 46 bytes), so a total length field that is sound and
// shorter than what arrived gives the datagram's true end.
std::size_t ipDatagramLength(const std::uint8_t* frame, std::size_t received);

// Strict dotted-quad parse ("a.b.c.d", each 0-255); on success the address in network order.
bool parseDottedAddress(const std::string& text, std::uint32_t& networkOrderAddress);

}  // namespace qhs
