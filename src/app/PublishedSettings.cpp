#include "app/PublishedSettings.h"

namespace qhs {

void PublishedSettings::publish() {
    auto copy = std::make_shared<const SettingsRecord>(record_);
    std::lock_guard<std::mutex> lock(mutex_);
    latest_ = std::move(copy);
    version_.fetch_add(1, std::memory_order_release);
}

std::shared_ptr<const SettingsRecord> PublishedSettings::latest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

}  // namespace qhs
