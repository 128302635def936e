#pragma once

#include <chrono>
#include <cstdint>

#include "filemode/FileSnifferState.h"
#include "filemode/StreamTable.h"

namespace qhs {

inline constexpr std::chrono::milliseconds CompletionPassPeriod{100};

// The clock streams are timed by.
enum class FileCaptureClock {
    // Live capture: milliseconds of the process clock; a file is named at the local time
    // of its completion.
    Process,
    // A capture file: the datagrams' own time stamps, in milliseconds since 1970; a file is
    // named at the time of its completion on that clock.
    DatagramStamps,
};

// One pass of the completion thread at `now` on `clock`: every live stream is counted,
// and each one whose newest segment is older than now minus the current time-out is
// joined, written and freed. Sets and returns `filesProcessing`.
std::int32_t runCompletionPass(StreamTable& table, FileSnifferState& state, std::int64_t now,
                               FileCaptureClock clock = FileCaptureClock::Process);

// The completion thread: a pass every 100 ms while capture runs. Ends at once if another
// completion thread is running.
void runStreamCompletion(StreamTable& table, FileSnifferState& state);

}  // namespace qhs
