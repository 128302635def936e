#include "filemode/TcpReassembly.h"

namespace qhs {

void TcpReassembly::start(std::uint32_t sequence) {
    started_ = true;
    next_ = sequence;
}

void TcpReassembly::add(std::uint32_t sequence, std::span<const std::uint8_t> data,
                        const Deliver& deliver) {
    if (!started_ || broken_ || data.empty()) {
        return;
    }
    // Sequence numbers wrap: the distance from the next byte expected, as a signed number.
    const auto distance = static_cast<std::int32_t>(sequence - next_);
    if (distance < 0) {
        const auto already = static_cast<std::uint64_t>(-static_cast<std::int64_t>(distance));
        if (already >= data.size()) {
            return;  // sent again: nothing new
        }
        data = data.subspan(already);
    } else if (distance > 0) {
        if (static_cast<std::size_t>(distance) > LongestHeldAhead ||
            heldAhead_ + data.size() > LongestHeldAhead) {
            broken_ = true;
            ahead_.clear();
            heldAhead_ = 0;
            return;
        }
        const std::uint64_t position = delivered_ + static_cast<std::uint64_t>(distance);
        std::vector<std::uint8_t>& held = ahead_[position];
        if (held.size() < data.size()) {
            heldAhead_ += data.size() - held.size();
            held.assign(data.begin(), data.end());
        }
        return;
    }
    deliver(data);
    delivered_ += data.size();
    next_ += static_cast<std::uint32_t>(data.size());
    // What waited and now follows on.
    while (!ahead_.empty() && ahead_.begin()->first <= delivered_) {
        auto first = ahead_.begin();
        const std::vector<std::uint8_t> held = std::move(first->second);
        const std::uint64_t position = first->first;
        ahead_.erase(first);
        heldAhead_ -= held.size();
        const std::uint64_t overlap = delivered_ - position;
        if (overlap >= held.size()) {
            continue;
        }
        const std::span<const std::uint8_t> fresh = std::span(held).subspan(overlap);
        deliver(fresh);
        delivered_ += fresh.size();
        next_ += static_cast<std::uint32_t>(fresh.size());
    }
}

}  // namespace qhs
