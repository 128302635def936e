#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/SettingsRecord.h"
#include "app/WorkerThread.h"
#include "capture/CaptureSocket.h"
#include "capture/CaptureSource.h"
#include "filemode/FileSnifferState.h"
#include "filemode/StreamCompletion.h"
#include "filemode/StreamTable.h"

namespace qhs {

// Start and Stop of File Sniffer Mode: one capture source, the file capture thread and
// the completion thread at a time, over one stream table. What the window needs:
//   - start() with a record holding the window's current values; show the returned
//     status text and messages;
//   - setAckTimeoutMs() on every edit of the time-out field (and once when the window
//     opens), setOutputDirectory() on every edit of the directory field, and
//     followNameTemplates() once, so the general settings' templates hold for each file;
//   - every 100 ms: filesProcessing(), filesWritten(), and messages().takeNext() to show
//     a worker's message box, then messages().dismiss() once it is closed (a client
//     without a window has them delivered at once instead: messages().deliverTo());
//   - stop() on Stop, and nothing else at closing (the destructor stops).
class FileCapture {
  public:
    using SourceFactory = std::function<std::unique_ptr<CaptureSource>()>;
    using StatusSink = std::function<void(const std::string& status)>;

    // `makeSource` opens a new source for each Start. `setStatus` gets the status line
    // texts of the threads ("Status: Running", "Status: Stopped") and must not block.
    // `onWorkerThread` runs first on each worker thread (to raise its priority).
    // Long streams are kept in large chunks of `memory`.
    explicit FileCapture(SourceFactory makeSource, StatusSink setStatus = {},
                         std::function<void()> onWorkerThread = {},
                         SlabMemory& memory = heapSlabMemory());
    ~FileCapture();
    FileCapture(const FileCapture&) = delete;
    FileCapture& operator=(const FileCapture&) = delete;

    // Does nothing while capturing. Otherwise opens a source on the record's interface
    // address and, when that works, starts the threads. Read from the record: the eight
    // address and port filters, the two switches, the two size bounds, the directory and
    // the name templates. The time-out is not read: see setAckTimeoutMs. A source that
    // reads a capture file is timed by its datagrams' stamps (see runFileCapture): its
    // streams complete as the capture went, and the capture ends with the file.
    FileCaptureStart start(const SettingsRecord& settings,
                           FileCaptureClock timedBy = FileCaptureClock::Process);
    // Closes the source and returns once both threads have ended. Streams still pending
    // are discarded unwritten; the counters keep their values until the next Start.
    void stop();

    bool captureRunning() const { return state_.captureRunning.load(); }
    std::int32_t filesProcessing() const { return table_->filesProcessing(); }
    std::int32_t filesWritten() const { return table_->filesWritten(); }
    std::int32_t incompleteFiles() const { return table_->incompleteFiles(); }
    std::int32_t filesNotWritten() const { return table_->filesNotWritten(); }
    // HTTPS connections that could not be decrypted (see StreamTable); shown only when not 0.
    std::int32_t encryptedWithoutKey() const { return table_->encryptedWithoutKey(); }
    // Datagrams the system dropped because the capture fell behind, since the last Start;
    // after Stop, the count the capture ended with. Window thread only.
    std::uint64_t droppedCount() const {
        return source_ ? source_->droppedCount() : droppedAtStop_;
    }

    void setAckTimeoutMs(std::int32_t ackTimeoutMs) {
        state_.currentAckTimeoutMs.store(ackTimeoutMs);
    }
    void setOutputDirectory(std::string directory) {
        state_.setOutputDirectory(std::move(directory));
    }
    void followNameTemplates(const PublishedSettings& settings) {
        state_.followNameTemplates(settings);
    }

    // The NSS key log (SSLKEYLOGFILE) whose secrets decrypt HTTPS downloads; empty: none.
    // Read from the next Start, and again as it grows while capture runs.
    void setTlsKeyLogFile(std::string path) { state_.setTlsKeyLogFile(std::move(path)); }

    WorkerMessages& messages() { return state_.messages; }
    // Told of every file written (see FileSnifferState::fileWritten); set before start().
    void setFileWrittenHook(std::function<void(const WrittenFile& file)> hook) {
        state_.fileWritten = std::move(hook);
    }
    // Told of every file that could not be written instead of its message (see
    // FileSnifferState::fileNotWritten); set before start().
    void setFileNotWrittenHook(std::function<void(const std::string& where, int error)> hook) {
        state_.fileNotWritten = std::move(hook);
    }
    // Told when the source failed; see FileSnifferState::captureLost.
    void setCaptureLostHook(std::function<void(long errorCode)> hook) {
        state_.captureLost = std::move(hook);
    }

  private:
    void joinThreads();

    SourceFactory makeSource_;
    StatusSink setStatus_;
    std::function<void()> onWorkerThread_;
    FileSnifferState state_;
    std::unique_ptr<StreamTable> table_;
    std::unique_ptr<CaptureSource> source_;
    SettingsRecord settings_{};
    std::uint64_t droppedAtStop_ = 0;
    WorkerThread captureThread_;
    // Started by the capture thread; joined only after the capture thread.
    WorkerThread completionThread_;
};

}  // namespace qhs
