#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

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

// The time a file completed at `now` on `clock` is named by; nothing for the local time now.
std::optional<LocalTime> completionTime(std::int64_t now, FileCaptureClock clock);

// The two ends of a stream whose file was written: the server sent the data.
struct StreamEnds {
    std::string serverAddress;
    std::uint16_t serverPort = 0;
    std::string clientAddress;
    std::uint16_t clientPort = 0;
};

// Counts what writing a stream's file came to and tells the run's hooks of it; the message
// the window is to show, if any (shown by the caller once it holds no stream's memory).
std::optional<UserMessage> reportStreamFile(StreamTable& table, FileSnifferState& state,
                                            StreamFileResult result, const StreamEnds& ends);

// One pass of the completion thread at `now` on `clock`: every live stream is counted,
// and each one whose newest segment is older than now minus the current time-out is
// joined, written and freed. Sets and returns `filesProcessing`.
std::int32_t runCompletionPass(StreamTable& table, FileSnifferState& state, std::int64_t now,
                               FileCaptureClock clock = FileCaptureClock::Process);

// The completion thread: a pass every 100 ms while capture runs. Ends at once if another
// completion thread is running.
void runStreamCompletion(StreamTable& table, FileSnifferState& state);

}  // namespace qhs
