#include "capture/MemoryFloor.h"

#include <algorithm>

namespace qhs {

std::uint64_t memoryFloorBytes(std::uint64_t totalBytes) {
    return std::max<std::uint64_t>(std::uint64_t{256} << 20, totalBytes / 20);
}

bool FlooredSlabMemory::allows(std::size_t bytes) {
    std::lock_guard<std::mutex> guard(guard_);
    const auto now = std::chrono::steady_clock::now();
    if (!lastReading_ || now - readAt_ >= ReadInterval || handedOutSinceRead_ >= ReadAfterBytes) {
        lastReading_ = probe_.read();
        readAt_ = now;
        handedOutSinceRead_ = 0;
    }
    if (!lastReading_) {
        return true;  // nothing known: the allocation itself decides
    }
    const std::uint64_t available =
        lastReading_->availableBytes - std::min(lastReading_->availableBytes, handedOutSinceRead_);
    const std::uint64_t floor = memoryFloorBytes(lastReading_->totalBytes);
    if (available < floor || available - floor < bytes) {
        return false;
    }
    handedOutSinceRead_ += bytes;
    return true;
}

std::uint8_t* FlooredSlabMemory::obtain(std::size_t bytes) {
    return allows(bytes) ? inner_.obtain(bytes) : nullptr;
}

}  // namespace qhs
