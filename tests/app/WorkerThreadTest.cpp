#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/WorkerThread.h"

namespace qhs {
namespace {

using namespace std::chrono_literals;

// A pause of an hour must end as soon as a stop is asked for: were it a plain sleep, stop()
// would hang and the test would run out of time.
TEST(WorkerThread, StopEndsAPauseAtOnceAndJoinsAndTheWorkerCanStartAgain) {
    WorkerThread worker;
    std::atomic<int> pausesCut{0};
    std::atomic<bool> pausing{false};
    auto work = [&](std::stop_token stop) {
        pausing = true;
        if (!WorkerThread::pause(stop, 1h)) {
            ++pausesCut;
        }
    };
    worker.start(work);
    while (!pausing.load()) {
        std::this_thread::yield();
    }
    worker.stop();
    EXPECT_FALSE(worker.started());
    EXPECT_EQ(pausesCut.load(), 1);

    pausing = false;
    worker.start(work);
    EXPECT_TRUE(worker.started());
    worker.stop();
    EXPECT_EQ(pausesCut.load(), 2);

    // Without a stop, a pause runs its length and says so.
    worker.start([&](std::stop_token stop) { pausing = WorkerThread::pause(stop, 1ms); });
    worker.join();
    EXPECT_TRUE(pausing.load());
}

}  // namespace
}  // namespace qhs
