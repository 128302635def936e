#pragma once

#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <type_traits>
#include <utility>

namespace qhs {

// The one way worker threads reach a window: work that touches controls runs on the thread
// of the window (`context`), never on the worker.

// Runs `work` on the window's thread and returns its result; on that thread itself it runs
// at once. The worker waits until it has run, so `work` may refer to the worker's locals.
template <typename Work>
auto callOnWindowThread(QObject* context, Work&& work) -> std::invoke_result_t<Work&> {
    using Result = std::invoke_result_t<Work&>;
    if (QThread::currentThread() == context->thread()) {
        return work();
    }
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            context, [&work] { work(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            context, [&result, &work] { result = work(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// Queues `work` for the window's thread and returns at once; `work` must own what it uses.
template <typename Work>
void postToWindowThread(QObject* context, Work&& work) {
    QMetaObject::invokeMethod(context, std::forward<Work>(work), Qt::QueuedConnection);
}

// Progress that a worker reports often, shown by a control of the window: the control is
// updated at most once a frame (about 20 ms) with the latest value, so a save that reports
// every 20 packets does not have the window repaint 50,000 times for a million of them.
class ProgressRelay {
  public:
    static constexpr std::chrono::milliseconds FrameInterval{20};

    ProgressRelay(QObject* window, std::function<void(int value)> show)
        : window_(window), show_(std::move(show)) {}

    // Any thread.
    void report(int value) {
        latest_.store(value);
        if (!pending_.exchange(true)) {
            postToWindowThread(window_, [this] { showLatest(); });
        }
    }

  private:
    // Window thread. Reports until the next frame only update the value; the frame shows the
    // latest of them, if any came.
    void showLatest() {
        const int shown = latest_.load();
        show_(shown);
        QTimer::singleShot(FrameInterval, window_, [this, shown] {
            pending_.store(false);
            if (latest_.load() != shown && !pending_.exchange(true)) {
                showLatest();
            }
        });
    }

    QObject* window_;
    std::function<void(int)> show_;
    std::atomic<int> latest_{0};
    std::atomic<bool> pending_{false};
};

// Keeps serving the window's events until `done()` holds, sleeping while there are none
// (`done` is looked at again every `recheck` and after `wake`, if given, emits `ended`). For
// waits on workers that may themselves be waiting for this thread: they are served meanwhile.
template <typename Done, typename Waker = QObject, typename Ended = std::nullptr_t>
void serveEventsUntil(Done done, std::chrono::milliseconds recheck = std::chrono::milliseconds(5),
                      const Waker* wake = nullptr, Ended ended = nullptr) {
    if (done()) {
        return;
    }
    QEventLoop loop;
    const auto look = [&] {
        if (done()) {
            loop.quit();
        }
    };
    QTimer check;
    check.setInterval(recheck);
    QObject::connect(&check, &QTimer::timeout, &loop, look);
    if constexpr (!std::is_same_v<Ended, std::nullptr_t>) {
        QObject::connect(wake, ended, &loop, look);
    }
    check.start();
    loop.exec();
}

}  // namespace qhs
