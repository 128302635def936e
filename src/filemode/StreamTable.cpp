#include "filemode/StreamTable.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "analysis/DatagramView.h"

namespace qhs {

std::array<StreamSegments, StreamSlotCount> StreamTable::emptyStreams(SegmentMemory& memory) {
    return [&memory]<std::size_t... Slot>(std::index_sequence<Slot...>) {
        return std::array<StreamSegments, StreamSlotCount>{((void)Slot, StreamSegments(memory))...};
    }
    (std::make_index_sequence<StreamSlotCount>{});
}

StreamTable::StreamTable(SlabMemory& memory) : memory_(memory), segments_(emptyStreams(memory_)) {}

StreamTable::~StreamTable() = default;

void StreamTable::clear() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int slot = 0; slot < StreamSlotCount; ++slot) {
            segments_[slot].release();
            streamData_[slot] = 0;
            beyondLimit_[slot] = false;
            streamKey_[slot] = 0;
            lastSegmentTime_[slot] = 0;
        }
        freeSlot_ = 0;
        appendingSlot_ = NoStreamSlot;
        completingSlot_ = NoStreamSlot;
        creatingStream_ = false;
    }
    memory_.releaseKept();
}

void StreamTable::resetCounters() {
    filesProcessing_.store(0);
    filesWritten_.store(0);
    incompleteFiles_.store(0);
    filesNotWritten_.store(0);
    encryptedWithoutKey_.store(0);
}

SegmentFilingResult StreamTable::fileSegment(std::uint32_t streamKey, const std::uint8_t* datagram,
                                             std::uint32_t length, std::int64_t now) {
    // 0 marks a free slot, so no live stream may carry it.
    now = std::max<std::int64_t>(now, 1);
    int slot = NoStreamSlot;
    bool creating = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int candidate = 0; candidate < StreamSlotCount; ++candidate) {
            if (candidate != completingSlot_ && lastSegmentTime_[candidate] != 0 &&
                streamKey_[candidate] == streamKey) {
                slot = candidate;
                break;
            }
        }
        if (slot == NoStreamSlot) {
            if (freeSlot_ == NoStreamSlot) {
                return {SegmentFiling::TableFull, true};
            }
            slot = freeSlot_;
            creating = true;
            creatingStream_ = true;
        }
        appendingSlot_ = slot;
    }

    // Outside the mutex; the completion thread passes over this slot.
    const DatagramView view(datagram, length);
    const std::uint32_t headers = view.upperOffset() + view.tcpHeaderLength();
    streamData_[slot] += length > headers ? length - headers : 0;
    if (streamDataLimit_ != 0 && streamData_[slot] > streamDataLimit_) {
        // Its file would not be written: what it holds goes back at once.
        beyondLimit_[slot] = true;
        segments_[slot].release();
    }
    const bool stored = beyondLimit_[slot] || segments_[slot].append(datagram, length);

    std::lock_guard<std::mutex> lock(mutex_);
    appendingSlot_ = NoStreamSlot;
    if (!stored) {
        if (creating) {
            creatingStream_ = false;  // a claimed slot stays free
            streamData_[slot] = 0;
        }
        return {SegmentFiling::DataAllocationFailed, creating};
    }
    // A stream beyond the limit stays, so its later segments do not start another one.
    lastSegmentTime_[slot] = now;
    if (!creating) {
        return {beyondLimit_[slot] ? SegmentFiling::BeyondMaximumSize : SegmentFiling::Appended,
                false};
    }
    streamKey_[slot] = streamKey;
    freeSlot_ = lowestEmptySlot();
    creatingStream_ = false;
    return {SegmentFiling::Created, true};
}

SlotState StreamTable::examineSlot(int slot, std::int64_t now, std::int32_t ackTimeoutMs) {
    if (slot < 0 || slot >= StreamSlotCount) {
        return SlotState::Idle;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (lastSegmentTime_[slot] == 0 || slot == appendingSlot_) {
        return SlotState::Idle;
    }
    // A signed comparison in 64 bits: a negative time-out completes at once, and no
    // value of the field can overflow the subtraction.
    const bool timedOut = lastSegmentTime_[slot] < now - static_cast<std::int64_t>(ackTimeoutMs);
    // One stream is completed at a time.
    if (!timedOut || completingSlot_ != NoStreamSlot) {
        return SlotState::Live;
    }
    completingSlot_ = slot;
    streamKey_[slot] = 0;
    return SlotState::Completing;
}

const SegmentNode* StreamTable::completingStream() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return completingSlot_ == NoStreamSlot ? nullptr : segments_[completingSlot_].first();
}

void StreamTable::finishCompleting() {
    StreamSegments released(memory_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int slot = completingSlot_;
        if (slot == NoStreamSlot) {
            return;
        }
        released = std::move(segments_[slot]);
        streamData_[slot] = 0;
        beyondLimit_[slot] = false;
        lastSegmentTime_[slot] = 0;
        streamKey_[slot] = 0;
        completingSlot_ = NoStreamSlot;
        // A stream being created took `freeSlot`; its own recount at the end of creation
        // sees this slot free, so the hand-back is left to it.
        if (!creatingStream_) {
            freeSlot_ = slot;
        }
    }
    // The segments are freed outside the mutex: a long stream takes a while.
}

std::uint32_t StreamTable::streamKey(int slot) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slot >= 0 && slot < StreamSlotCount ? streamKey_[slot] : 0;
}

std::int64_t StreamTable::lastSegmentTime(int slot) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slot >= 0 && slot < StreamSlotCount ? lastSegmentTime_[slot] : 0;
}

std::size_t StreamTable::segmentCount(int slot) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t count = 0;
    if (slot >= 0 && slot < StreamSlotCount) {
        for (const SegmentNode* node = segments_[slot].first(); node; node = node->next) {
            ++count;
        }
    }
    return count;
}

int StreamTable::freeSlot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return freeSlot_;
}

int StreamTable::liveStreamCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(lastSegmentTime_.begin(), lastSegmentTime_.end(),
                                          [](std::int64_t time) { return time != 0; }));
}

int StreamTable::lowestEmptySlot() const {
    for (int slot = 0; slot < StreamSlotCount; ++slot) {
        if (lastSegmentTime_[slot] == 0 && slot != completingSlot_) {
            return slot;
        }
    }
    return NoStreamSlot;
}

}  // namespace qhs
