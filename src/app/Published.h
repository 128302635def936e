#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qhs {

// A value handed whole from the thread that makes it to threads that read it: publish()
// replaces it, and a reader keeps the copy it took for as long as it holds it, so it never
// sees half of a change. A reader notices a newer copy with one atomic load (PublishedView).
template <typename Value>
class Published {
  public:
    explicit Published(std::shared_ptr<const Value> first) { publish(std::move(first)); }
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    void publish(std::shared_ptr<const Value> value) {
        std::lock_guard lock(mutex_);
        latest_.swap(value);
        version_.fetch_add(1, std::memory_order_release);
        // The replaced copy, unless a reader still holds it, is freed after the unlock.
    }
    std::shared_ptr<const Value> latest() const {
        std::lock_guard lock(mutex_);
        return latest_;
    }
    std::uint64_t version() const { return version_.load(std::memory_order_acquire); }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Value> latest_;
    std::atomic<std::uint64_t> version_{0};
};

// One reader's hold on a published value: get() costs one atomic load unless a newer copy
// was published since, so a capture thread may call it for every datagram.
template <typename Value>
class PublishedView {
  public:
    explicit PublishedView(const Published<Value>& published) : published_(published) {}
    const Value& get() {
        const std::uint64_t version = published_.version();
        if (!held_ || version != heldVersion_) {
            // Taken after the version: at worst a newer copy under an older number, which
            // the next call takes again.
            std::shared_ptr<const Value> previous = std::move(held_);
            heldVersion_ = version;
            held_ = published_.latest();
        }
        return *held_;
    }

  private:
    const Published<Value>& published_;
    std::shared_ptr<const Value> held_;
    std::uint64_t heldVersion_ = 0;
};

}  // namespace qhs
