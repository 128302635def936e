#include "filemode/StreamCompletion.h"

#include <chrono>
#include <optional>

#include "analysis/DatagramView.h"
#include "app/ProcessClock.h"
#include "app/Templates.h"
#include "filemode/StreamJoin.h"

namespace qhs {

namespace {

// Joins and writes the stream that the table handed over, then frees its slot. A message
// is shown only after the slot is free, so a pending box holds no stream's memory.
void completeStream(StreamTable& table, FileSnifferState& state,
                    const std::optional<LocalTime>& completedAt) {
    std::optional<UserMessage> message;
    if (const SegmentNode* first = table.completingStream()) {
        const JoinedStream joined =
            joinStream(first, [&table](std::size_t bytes) { return table.memoryAllows(bytes); });
        if (!joined.allocated()) {
            message = joinAllocationMessage(joined.length);
        } else {
            const DatagramView sent(first->data, first->length);
            message = reportStreamFile(
                table, state,
                writeStreamFile(joined.data(), *first, state.outputSettings(), completedAt),
                {sent.sourceAddressText(), sent.sourcePort(), sent.destinationAddressText(),
                 sent.destinationPort()});
        }
    }
    table.finishCompleting();
    if (message) {
        state.messages.show(std::move(*message));
    }
}

}  // namespace

std::optional<LocalTime> completionTime(std::int64_t now, FileCaptureClock clock) {
    if (clock != FileCaptureClock::DatagramStamps) {
        return std::nullopt;
    }
    return localTimeAt(std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::milliseconds(now))));
}

std::optional<UserMessage> reportStreamFile(StreamTable& table, FileSnifferState& state,
                                            StreamFileResult result, const StreamEnds& ends) {
    const bool incomplete = result.outcome == StreamFileOutcome::WrittenIncomplete;
    if (result.outcome == StreamFileOutcome::Written) {
        table.countFileWritten();
    } else if (incomplete) {
        table.countIncompleteFile();
    }
    if ((incomplete || result.outcome == StreamFileOutcome::Written) && state.fileWritten) {
        WrittenFile file;
        file.path = result.path;
        file.size = result.size;
        file.incomplete = incomplete;
        file.clientAddress = ends.clientAddress;
        file.clientPort = ends.clientPort;
        file.serverAddress = ends.serverAddress;
        file.serverPort = ends.serverPort;
        file.contentType = std::move(result.contentType);
        state.fileWritten(file);
    }
    const bool notWritten = result.outcome == StreamFileOutcome::WriteFailed ||
                            result.outcome == StreamFileOutcome::InvalidName;
    if (notWritten) {
        table.countFileNotWritten();
    }
    if (notWritten && state.fileNotWritten) {
        state.fileNotWritten(result.errorPath, result.error);
        return std::nullopt;
    }
    return std::move(result.message);
}

std::int32_t runCompletionPass(StreamTable& table, FileSnifferState& state, std::int64_t now,
                               FileCaptureClock clock) {
    const std::int32_t ackTimeoutMs = state.currentAckTimeoutMs.load();
    const std::optional<LocalTime> completedAt = completionTime(now, clock);
    std::int32_t count = 0;
    for (int slot = 0; slot < StreamSlotCount; ++slot) {
        switch (table.examineSlot(slot, now, ackTimeoutMs)) {
            case SlotState::Idle:
                break;
            case SlotState::Live:
                ++count;
                break;
            case SlotState::Completing:
                ++count;
                completeStream(table, state, completedAt);
                break;
        }
    }
    table.setFilesProcessing(count);
    return count;
}

void runStreamCompletion(StreamTable& table, FileSnifferState& state) {
    if (state.completerRunning.exchange(true)) {
        return;
    }
    // Stop wakes the sleep; the streams not complete by then are discarded unwritten.
    while (state.captureRunning.load() && state.sleepWhileCapturing(CompletionPassPeriod)) {
        runCompletionPass(table, state, static_cast<std::int64_t>(processClockMs()));
    }
    state.completerRunning.store(false);
}

}  // namespace qhs
