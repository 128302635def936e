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

    TcpSegment& at(std::uint32_t sequenceNumber) {
        sequence = sequenceNumber;
        return *this;
    }
    TcpSegment& carrying(std::string_view data) {
        payload = data;
        return *this;
    }
    TcpSegment& acknowledging(std::uint32_t number) {
        acknowledgement = number;
        return *this;
    }

    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out(20 + tcpHeaderLength, 0);
        out.insert(out.end(), payload.begin(), payload.end());
        const auto put16 = [&](std::size_t at, std::uint32_t value) {
            out[at] = static_cast<std::uint8_t>(value >> 8);
            out[at + 1] = static_cast<std::uint8_t>(value);
        };
        const auto put32 = [&](std::size_t at, std::uint32_t value) {
            put16(at, value >> 16);
            put16(at + 2, value & 0xFFFF);
        };
        out[0] = 0x45;
        put16(2, static_cast<std::uint32_t>(out.size()));
        out[8] = 64;
        out[9] = protocol;
        std::memcpy(&out[12], &source, 4);
        std::memcpy(&out[16], &destination, 4);
        put16(20, sourcePort);
        put16(22, destinationPort);
        put32(24, sequence);
        put32(28, acknowledgement);
        out[32] = static_cast<std::uint8_t>((tcpHeaderLength / 4) << 4);
        out[33] = 0x18;  // ACK and PSH
        return out;
    }
};

inline std::unique_ptr<SegmentNode> segmentNode(const std::vector<std::uint8_t>& datagram) {
    auto node = std::make_unique<SegmentNode>();
    node->length = static_cast<std::uint16_t>(datagram.size());
    node->data = std::make_unique<std::uint8_t[]>(datagram.size());
    if (!datagram.empty()) {
        std::memcpy(node->data.get(), datagram.data(), datagram.size());
    }
    return node;
}

// A chain of segments in the given order of arrival.
inline std::unique_ptr<SegmentNode> chainOf(const std::vector<TcpSegment>& segments) {
    std::unique_ptr<SegmentNode> first;
    SegmentNode* last = nullptr;
    for (const TcpSegment& segment : segments) {
        auto node = segmentNode(segment.bytes());
        SegmentNode* added = node.get();
        if (last) {
            last->next = std::move(node);
        } else {
            first = std::move(node);
        }
        last = added;
    }
    return first;
}

inline std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

inline std::string textOf(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

}  // namespace qhs::test
