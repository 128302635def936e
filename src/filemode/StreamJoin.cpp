#include "filemode/StreamJoin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "analysis/DatagramView.h"

namespace qhs {

namespace {

struct WalkEntry {
    std::uint32_t sequence;
    std::uint32_t arrival;
    std::uint32_t dataLength;
    const SegmentNode* segment;
};

bool before(const WalkEntry& a, const WalkEntry& b) {
    return a.sequence != b.sequence ? a.sequence < b.sequence : a.arrival < b.arrival;
}

}  // namespace

SegmentData segmentData(const SegmentNode& segment) {
    const DatagramView view(segment.data.get(), segment.length);
    SegmentData result;
    result.sequence = view.tcpSequence();
    const std::uint32_t start = DatagramView::IpHeaderLength + view.tcpHeaderLength();
    if (segment.data && start < segment.length) {
        result.bytes = {segment.data.get() + start, segment.length - start};
    }
    return result;
}

std::vector<const SegmentNode*> joinOrder(const SegmentNode* first) {
    std::vector<WalkEntry> entries;
    std::uint32_t arrival = 0;
    for (const SegmentNode* node = first; node; node = node->next.get()) {
        const SegmentData data = segmentData(*node);
        entries.push_back(
            {data.sequence, arrival++, static_cast<std::uint32_t>(data.bytes.size()), node});
    }
    std::vector<const SegmentNode*> order;
    if (entries.empty()) {
        return order;
    }
    std::sort(entries.begin(), entries.end(), before);

    // Sorted by (sequence, arrival), the earliest arrived segment of a sequence number is
    // the first of its run. A walk that comes back to a segment already taken (only
    // possible after 4 GiB of data or with empty segments) ends there rather than loop.
    std::vector<bool> taken(entries.size(), false);
    std::size_t position = 0;
    for (;;) {
        taken[position] = true;
        order.push_back(entries[position].segment);
        const std::uint32_t expected = entries[position].sequence + entries[position].dataLength;
        const auto next = std::lower_bound(entries.begin(), entries.end(),
                                           WalkEntry{expected, 0, 0, nullptr}, before);
        if (next == entries.end() || next->sequence != expected) {
            break;
        }
        position = static_cast<std::size_t>(next - entries.begin());
        if (taken[position]) {
            break;
        }
    }
    return order;
}

JoinedStream joinStream(const SegmentNode* first) {
    const std::vector<const SegmentNode*> order = joinOrder(first);
    std::uint64_t total = 0;
    for (const SegmentNode* segment : order) {
        total += segmentData(*segment).bytes.size();
    }
    JoinedStream joined;
    joined.bytes.reset(new (std::nothrow) std::uint8_t[total + 1]);
    if (!joined.bytes) {
        joined.length = total;
        return joined;
    }
    std::uint8_t* out = joined.bytes.get();
    for (const SegmentNode* segment : order) {
        const std::span<const std::uint8_t> bytes = segmentData(*segment).bytes;
        if (!bytes.empty()) {
            std::memcpy(out, bytes.data(), bytes.size());
            out += bytes.size();
        }
    }
    *out = 0;
    joined.length = total;
    return joined;
}

UserMessage joinAllocationMessage(std::uint64_t total) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Memory allocation error #0\r\nError allocating %ld bytes\r\nPossible cause: "
                  "Not enuf memory available",
                  static_cast<long>(total));
    UserMessage message;
    message.text = text;
    return message;
}

}  // namespace qhs
