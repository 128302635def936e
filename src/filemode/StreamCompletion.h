#pragma once

#include <chrono>
#include <cstdint>

#include "filemode/FileSnifferState.h"
#include "filemode/StreamTable.h"

namespace qhs {

inline constexpr std::chrono::milliseconds CompletionPassPeriod{100};

// One pass of the completion thread at process clock `now`: every live stream is counted,
// and each one whose newest segment is older than now minus the current time-out is
// joined, written and freed. Sets and returns `filesProcessing`.
std::int32_t runCompletionPass(StreamTable& table, FileSnifferState& state, std::int64_t now);

// The completion thread: a pass every 100 ms while capture runs. Ends at once if another
// completion thread is running.
void runStreamCompletion(StreamTable& table, FileSnifferState& state);

}  // namespace qhs
