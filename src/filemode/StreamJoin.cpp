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

const WalkEntry* segmentAt(const std::vector<WalkEntry>& sorted, std::uint32_t sequence) {
    const auto found =
        std::lower_bound(sorted.begin(), sorted.end(), WalkEntry{sequence, 0, 0, nullptr}, before);
    return found != sorted.end() && found->sequence == sequence ? &*found : nullptr;
}

// Where the walk over `sorted` (by sequence, then arrival) begins: a segment that no other
// segment leads to, so the first byte of the stream even when its numbers wrap past
// 4294967295. Among several (a gap leaves one after it) the one that comes first in the
// stream, counting numbers as offsets around the earliest arrived segment; when every
// segment has a predecessor, the lowest number.
std::size_t walkStart(const std::vector<WalkEntry>& sorted, std::uint32_t firstArrived) {
    std::vector<std::uint32_t> ends;
    ends.reserve(sorted.size());
    for (const WalkEntry& entry : sorted) {
        if (entry.dataLength > 0) {
            ends.push_back(entry.sequence + entry.dataLength);
        }
    }
    std::sort(ends.begin(), ends.end());
    // A stream is far shorter than 2 GiB, so its numbers lie within half the number space
    // around any of its segments.
    const auto streamOffset = [firstArrived](std::uint32_t sequence) {
        return static_cast<std::uint32_t>(sequence - firstArrived + 0x80000000u);
    };
    std::size_t start = 0;
    bool found = false;
    for (std::size_t at = 0; at < sorted.size(); ++at) {
        if (at > 0 && sorted[at].sequence == sorted[at - 1].sequence) {
            continue;  // the earliest arrived of a number stands for it
        }
        if (std::binary_search(ends.begin(), ends.end(), sorted[at].sequence)) {
            continue;
        }
        if (!found || streamOffset(sorted[at].sequence) < streamOffset(sorted[start].sequence)) {
            start = at;
            found = true;
        }
    }
    return start;
}

}  // namespace

SegmentData segmentData(const SegmentNode& segment) {
    const DatagramView view(segment.data, segment.length);
    SegmentData result;
    result.sequence = view.tcpSequence();
    const std::uint32_t start = view.upperOffset() + view.tcpHeaderLength();
    if (segment.data && start < segment.length) {
        result.bytes = {segment.data + start, segment.length - start};
    }
    return result;
}

std::vector<const SegmentNode*> joinOrder(const SegmentNode* first) {
    std::vector<WalkEntry> entries;
    std::uint32_t arrival = 0;
    for (const SegmentNode* node = first; node; node = node->next) {
        const SegmentData data = segmentData(*node);
        entries.push_back(
            {data.sequence, arrival++, static_cast<std::uint32_t>(data.bytes.size()), node});
    }
    std::vector<const SegmentNode*> order;
    if (entries.empty()) {
        return order;
    }
    const std::uint32_t firstArrived = entries.front().sequence;
    std::sort(entries.begin(), entries.end(), before);

    // Sorted by (sequence, arrival), the earliest arrived segment of a sequence number is
    // the first of its run. A walk that comes back to a segment already taken (only
    // possible after 4 GiB of data or with empty segments) ends there rather than loop.
    std::vector<bool> taken(entries.size(), false);
    std::size_t position = walkStart(entries, firstArrived);
    for (;;) {
        taken[position] = true;
        order.push_back(entries[position].segment);
        const std::uint32_t expected = entries[position].sequence + entries[position].dataLength;
        const WalkEntry* next = segmentAt(entries, expected);
        if (next == nullptr) {
            break;
        }
        position = static_cast<std::size_t>(next - entries.data());
        if (taken[position]) {
            break;
        }
    }
    return order;
}

JoinedStream joinStream(const SegmentNode* first, const std::function<bool(std::size_t)>& mayTake) {
    const std::vector<const SegmentNode*> order = joinOrder(first);
    std::uint64_t total = 0;
    for (const SegmentNode* segment : order) {
        total += segmentData(*segment).bytes.size();
    }
    JoinedStream joined;
    if (!mayTake || mayTake(total + 1)) {
        joined.bytes.reset(new (std::nothrow) std::uint8_t[total + 1]);
    }
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
