#include "filemode/FileCaptureLoop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "app/ProcessClock.h"
#include "filemode/FileSegmentFilter.h"
#include "filemode/HttpsCapture.h"

namespace qhs {

namespace {

// What a stream may hold beyond "Maximum file size" for its HTTP headers before it stops
// collecting (retransmitted data counts again, so this leaves room for that too).
constexpr std::uint64_t MaximumHeaderAllowance = std::uint64_t{1} << 20;

// Pause after a failed receive, so a source that keeps failing does not spin a core.
constexpr std::chrono::milliseconds FailedReceivePause{10};

// The clock of a capture file: the newest time stamp of its datagrams, in milliseconds
// since 1970. A stamp older than the newest (captures merged from several interfaces) does
// not turn it back.
class DatagramClock {
  public:
    // Moves on to a datagram's stamp (0: it has none); whether a completion pass is due.
    bool advance(std::int64_t arrivalNanoseconds) {
        const std::int64_t ms = arrivalNanoseconds / 1000000;
        if (arrivalNanoseconds <= 0 || ms <= newest_) {
            return false;
        }
        newest_ = ms;
        if (lastPass_ == 0) {
            lastPass_ = ms;
            return false;
        }
        if (ms - lastPass_ < CompletionPassPeriod.count()) {
            return false;
        }
        lastPass_ = ms;
        return true;
    }
    // Never 0, which marks a free stream slot.
    std::int64_t now() const { return std::max<std::int64_t>(newest_, 1); }

  private:
    std::int64_t newest_ = 0;
    std::int64_t lastPass_ = 0;
};

void setStatus(const FileCaptureHooks& hooks, const char* status) {
    if (hooks.setStatus) {
        hooks.setStatus(status);
    }
}

}  // namespace

UserMessage segmentAllocationMessage(const SegmentFilingResult& filing) {
    // The node of a segment is carved with its data, so only the data's numbers arise.
    const int number = (filing.newStream ? 2 : 0) + 1;
    UserMessage message;
    message.text =
        "Fatal memory allocation error #" + std::to_string(number) + "\r\nGet ready to crash...";
    return message;
}

void runFileCapture(CaptureSource& source, const SettingsRecord& settings, StreamTable& table,
                    FileSnifferState& state, const FileCaptureHooks& hooks) {
    table.clear();
    table.resetCounters();
    // A file holds at most "Maximum file size" bytes of body; its headers come on top.
    table.setStreamDataLimit(settings.fileMaxSize == 0
                                 ? 0
                                 : std::uint64_t{settings.fileMaxSize} + MaximumHeaderAllowance);
    const FileSegmentFilter filter(settings);
    if (hooks.startCompletion) {
        hooks.startCompletion();
    }
    setStatus(hooks, FileStatusRunning);

    const auto fileKept = [&](const std::uint8_t* datagram, std::size_t length, std::int64_t now) {
        const SegmentFilingResult filing = table.fileSegment(
            streamKeyOf(datagram, length), datagram, static_cast<std::uint32_t>(length), now);
        if (filing.outcome == SegmentFiling::DataAllocationFailed) {
            // The segment is dropped; capture goes on while the box is up.
            state.messages.post(segmentAllocationMessage(filing));
        }
    };
    // Whether the datagram is a segment to keep. One whose total length field is 0 (a
    // segment larger than 64 KiB, as Linux sends it) is kept whole, as far as it was captured.
    const auto keptLength = [&](const std::uint8_t* datagram, std::size_t received) {
        const std::size_t length = datagramLength(datagram, received);
        return filter.accepts(datagram, length) ? length : 0;
    };
    // The time of a datagram is known only once the source hands over its stamp, after the
    // visit: a kept segment waits in this buffer till then (which keeps its largest size).
    const bool byStamps = hooks.timedBy == FileCaptureClock::DatagramStamps;
    std::vector<std::uint8_t> waiting;
    std::size_t waitingLength = 0;
    DatagramClock stamps;

    // The segments of HTTPS connections go to their own thread, the rest into streams.
    HttpsCapture https(table, state, settings, hooks.timedBy);
    // Live, the datagram is looked at where the source holds it and copied once, into its
    // stream (or the HTTPS queue).
    const DatagramVisitor fileDatagram = [&](const std::uint8_t* datagram, std::size_t received) {
        if (byStamps) {
            waiting.assign(datagram, datagram + datagramLength(datagram, received));
            waitingLength = waiting.size();
            return;
        }
        const std::int64_t now =
            hooks.clock ? hooks.clock() : static_cast<std::int64_t>(processClockMs());
        if (https.offer(datagram, datagramLength(datagram, received), now)) {
            return;
        }
        if (const std::size_t length = keptLength(datagram, received); length > 0) {
            fileKept(datagram, length, now);
        }
    };
    bool endedBySource = false;
    while (!state.stopRequested.load()) {
        waitingLength = 0;
        const ReceiveResult received = source.receive(fileDatagram);
        if (received.ok) {
            if (byStamps) {
                if (stamps.advance(received.arrivalNanoseconds)) {
                    runCompletionPass(table, state, stamps.now(), FileCaptureClock::DatagramStamps);
                }
                if (waitingLength > 0 &&
                    !https.offer(waiting.data(), waitingLength, stamps.now())) {
                    if (const std::size_t length = keptLength(waiting.data(), waitingLength);
                        length > 0) {
                        fileKept(waiting.data(), length, stamps.now());
                    }
                }
            }
            continue;
        }
        // Closed by Stop, or gone with its interface (or at the end of its file): the capture
        // ends and shows as stopped.
        if (!isPassingReceiveFailure(received.errorCode)) {
            endedBySource = !state.stopRequested.load();
            if (endedBySource && received.errorCode != 0 && state.captureLost) {
                state.captureLost(received.errorCode);
            }
            break;
        }
        std::this_thread::sleep_for(FailedReceivePause);
    }
    if (byStamps && endedBySource) {
        https.finish();
        // Nothing more comes: each stream's time-out passes now, without being waited for.
        const std::int64_t afterEveryTimeOut =
            stamps.now() + std::max<std::int32_t>(state.currentAckTimeoutMs.load(), 0) + 1;
        runCompletionPass(table, state, afterEveryTimeOut, FileCaptureClock::DatagramStamps);
    }
    https.stop();
    state.endCapture();
    setStatus(hooks, FileStatusStopped);
}

}  // namespace qhs
