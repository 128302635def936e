#include "filemode/FileCaptureLoop.h"

#include <chrono>
#include <thread>

#include "app/ProcessClock.h"
#include "filemode/FileSegmentFilter.h"

namespace qhs {

namespace {

// What a stream may hold beyond "Maximum file size" for its HTTP headers before it stops
// collecting (retransmitted data counts again, so this leaves room for that too).
constexpr std::uint64_t MaximumHeaderAllowance = std::uint64_t{1} << 20;

// Pause after a failed receive, so a source that keeps failing does not spin a core.
constexpr std::chrono::milliseconds FailedReceivePause{10};

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

    // The datagram is looked at where the source holds it and copied once, into its stream.
    const DatagramVisitor fileDatagram = [&](const std::uint8_t* datagram, std::size_t received) {
        const std::size_t length = datagramLength(datagram, received);
        // No IPv4 datagram is longer than its 16-bit total length can say.
        if (length > 0xFFFF || !filter.accepts(datagram, length)) {
            return;
        }
        const std::int64_t now =
            hooks.clock ? hooks.clock() : static_cast<std::int64_t>(processClockMs());
        const SegmentFilingResult filing = table.fileSegment(
            streamKeyOf(datagram), datagram, static_cast<std::uint16_t>(length), now);
        if (filing.outcome == SegmentFiling::DataAllocationFailed) {
            // The segment is dropped; capture goes on while the box is up.
            state.messages.post(segmentAllocationMessage(filing));
        }
    };
    while (!state.stopRequested.load()) {
        const ReceiveResult received = source.receive(fileDatagram);
        if (received.ok) {
            continue;
        }
        // Closed by Stop, or gone with its interface: the capture ends and shows as stopped.
        if (!isPassingReceiveFailure(received.errorCode)) {
            break;
        }
        std::this_thread::sleep_for(FailedReceivePause);
    }
    state.endCapture();
    setStatus(hooks, FileStatusStopped);
}

}  // namespace qhs
