#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "app/UserMessage.h"

namespace qhs {

// Message boxes of worker threads. A worker posts its message and waits, as a modal box
// would hold it, until the window has shown and dismissed it. The window takes messages
// one at a time from its timer, so it never blocks on a worker and a worker never waits
// for the window's thread; release() ends every wait at Stop, so threads can be joined.
// A client without a window takes each message as it comes instead (deliverTo).
class WorkerMessages {
  public:
    // Without a window nobody would dismiss a box: every message from now on goes to
    // `receiver` on the worker's thread, and show() and post() return at once. Set before
    // the workers start; empty restores the queue.
    void deliverTo(std::function<void(const UserMessage&)> receiver);

    // Worker side: queues the message and returns when it is dismissed or released.
    void show(UserMessage message);

    // Worker side, for a worker that must not stop (the capture thread, whose every wait
    // loses packets): queues the message unless another is waiting or shown, and returns at
    // once. Whether it was queued.
    bool post(UserMessage message);

    // Window side: the oldest waiting message, unless one taken earlier is still shown.
    std::optional<UserMessage> takeNext();
    // The message taken last has been dismissed; its worker goes on.
    void dismiss();

    // Ends every wait, now and until reopen(); messages stay queued for the window.
    void release();
    void reopen();

    std::size_t waitingCount() const;

  private:
    struct Entry {
        std::uint64_t id;
        UserMessage message;
    };

    mutable std::mutex mutex_;
    std::condition_variable dismissed_;
    std::deque<Entry> queue_;
    std::optional<std::uint64_t> shown_;
    std::uint64_t nextId_ = 0;
    bool released_ = false;
    std::function<void(const UserMessage&)> receiver_;
};

}  // namespace qhs
