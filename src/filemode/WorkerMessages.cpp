#include "filemode/WorkerMessages.h"

#include <algorithm>

namespace qhs {

void WorkerMessages::deliverTo(std::function<void(const UserMessage&)> receiver) {
    std::lock_guard<std::mutex> lock(mutex_);
    receiver_ = std::move(receiver);
}

void WorkerMessages::show(UserMessage message) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (receiver_) {
        const std::function<void(const UserMessage&)> receiver = receiver_;
        lock.unlock();
        receiver(message);
        return;
    }
    const std::uint64_t id = nextId_++;
    queue_.push_back({id, std::move(message)});
    dismissed_.wait(lock, [&] {
        return released_ || std::none_of(queue_.begin(), queue_.end(),
                                         [&](const Entry& entry) { return entry.id == id; });
    });
}

bool WorkerMessages::post(UserMessage message) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (receiver_) {
        const std::function<void(const UserMessage&)> receiver = receiver_;
        lock.unlock();
        receiver(message);
        return true;
    }
    if (!queue_.empty() || shown_) {
        return false;
    }
    queue_.push_back({nextId_++, std::move(message)});
    return true;
}

std::optional<UserMessage> WorkerMessages::takeNext() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shown_ || queue_.empty()) {
        return std::nullopt;
    }
    shown_ = queue_.front().id;
    return queue_.front().message;
}

void WorkerMessages::dismiss() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!shown_) {
            return;
        }
        const std::uint64_t id = *shown_;
        shown_.reset();
        std::erase_if(queue_, [&](const Entry& entry) { return entry.id == id; });
    }
    dismissed_.notify_all();
}

void WorkerMessages::release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
    }
    dismissed_.notify_all();
}

void WorkerMessages::reopen() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = false;
}

std::size_t WorkerMessages::waitingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

}  // namespace qhs
