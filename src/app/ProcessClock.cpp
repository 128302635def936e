#include "app/ProcessClock.h"

#include <chrono>

namespace qhs {

namespace {
const auto processStart = std::chrono::steady_clock::now();
}

std::uint64_t processClockMs() {
    const auto elapsed = std::chrono::steady_clock::now() - processStart;
    return static_cast<std::uint64_t>(
               std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
           1;
}

}  // namespace qhs
