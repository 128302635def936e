#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/CaptureSource.h"

namespace qhs {

// A capture source fed by the test: receive() hands out queued datagrams and blocks while
// none are queued, until close(). For logic that needs no real socket.
class QueuedCaptureSource : public CaptureSource {
  public:
    OpenOutcome opening;                    // what open() reports
    std::atomic<std::uint64_t> dropped{0};  // what droppedCount() reports

    void push(std::vector<std::uint8_t> datagram) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(datagram));
        }
        changed_.notify_all();
    }
    // Waits until every queued datagram has been taken.
    void waitUntilDrained() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return queue_.empty() || closed_; });
    }
    // Waits until the reader has taken every queued datagram and asks for the next, so it is
    // done with all it took; or until closed. False when that does not happen in time.
    bool waitUntilHandled(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(
            lock, limit, [&] { return (queue_.empty() && readersWaiting_ > 0) || closed_; });
    }
    bool closed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_;
    }

    OpenOutcome open(const CaptureOptions& options) override {
        openedWith = options;
        return opening;
    }
    ReceiveResult receive(const DatagramVisitor& visit) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++readersWaiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !queue_.empty() || closed_; });
        --readersWaiting_;
        if (closed_) {
            return {false, 0, 0};
        }
        std::vector<std::uint8_t> datagram = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all();
        // The datagram is gone from the queue, so it is looked at outside the lock.
        lock.unlock();
        visit(datagram.data(), datagram.size());
        return {true, datagram.size(), 0};
    }
    std::uint64_t droppedCount() const override { return dropped.load(); }
    CaptureOptions openedWith;
    void close() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        changed_.notify_all();
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> queue_;
    bool closed_ = false;
    int readersWaiting_ = 0;
};

// The source a window under test opened last, through openQueuedSource as its source factory,
// so the test can push datagrams to it.
inline QueuedCaptureSource* lastQueuedSource = nullptr;
inline std::unique_ptr<CaptureSource> openQueuedSource() {
    auto made = std::make_unique<QueuedCaptureSource>();
    lastQueuedSource = made.get();
    return made;
}

}  // namespace qhs
