#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "filemode/SegmentNode.h"

namespace qhs::test {

inline std::uint32_t ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// An IPv4 datagram carrying one TCP segment, built byte by byte (big-endian fields).
struct TcpSegment {
    std::uint8_t protocol = 6;
    std::uint32_t source = ipv4(10, 0, 0, 5);
    std::uint32_t destination = ipv4(10, 0, 0, 9);
    std::uint16_t sourcePort = 80;
    std::uint16_t destinationPort = 3000;
    std::uint32_t sequence = 1000;
    std::uint32_t acknowledgement = 777;
    std::uint32_t tcpHeaderLength = 20;
    std::string payload;

    TcpSegment& at(std::uint32_t number) { return sequence = number, *this; }
    TcpSegment& acknowledging(std::uint32_t number) { return acknowledgement = number, *this; }
    TcpSegment& carrying(std::string_view data) { return payload = data, *this; }

    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out(20 + tcpHeaderLength, 0);
        out.insert(out.end(), payload.begin(), payload.end());
        const auto put = [&](std::size_t at, std::uint32_t value, int width) {
            for (int i = 0; i < width; ++i) {
                out[at + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
            }
        };
        out[0] = 0x45;
        put(2, static_cast<std::uint32_t>(out.size()), 2);
        out[9] = protocol;
        std::memcpy(&out[12], &source, 4);
        std::memcpy(&out[16], &destination, 4);
        put(20, sourcePort, 2);
        put(22, destinationPort, 2);
        put(24, sequence, 4);
        put(28, acknowledgement, 4);
        out[32] = static_cast<std::uint8_t>((tcpHeaderLength / 4) << 4);
        return out;
    }
};

// A chain of segments in the given order of arrival, holding their memory.
class SegmentChain {
  public:
    explicit SegmentChain(const std::vector<TcpSegment>& segments) {
        for (const TcpSegment& segment : segments) {
            const std::vector<std::uint8_t> bytes = segment.bytes();
            stream_.append(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
        }
    }
    const SegmentNode* get() const { return stream_.first(); }
    const SegmentNode& operator*() const { return *stream_.first(); }

  private:
    SegmentMemory memory_;
    StreamSegments stream_{memory_};
};

inline SegmentChain chainOf(const std::vector<TcpSegment>& segments) {
    return SegmentChain(segments);
}

inline std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

inline std::string textOf(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

}  // namespace qhs::test
