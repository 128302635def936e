#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/ProcessClock.h"
#include "app/Templates.h"
#include "capture/PacketCapture.h"
#include "packetmode/PacketLogger.h"
#include "packetmode/TestStore.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "support/ThreadWaits.h"

namespace qhs {

struct PacketTableTestAccess {
    static const std::mutex& guard(const PacketTable& table) { return table.busy_; }
};

namespace {

class PacketLoggerTest : public testing::Test {
  protected:
    PacketLoggerTest() {
        settings.autoLog = 1;
        settings.logIntervalSeconds = 60;
        setTextField(settings.logFilePath, logPath());
        setTextField(settings.dateTimeTemplate, "%H24:%MN");
        published.replace(settings);
    }
    ~PacketLoggerTest() override {
        closeBox.set_value();
        logger.stop();
    }

    std::string logPath() const { return (dir.path() / "packets.log").string(); }
    std::size_t logged(std::string_view time) const {
        const std::string log = test::readFile(logPath());
        std::size_t count = 0;
        for (auto at = log.find(time); at != std::string::npos; at = log.find(time, at + 1)) {
            ++count;
        }
        return count;
    }
    void storePackets(int count, std::string_view time) {
        PacketTable::Access held = table->lock();
        for (int i = 0; i < count; ++i) {
            test::storeDatagram(held.store(), test::udpDatagram(1, 9, ""), time);
        }
    }
    void clearList() {
        // A clear time of its own, as any real Clear has: the clock has moved on since the last.
        while (processClockMs() <= table->lastClearTime()) {
            std::this_thread::yield();
        }
        PacketTable::Access held = table->lock();
        held.store().freeAllSlots();
        held.store().markCleared();
    }

    TempDir dir;
    SettingsRecord settings = defaultSettings();
    // What the logger reads; published again after each change, as the window does.
    PublishedSettings published{settings};
    PacketSnifferState state;
    std::unique_ptr<PacketTable> table = std::make_unique<PacketTable>();
    // Error boxes stay open until the test closes them.
    std::vector<UserMessage> boxes;
    std::promise<void> closeBox;
    std::shared_future<void> boxClosed = closeBox.get_future().share();
    PacketLogger logger{state, *table, published, [this](const UserMessage& message) {
                            boxes.push_back(message);
                            boxClosed.wait();
                        }};
};

TEST_F(PacketLoggerTest, PassesAppendOnlyNewSlotsAndLeaveTheFileAloneWhenNothingIsNew) {
    logger.logNewPackets();  // empty store
    EXPECT_FALSE(std::filesystem::exists(logPath()));
    test::writeFile(logPath(), "earlier run");
    storePackets(3, "[first]");
    logger.logNewPackets();
    storePackets(10, "[second]");
    logger.logNewPackets();
    EXPECT_TRUE(test::readFile(logPath()).starts_with("earlier run\r\n UDP   28"));
    EXPECT_EQ(logged("[first]"), 3u);
    EXPECT_EQ(logged("[second]"), 10u);

    std::filesystem::remove(logPath());
    logger.logNewPackets();
    EXPECT_FALSE(std::filesystem::exists(logPath()));
}

TEST_F(PacketLoggerTest, AfterAClearLoggingStartsAgainAtSlotZeroEvenPastAFailedOpen) {
    storePackets(3, "[before]");
    logger.logNewPackets();
    clearList();
    storePackets(3, "[after]");  // the same count as before the clear
    logger.logNewPackets();
    EXPECT_EQ(logged("[after]"), 3u);

    clearList();
    storePackets(2, "[again]");
    setTextField(settings.logFilePath, (dir.path() / "missing" / "x.log").string());
    published.replace(settings);
    logger.logNewPackets();
    setTextField(settings.logFilePath, logPath());
    published.replace(settings);
    logger.logNewPackets();
    EXPECT_EQ(logged("[again]"), 2u);
    EXPECT_EQ(logged("[before]"), 3u);
}

TEST_F(PacketLoggerTest, ClearLogsWhatNoPassHasYetAndThePassAfterItLogsEachNewPacketOnce) {
    storePackets(3, "[before]");
    logger.logNewPackets();
    storePackets(4, "[unlogged]");  // stored since the last pass
    ClearHooks hooks;
    hooks.whileGuarded = [this](const PacketStore& store) { logger.logBeforeClear(store, true); };
    // Capture and a log pass go on as soon as the Clear lets the guard go.
    hooks.afterFree = [this] {
        storePackets(5, "[after]");
        logger.logNewPackets();
    };
    clearPackets(*table, hooks);
    logger.logNewPackets();
    EXPECT_EQ(logged("[before]"), 3u);
    EXPECT_EQ(logged("[unlogged]"), 4u);
    EXPECT_EQ(logged("[after]"), 5u);

    // With logging off, a Clear writes nothing.
    settings.autoLog = 0;
    published.replace(settings);
    storePackets(2, "[off]");
    clearPackets(*table, hooks);
    EXPECT_EQ(logged("[off]"), 0u);
}

TEST_F(PacketLoggerTest, UnopenableLogPathIsSkippedSilentlyAndTriedAgain) {
    storePackets(2, "[t]");
    for (const std::string& path :
         {(dir.path() / "missing" / "x.log").string(), dir.path().string(), std::string()}) {
        setTextField(settings.logFilePath, path);
        published.replace(settings);
        logger.logNewPackets();
        EXPECT_EQ(logger.loggedCount(), 0) << path;
    }
    setTextField(settings.logFilePath, logPath());
    published.replace(settings);
    logger.logNewPackets();
    EXPECT_EQ(logged("[t]"), 2u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PacketLoggerTest, FailedWritesShowOneBoxWhileItIsOpen) {
    setTextField(settings.logFilePath, "/dev/full");
    published.replace(settings);
    for (int pass = 0; pass < 3; ++pass) {
        storePackets(1, "[t]");
        logger.logNewPackets();
        EXPECT_TRUE(eventually([&] { return logger.errorBoxOpen(); })) << pass;
    }
    EXPECT_EQ(logger.loggedCount(), 3);
    closeBox.set_value();
    closeBox = {};  // the fixture's own close at the end goes to a fresh promise
    logger.stop();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error while writing to file");
    EXPECT_TRUE(boxes[0].text.ends_with("  /dev/full\r\nWindows reports that the disk is full."));
}

TEST_F(PacketLoggerTest, PassWaitsForTheListGuard) {
    storePackets(2, "[t]");
    PacketTable::Access guard = table->lock();
    std::atomic<pid_t> passThread{0};
    std::thread pass([&] {
        passThread = currentThreadId();
        logger.logNewPackets();
    });
    EXPECT_TRUE(eventually([&] {
        return passThread != 0 && waitsForMutex(passThread, PacketTableTestAccess::guard(*table));
    }));
    EXPECT_FALSE(std::filesystem::exists(logPath()));
    guard.unlock();
    pass.join();
    EXPECT_EQ(logged("[t]"), 2u);
}

TEST_F(PacketLoggerTest, ThreadLogsAtOnceForIntervalsOfZeroOrLessAndStopsDuringLongOnes) {
    for (const std::int32_t interval : {0, -5, INT32_MIN}) {
        settings.logIntervalSeconds = interval;
        published.replace(settings);
        storePackets(1, "[t]");
        logger.start();
        const bool done = eventually([&] {
            const PacketTable::Access held = table->lock();
            return logger.loggedCount() == held.store().storedCount();
        });
        logger.stop();
        EXPECT_TRUE(done) << interval;
    }
    settings.logIntervalSeconds = INT32_MAX;
    published.replace(settings);
    storePackets(1, "[t]");
    const std::set<pid_t> threadsBefore = threadsOfThisProcess();
    logger.start();
    // Stopped once its thread pauses in the long interval (a pause waits on a futex).
    EXPECT_TRUE(eventually([&] {
        for (const pid_t thread : threadsOfThisProcess()) {
            if (threadsBefore.count(thread) == 0 && blockedInSystemCall(thread, {SYS_futex})) {
                return true;
            }
        }
        return false;
    }));
    logger.stop();  // a wait that ignored stop() would hang here until the test times out
    EXPECT_EQ(logged("[t]"), 3u);
}

}  // namespace
}  // namespace qhs
