#pragma once

#include <atomic>
#include <cstdint>

#include "capture/MemoryFloor.h"

namespace qhs::test {

// Memory figures a test sets, on a machine of 4 GiB (its floor is 256 MiB); counts readings.
class ScriptedMemoryProbe final : public MemoryProbe {
  public:
    static constexpr std::uint64_t Total = std::uint64_t{4} << 30;
    std::optional<MemoryFigures> read() override {
        ++reads;
        return MemoryFigures{available.load(), Total};
    }
    void setBelowFloor() { available = memoryFloorBytes(Total) - 1; }
    void setPlenty() { available = Total; }

    std::atomic<std::uint64_t> available{Total};
    std::atomic<int> reads{0};
};

}  // namespace qhs::test
