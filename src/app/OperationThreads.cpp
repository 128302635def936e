#include "app/OperationThreads.h"

#include "app/WindowThread.h"

namespace qhs {

OperationThreads::~OperationThreads() {
    waitForAll();
}

void OperationThreads::start(std::function<void()> work) {
    const auto thread = threads_.emplace(threads_.end());
    // The join is queued from the thread's last step, so it cannot run before this function
    // has stored the thread: both run on the window's thread.
    *thread = std::jthread([this, thread, work = std::move(work)] {
        work();
        postToWindowThread(this, [this, thread] {
            thread->join();
            threads_.erase(thread);
            emit threadEnded();
        });
    });
}

void OperationThreads::waitUntil(const std::function<bool()>& done,
                                 std::chrono::milliseconds recheck) {
    serveEventsUntil(done, recheck, this, &OperationThreads::threadEnded);
}

}  // namespace qhs
