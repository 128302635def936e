#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

#include "capture/SlabMemory.h"

namespace qhs {

struct MemoryFigures {
    std::uint64_t availableBytes = 0;  // what the system can still give without swapping
    std::uint64_t totalBytes = 0;
};

// Reads the machine's memory figures; empty when they cannot be read.
class MemoryProbe {
  public:
    virtual ~MemoryProbe() = default;
    virtual std::optional<MemoryFigures> read() = 0;
};

// The available memory the program leaves the machine: the larger of 256 MiB and 5% of it.
std::uint64_t memoryFloorBytes(std::uint64_t totalBytes);

// Slabs that are refused, as a failed allocation, when taking one would leave the machine
// less available memory than the floor. On Linux an allocation itself seldom fails: the
// out-of-memory killer ends the program instead, and every captured packet goes with it.
// The probe is read at most every ReadInterval, or sooner once ReadAfterBytes have been
// handed out since, and what was handed out in between is counted off the last reading.
// Any thread.
class FlooredSlabMemory final : public SlabMemory {
  public:
    static constexpr std::chrono::milliseconds ReadInterval{50};
    static constexpr std::size_t ReadAfterBytes = std::size_t{16} << 20;

    FlooredSlabMemory(SlabMemory& inner, MemoryProbe& probe) : inner_(inner), probe_(probe) {}

    std::uint8_t* obtain(std::size_t bytes) override;
    bool back(std::uint8_t* slab, std::size_t bytes) override { return inner_.back(slab, bytes); }
    void release(std::uint8_t* slab, std::size_t bytes) override { inner_.release(slab, bytes); }
    void discard(std::uint8_t* slab, std::size_t bytes) override { inner_.discard(slab, bytes); }
    void enterPreparingThread() override { inner_.enterPreparingThread(); }
    bool allows(std::size_t bytes) override;

  private:
    SlabMemory& inner_;
    MemoryProbe& probe_;
    std::mutex guard_;
    std::optional<MemoryFigures> lastReading_;
    std::chrono::steady_clock::time_point readAt_{};
    std::uint64_t handedOutSinceRead_ = 0;
};

}  // namespace qhs
