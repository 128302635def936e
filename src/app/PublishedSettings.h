#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "app/SettingsRecord.h"

namespace qhs {

// The settings record as worker threads see it. The window thread edits its own record and
// publishes a whole copy after every change; a worker reads the latest copy, never a field
// that a dialog is half way through writing.
class PublishedSettings {
  public:
    explicit PublishedSettings(const SettingsRecord& record) { publish(record); }

    // Window thread: makes a copy of `record` the latest.
    void publish(const SettingsRecord& record);
    // Any thread: the latest copy, which stays whole for as long as it is held.
    std::shared_ptr<const SettingsRecord> latest() const;
    std::uint64_t version() const { return version_.load(std::memory_order_acquire); }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const SettingsRecord> latest_;
    std::atomic<std::uint64_t> version_{0};
};

// One worker's hold on the published settings: get() costs one atomic load unless a new
// copy was published since, so the capture thread may call it for every datagram.
class SettingsView {
  public:
    explicit SettingsView(const PublishedSettings& published) : published_(published) {}
    const SettingsRecord& get() {
        const std::uint64_t version = published_.version();
        if (!held_ || version != heldVersion_) {
            heldVersion_ = version;
            held_ = published_.latest();
        }
        return *held_;
    }

  private:
    const PublishedSettings& published_;
    std::shared_ptr<const SettingsRecord> held_;
    std::uint64_t heldVersion_ = 0;
};

}  // namespace qhs
