#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>

namespace qhs {

// One thread of work that can be asked to stop: the one way the core runs work off its
// caller's thread. The work may take a std::stop_token; pauses made with pause() end at once
// when a stop is asked for. The thread is always joined, by stop(), by the next start() or by
// the destructor; nothing is ever detached.
class WorkerThread {
  public:
    WorkerThread() = default;
    ~WorkerThread() { stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `work` (called with the thread's stop token when it takes one). The thread of an
    // earlier start must have ended or been asked to end; it is joined first.
    template <typename Work>
    void start(Work&& work) {
        join();
        thread_ = std::jthread(std::forward<Work>(work));
    }
    void requestStop() { thread_.request_stop(); }
    // Asks the work to stop and waits for it to end.
    void stop() {
        requestStop();
        join();
    }
    void join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // Started and not yet joined.
    bool started() const { return thread_.joinable(); }

    // Sleeps for `duration` unless a stop is asked for first; false when one was.
    static bool pause(std::stop_token stop, std::chrono::nanoseconds duration) {
        std::mutex mutex;
        std::condition_variable_any woken;
        std::unique_lock<std::mutex> lock(mutex);
        woken.wait_for(lock, stop, duration, [] { return false; });
        return !stop.stop_requested();
    }

  private:
    std::jthread thread_;
};

}  // namespace qhs
