#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "capture/MemoryFloor.h"

namespace qhs::test {

// Memory figures a test sets, on a machine of 4 GiB (its floor is 256 MiB); counts readings.
class ScriptedMemoryProbe final : public MemoryProbe {
  public:
    static constexpr std::uint64_t Total = std::uint64_t{4} << 30;
    std::optional<MemoryFigures> read() override {
        lastRead = std::chrono::steady_clock::now();
        ++reads;
        return MemoryFigures{available.load(), Total};
    }
    void setBelowFloor() { available = memoryFloorBytes(Total) - 1; }
    void setPlenty() { available = Total; }
    // Returns once the last reading is as old as a floor keeps one, so the floor reads the
    // figures set since afresh at its next decision.
    void waitUntilReadingIsStale() const {
        std::this_thread::sleep_until(lastRead.load() + FlooredSlabMemory::ReadInterval);
    }

    std::atomic<std::uint64_t> available{Total};
    std::atomic<int> reads{0};
    std::atomic<std::chrono::steady_clock::time_point> lastRead{};
};

}  // namespace qhs::test
