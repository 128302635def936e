#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "app/PublishedSettings.h"
#include "filemode/StreamFile.h"
#include "filemode/WorkerMessages.h"

namespace qhs {

// Run-time state shared by the File Sniffer window and its two worker threads.
class FileSnifferState {
  public:
    std::atomic<bool> captureRunning{false};    // set by Start, cleared by the capture thread
    std::atomic<bool> stopRequested{false};     // set by Stop, cleared by the capture thread
    std::atomic<bool> completerRunning{false};  // the completion thread exists
    // The number in the window's time-out field, read by every completion pass.
    std::atomic<std::int32_t> currentAckTimeoutMs{10000};
    WorkerMessages messages;
    // Told of every file written, on the completion thread; may be unset. Set before Start.
    std::function<void(const WrittenFile& file)> fileWritten;
    // Told of every stream to be stored whose file could not be written, on the completion
    // thread, with what failed (the folder or the file) and the system's error; may be unset.
    // When set, the write error's message is not shown: the client reports it. Set before
    // Start.
    std::function<void(const std::string& where, int error)> fileNotWritten;
    // Told, on the capture thread, when the source failed (its interface disappeared or went
    // down), with the error; may be unset. Set before Start.
    std::function<void(long errorCode)> captureLost;

    // The file output settings in force for the next file. The directory and the name
    // templates may change while capture runs; the rest is fixed at Start.
    StreamFileSettings outputSettings() const {
        std::lock_guard<std::mutex> lock(mutex_);
        StreamFileSettings output = output_;
        if (templatesFrom_ != nullptr) {
            const std::shared_ptr<const SettingsRecord> record = templatesFrom_->latest();
            output.fileNameTemplate = textField(record->fileNameTemplate);
            output.dateTimeTemplate = textField(record->dateTimeTemplate);
        }
        return output;
    }
    // Takes the name templates from the run's settings for each file, so a change of them
    // holds from the next file written. Set before Start.
    void followNameTemplates(const PublishedSettings& settings) {
        std::lock_guard<std::mutex> lock(mutex_);
        templatesFrom_ = &settings;
    }
    void setOutputSettings(StreamFileSettings settings) {
        std::lock_guard<std::mutex> lock(mutex_);
        output_ = std::move(settings);
    }
    void setTlsKeyLogFile(std::string path) {
        std::lock_guard<std::mutex> lock(mutex_);
        tlsKeyLogFile_ = std::move(path);
    }
    std::string tlsKeyLogFile() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return tlsKeyLogFile_;
    }
    void setOutputDirectory(std::string directory) {
        std::lock_guard<std::mutex> lock(mutex_);
        output_.directory = std::move(directory);
    }

    // Completion thread: sleeps for `period`; false when capture ended meanwhile.
    bool sleepWhileCapturing(std::chrono::milliseconds period) {
        std::unique_lock<std::mutex> lock(mutex_);
        return !captureEnded_.wait_for(lock, period, [&] { return !captureRunning.load(); });
    }
    // Capture thread, at its end: clears `stopRequested` and `captureRunning` and wakes
    // the completion thread.
    void endCapture() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopRequested.store(false);
            captureRunning.store(false);
        }
        captureEnded_.notify_all();
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable captureEnded_;
    StreamFileSettings output_;
    const PublishedSettings* templatesFrom_ = nullptr;
    std::string tlsKeyLogFile_;
};

}  // namespace qhs
