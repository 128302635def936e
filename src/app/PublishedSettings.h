#pragma once

#include <cstdint>
#include <memory>

#include "app/Published.h"
#include "app/SettingsRecord.h"

namespace qhs {

// The run's one settings record and the only way to change it. The thread that changes it
// (the window thread) reads it through current(); every change() publishes a whole copy
// before it returns, so a worker that reads through a SettingsView never sees a record that
// misses a change, nor a field that a dialog is half way through writing.
class PublishedSettings {
  public:
    PublishedSettings() : PublishedSettings(defaultSettings()) {}
    explicit PublishedSettings(const SettingsRecord& record)
        : record_(record), published_(std::make_shared<const SettingsRecord>(record)) {}
    PublishedSettings(const PublishedSettings&) = delete;
    PublishedSettings& operator=(const PublishedSettings&) = delete;

    // The changing thread: the record as it stands.
    const SettingsRecord& current() const { return record_; }
    // The changing thread: applies `edit` to the record and publishes the result.
    template <typename Edit>
    void change(Edit&& edit) {
        edit(record_);
        published_.publish(std::make_shared<const SettingsRecord>(record_));
    }
    void replace(const SettingsRecord& record) {
        change([&record](SettingsRecord& held) { held = record; });
    }

    // Any thread: the copies as they are published.
    const Published<SettingsRecord>& published() const { return published_; }
    std::shared_ptr<const SettingsRecord> latest() const { return published_.latest(); }
    std::uint64_t version() const { return published_.version(); }

  private:
    SettingsRecord record_;
    Published<SettingsRecord> published_;
};

// One worker's hold on the published settings.
class SettingsView : public PublishedView<SettingsRecord> {
  public:
    explicit SettingsView(const PublishedSettings& settings)
        : PublishedView<SettingsRecord>(settings.published()) {}
};

}  // namespace qhs
