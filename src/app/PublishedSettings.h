#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "app/SettingsRecord.h"

namespace qhs {

// The run's one settings record and the only way to change it. The thread that changes it
// (the window thread) reads it through current(); every change() publishes a whole copy
// before it returns, so a worker that reads latest() never sees a record that misses a
// change, nor a field that a dialog is half way through writing.
class PublishedSettings {
  public:
    PublishedSettings() : PublishedSettings(defaultSettings()) {}
    explicit PublishedSettings(const SettingsRecord& record) : record_(record) { publish(); }
    PublishedSettings(const PublishedSettings&) = delete;
    PublishedSettings& operator=(const PublishedSettings&) = delete;

    // The changing thread: the record as it stands.
    const SettingsRecord& current() const { return record_; }
    // The changing thread: applies `edit` to the record and publishes the result.
    template <typename Edit>
    void change(Edit&& edit) {
        edit(record_);
        publish();
    }
    void replace(const SettingsRecord& record) {
        change([&record](SettingsRecord& held) { held = record; });
    }

    // Any thread: the latest copy, which stays whole for as long as it is held.
    std::shared_ptr<const SettingsRecord> latest() const;
    std::uint64_t version() const { return version_.load(std::memory_order_acquire); }

  private:
    void publish();

    SettingsRecord record_;
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
