#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "capture/CaptureSource.h"

namespace qhs {

// A capture source fed by the test: receive() hands out queued datagrams and blocks while
// none are queued, until close(). For logic that needs no real socket.
class QueuedCaptureSource : public CaptureSource {
  public:
    BindStatus bindStatus = BindStatus::Bound;
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
    bool closed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_;
    }

    long createSocket() override { return 0; }
    BindResult bindToInterface(const std::string&) override { return {bindStatus, 0}; }
    void setLargeReceiveBuffer() override {}
    ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity) override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !queue_.empty() || closed_; });
        if (closed_) {
            return {false, 0, 0};
        }
        std::vector<std::uint8_t> datagram = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all();
        const std::size_t length = datagram.size() < capacity ? datagram.size() : capacity;
        if (length > 0) {
            std::memcpy(buffer, datagram.data(), length);
        }
        return {true, length, 0};
    }
    std::uint64_t droppedCount() const override { return dropped.load(); }
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
};

// An IPv4 datagram with a 20-byte header, for tests.
inline std::vector<std::uint8_t> makeDatagram(std::uint8_t protocol, std::size_t length,
                                              std::uint16_t sourcePort = 0,
                                              std::uint16_t destinationPort = 0) {
    std::vector<std::uint8_t> bytes(length, 0);
    if (length >= 20) {
        bytes[0] = 0x45;
        bytes[2] = static_cast<std::uint8_t>(length >> 8);
        bytes[3] = static_cast<std::uint8_t>(length);
        bytes[8] = 64;
        bytes[9] = protocol;
        const std::uint8_t source[4] = {10, 0, 0, 1};
        const std::uint8_t destination[4] = {10, 0, 0, 2};
        std::memcpy(&bytes[12], source, 4);
        std::memcpy(&bytes[16], destination, 4);
    }
    if (length >= 24) {
        bytes[20] = static_cast<std::uint8_t>(sourcePort >> 8);
        bytes[21] = static_cast<std::uint8_t>(sourcePort);
        bytes[22] = static_cast<std::uint8_t>(destinationPort >> 8);
        bytes[23] = static_cast<std::uint8_t>(destinationPort);
    }
    if (protocol == 6 && length >= 33) {
        bytes[32] = 0x50;  // a 20-byte TCP header
    }
    return bytes;
}

}  // namespace qhs
