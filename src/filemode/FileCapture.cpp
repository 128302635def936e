#include "filemode/FileCapture.h"

#include "filemode/FileCaptureLoop.h"
#include "filemode/StreamCompletion.h"

namespace qhs {

FileCapture::FileCapture(SourceFactory makeSource, StatusSink setStatus,
                         std::function<void()> onWorkerThread, SlabMemory& memory)
    : makeSource_(std::move(makeSource)),
      setStatus_(std::move(setStatus)),
      onWorkerThread_(std::move(onWorkerThread)),
      table_(std::make_unique<StreamTable>(memory)) {}

FileCapture::~FileCapture() {
    stop();
}

void FileCapture::joinThreads() {
    captureThread_.join();
    // The capture thread has ended, so it no longer touches completionThread_.
    completionThread_.join();
}

FileCaptureStart FileCapture::start(const SettingsRecord& settings, FileCaptureClock timedBy) {
    if (state_.captureRunning.load()) {
        return {};
    }
    // A capture that ended by itself has left its threads to join.
    joinThreads();
    source_ = makeSource_ ? makeSource_() : nullptr;
    if (!source_) {
        return {};
    }
    FileCaptureStart started = openFileCapture(
        *source_, std::string(textField(settings.interfaceAddress)), state_.captureRunning);
    if (!started.startThread) {
        source_.reset();
        return started;
    }
    settings_ = settings;
    droppedAtStop_ = 0;
    state_.stopRequested.store(false);
    state_.setOutputSettings(streamFileSettings(settings));
    state_.messages.reopen();

    FileCaptureHooks hooks;
    hooks.setStatus = setStatus_;
    hooks.timedBy = timedBy;
    // Timed by stamps, the capture thread completes the streams itself.
    if (timedBy == FileCaptureClock::Process) {
        hooks.startCompletion = [this] {
            completionThread_.start([this] {
                if (onWorkerThread_) {
                    onWorkerThread_();
                }
                runStreamCompletion(*table_, state_);
            });
        };
    }
    captureThread_.start([this, hooks = std::move(hooks), source = source_.get()] {
        if (onWorkerThread_) {
            onWorkerThread_();
        }
        runFileCapture(*source, settings_, *table_, state_, hooks);
    });
    return started;
}

void FileCapture::stop() {
    if (source_) {
        state_.stopRequested.store(true);
        source_->close();
    }
    // A worker waiting on a message box would otherwise hold up the join.
    state_.messages.release();
    joinThreads();
    if (source_) {
        droppedAtStop_ = source_->droppedCount();
    }
    source_.reset();
    // The streams that were pending are discarded now rather than at the next Start.
    table_->clear();
}

}  // namespace qhs
