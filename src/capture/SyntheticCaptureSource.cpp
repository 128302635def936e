#include "capture/SyntheticCaptureSource.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace qhs {

SyntheticCaptureSource::SyntheticCaptureSource(std::uint64_t datagramCount, std::uint32_t seed)
    : remaining_(datagramCount), state_(seed == 0 ? 1 : seed) {}

ReceiveResult SyntheticCaptureSource::receive(const DatagramVisitor& visit) {
    using namespace std::chrono_literals;
    while (remaining_ == 0 && !closed_.load()) {
        std::this_thread::sleep_for(2ms);
    }
    if (closed_.load()) {
        return {false, 0, 0};
    }
    --remaining_;
    // xorshift: cheap and repeatable.
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    const std::uint32_t kind = state_ % 10;
    const std::uint8_t protocol = kind < 6 ? 6 : (kind < 9 ? 17 : 1);
    std::uint8_t* const buffer = datagram_;
    const std::size_t length = 60 + state_ % 1441;
    std::memset(buffer, 'a' + static_cast<int>(state_ % 26), length);
    buffer[0] = 0x45;
    buffer[1] = 0;
    buffer[2] = static_cast<std::uint8_t>(length >> 8);
    buffer[3] = static_cast<std::uint8_t>(length);
    buffer[8] = 64;
    buffer[9] = protocol;
    const std::uint8_t addresses[8] = {
        192, 168, 1, static_cast<std::uint8_t>(1 + state_ % 20),
        10,  0,   0, static_cast<std::uint8_t>(1 + (state_ >> 8) % 5)};
    std::memcpy(buffer + 12, addresses, 8);
    const std::uint16_t ports[4] = {80, 443, 53, 8080};
    const std::uint16_t sourcePort = ports[(state_ >> 4) % 4];
    const std::uint16_t destinationPort = static_cast<std::uint16_t>(1024 + (state_ >> 12) % 60000);
    buffer[20] = static_cast<std::uint8_t>(sourcePort >> 8);
    buffer[21] = static_cast<std::uint8_t>(sourcePort);
    buffer[22] = static_cast<std::uint8_t>(destinationPort >> 8);
    buffer[23] = static_cast<std::uint8_t>(destinationPort);
    if (protocol == 6) {
        buffer[32] = 0x50;
        buffer[33] = 0x18;  // acknowledgement and push
    }
    visit(buffer, length);
    delivered_.fetch_add(1);
    return {true, length, 0};
}

void SyntheticCaptureSource::close() {
    closed_.store(true);
}

}  // namespace qhs
