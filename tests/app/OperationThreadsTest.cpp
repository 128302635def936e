#include <gtest/gtest.h>

#include <QObject>
#include <QThread>
#include <atomic>

#include "app/OperationThreads.h"
#include "app/WindowThread.h"

namespace qhs {
namespace {

// Workers that need the window thread while it waits for them: the wait must serve them (else
// it never ends) and leave no thread behind, and their calls must run on the window thread.
TEST(OperationThreads, WaitServesWorkersThatCallTheWindowAndJoinsEachAsItEnds) {
    QObject window;
    OperationThreads threads;
    std::atomic<int> onWindowThread{0};
    for (int i = 0; i < 3; ++i) {
        threads.start([&] {
            const QThread* ranOn =
                callOnWindowThread(&window, [] { return QThread::currentThread(); });
            if (ranOn == window.thread()) {
                ++onWindowThread;
            }
            postToWindowThread(&window, [&] { ++onWindowThread; });
        });
    }
    EXPECT_EQ(threads.running(), 3);
    threads.waitForAll();
    EXPECT_EQ(threads.running(), 0);
    EXPECT_EQ(onWindowThread.load(), 6)
        << "posted calls run before the end of the thread that posted them";

    bool released = false;
    threads.start([&] { callOnWindowThread(&window, [&] { released = true; }); });
    threads.waitUntil([&] { return released; });
    EXPECT_TRUE(released);
}

}  // namespace
}  // namespace qhs
