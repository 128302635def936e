#include "platform/StopSignals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <thread>

namespace qhs {

namespace {

// The signal that only tells the watcher to end.
constexpr int WakeSignal = SIGUSR1;

sigset_t watchedSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, WakeSignal);
    return signals;
}

class StopWatcher {
  public:
    StopWatcher(std::function<void()> stop, std::uint32_t seconds)
        : thread_([this, stop = std::move(stop), seconds] { watch(stop, seconds); }) {}
    ~StopWatcher() {
        ending_.store(true);
        ::pthread_kill(thread_.native_handle(), WakeSignal);
        thread_.join();
    }
    StopWatcher(const StopWatcher&) = delete;
    StopWatcher& operator=(const StopWatcher&) = delete;

  private:
    void watch(const std::function<void()>& stop, std::uint32_t seconds) {
        const sigset_t signals = watchedSignals();
        timespec deadline{};
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += seconds;
        while (!ending_.load()) {
            int taken = 0;
            if (seconds == 0) {
                if (::sigwait(&signals, &taken) != 0) {
                    continue;
                }
            } else {
                timespec now{};
                ::clock_gettime(CLOCK_MONOTONIC, &now);
                timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
                if (left.tv_nsec < 0) {
                    left.tv_nsec += 1000000000;
                    --left.tv_sec;
                }
                if (left.tv_sec < 0) {
                    stop();
                    return;
                }
                taken = ::sigtimedwait(&signals, nullptr, &left);
                if (taken < 0) {
                    continue;  // the time is up (EAGAIN) or interrupted: look again
                }
            }
            if (taken == SIGINT || taken == SIGTERM || taken == SIGHUP) {
                stop();
                return;
            }
        }
    }

    std::atomic<bool> ending_{false};
    std::thread thread_;
};

}  // namespace

void blockStopSignals() {
    const sigset_t signals = watchedSignals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

std::shared_ptr<void> watchForStop(std::function<void()> stop, std::uint32_t seconds) {
    return std::make_shared<StopWatcher>(std::move(stop), seconds);
}

}  // namespace qhs
