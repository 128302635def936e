#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/SettingsRecord.h"
#include "app/UserMessage.h"
#include "capture/CaptureSource.h"
#include "filemode/FileSnifferState.h"
#include "filemode/StreamCompletion.h"
#include "filemode/StreamTable.h"

namespace qhs {

inline constexpr const char* FileStatusRunning = "Status: Running";
inline constexpr const char* FileStatusStopped = "Status: Stopped";

struct FileCaptureHooks {
    // Receives the status line texts; must not block (the window may be waiting in Stop).
    std::function<void(const std::string& status)> setStatus;
    // Starts the completion thread; called once the table is cleared.
    std::function<void()> startCompletion;
    // The process clock in ms; empty means processClockMs. Only for FileCaptureClock::Process.
    std::function<std::int64_t()> clock;
    // What times the streams. With DatagramStamps (a capture file) this thread is also the
    // completion thread: see runFileCapture.
    FileCaptureClock timedBy = FileCaptureClock::Process;
};

// The file capture thread: clears the table and both counters, takes the eight filters
// from `settings`, starts the completion thread, then files every kept data segment from
// `source` into the stream of its acknowledgement number until the source is closed or
// `stopRequested` is set. Ends with `stopRequested` and `captureRunning` clear.
//
// Timed by the datagrams' stamps, it runs the completion passes itself, one whenever the
// newest stamp has moved on by a pass period, so a file read at any speed completes its
// streams as the capture went. When the source ends by itself (the end of the file) every
// stream still open completes, as if its time-out had passed; at Stop they are discarded.
void runFileCapture(CaptureSource& source, const SettingsRecord& settings, StreamTable& table,
                    FileSnifferState& state, const FileCaptureHooks& hooks);

// The message for a segment that could not be stored for lack of memory.
UserMessage segmentAllocationMessage(const SegmentFilingResult& filing);

}  // namespace qhs
