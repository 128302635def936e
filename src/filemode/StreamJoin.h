#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "app/UserMessage.h"
#include "filemode/SegmentNode.h"

namespace qhs {

// A segment's sequence number and its data: the bytes after its TCP header.
struct SegmentData {
    std::uint32_t sequence = 0;
    std::span<const std::uint8_t> bytes;
};

SegmentData segmentData(const SegmentNode& segment);

// The joined data of a stream: `length` bytes followed by one zero byte that is not
// counted. `bytes` is empty when the buffer could not be allocated.
struct JoinedStream {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t length = 0;

    bool allocated() const { return bytes != nullptr; }
    std::span<const std::uint8_t> data() const { return {bytes.get(), bytes ? length : 0}; }
};

// The segments of a chain (given in arrival order) in the order they are joined: first
// the one that no other segment leads to (the earliest arrived among equal numbers), so a
// stream whose numbers wrap past 4294967295 starts at its first byte; then each
// time the earliest arrived segment whose sequence number is the previous one's plus its
// data length, in 32-bit arithmetic. The walk stops at the first gap, so a retransmitted
// copy is used once and nothing after a missing segment is used. O(n log n).
std::vector<const SegmentNode*> joinOrder(const SegmentNode* first);

// The data of the segments in join order, copied into one buffer.
// `mayTake`, when given, is asked first whether the buffer may be taken (the memory floor).
JoinedStream joinStream(const SegmentNode* first,
                        const std::function<bool(std::size_t)>& mayTake = {});

// The message for a join buffer of `total` bytes that could not be allocated.
UserMessage joinAllocationMessage(std::uint64_t total);

}  // namespace qhs
