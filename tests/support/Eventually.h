#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace qhs {

// Polls `condition` until it holds; false when it still does not after `limit`, so a fault
// fails the test instead of hanging it. For tests without an event loop (see QtWait.h).
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace qhs
