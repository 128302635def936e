#pragma once

#include <cstdint>
#include <memory>

namespace qhs {

// One captured TCP data segment: a copy of the whole datagram, IP header first, linked to
// the next segment of the same stream in order of arrival.
struct SegmentNode {
    std::uint16_t length = 0;
    std::unique_ptr<std::uint8_t[]> data;
    std::unique_ptr<SegmentNode> next;

    SegmentNode() = default;
    // Unlinks the rest of the chain one node at a time: a stream may hold hundreds of
    // thousands of segments, too many for a recursive release on the stack.
    ~SegmentNode();
    SegmentNode(const SegmentNode&) = delete;
    SegmentNode& operator=(const SegmentNode&) = delete;
};

}  // namespace qhs
