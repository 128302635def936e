#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Templates.h"
#include "packetmode/PacketLogger.h"
#include "packetmode/TestStore.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

using namespace std::chrono_literals;
using test::storeDatagram;

// The error boxes the window was asked to show. A box stays open until the test closes it.
class ErrorBoxes {
  public:
    void show(const UserMessage& message) {
        std::unique_lock<std::mutex> lock(mutex_);
        shown_.push_back(message);
        changed_.notify_all();
        changed_.wait(lock, [&] { return closedCount_ >= shown_.size(); });
    }
    void closeAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        closedCount_ = shown_.size();
        changed_.notify_all();
    }
    bool waitForCount(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return shown_.size() >= count; });
    }
    std::vector<UserMessage> shown() {
        std::lock_guard<std::mutex> lock(mutex_);
        return shown_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<UserMessage> shown_;
    std::size_t closedCount_ = 0;
};

class PacketLoggerTest : public testing::Test {
  protected:
    PacketLoggerTest() {
        settings.autoLog = 1;
        settings.logIntervalSeconds = 60;
        setTextField(settings.logFilePath, logPath());
        setTextField(settings.dateTimeTemplate, "%H24:%MN");
    }
    ~PacketLoggerTest() override {
        boxes.closeAll();
        logger.stop();
    }

    std::string logPath() const { return (dir.path() / "packets.log").string(); }
    std::string log() const { return test::readFile(logPath()); }
    void storePackets(int count, std::string_view time) {
        for (int i = 0; i < count; ++i) {
            storeDatagram(*store, test::udpDatagram(static_cast<std::uint16_t>(i), 9, ""), time);
        }
    }
    static std::size_t countOf(const std::string& text, std::string_view part) {
        std::size_t count = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + 1)) {
            ++count;
        }
        return count;
    }
    void clearList() {
        std::this_thread::sleep_for(2ms);  // a new clear time, as after any real Clear
        std::lock_guard<std::mutex> lock(state.listBusy);
        store->freeAllSlots();
        store->markCleared();
    }

    ScopedLocalTimeSource fixedTime{[] { return LocalTime{2003, 4, 3, 9, 5, 7, 42}; }};
    TempDir dir;
    SettingsRecord settings = defaultSettings();
    PacketSnifferState state;
    std::unique_ptr<PacketStore> store = std::make_unique<PacketStore>();
    ErrorBoxes boxes;
    PacketLogger logger{state, *store, settings,
                        [this](const UserMessage& message) { boxes.show(message); }};
};

TEST_F(PacketLoggerTest, PassAppendsOnlyTheSlotsStoredSinceTheLastPass) {
    test::writeFile(logPath(), "earlier run");
    storePackets(3, "first");
    logger.logNewPackets();
    storePackets(10, "second");
    logger.logNewPackets();

    const std::string content = log();
    EXPECT_TRUE(content.starts_with("earlier run\r\n UDP   28"));
    EXPECT_EQ(countOf(content, "[first]"), 3u);
    EXPECT_EQ(countOf(content, "[second]"), 10u);
    EXPECT_TRUE(content.ends_with("[second]"));
    EXPECT_EQ(logger.loggedCount(), 13);
}

TEST_F(PacketLoggerTest, NothingNewLeavesTheFileUnopened) {
    logger.logNewPackets();  // empty store
    EXPECT_FALSE(std::filesystem::exists(logPath()));
    storePackets(2, "t");
    logger.logNewPackets();
    std::filesystem::remove(logPath());
    logger.logNewPackets();
    EXPECT_FALSE(std::filesystem::exists(logPath()));
}

TEST_F(PacketLoggerTest, AfterAClearLoggingStartsAgainAtSlotZero) {
    storePackets(3, "before");
    logger.logNewPackets();
    clearList();
    storePackets(3, "after");  // the same count as before the clear
    logger.logNewPackets();
    EXPECT_EQ(countOf(log(), "[before]"), 3u);
    EXPECT_EQ(countOf(log(), "[after]"), 3u);
}

TEST_F(PacketLoggerTest, AClearMetByAFailedOpenIsStillLoggedFromSlotZero) {
    storePackets(3, "before");
    logger.logNewPackets();
    clearList();
    storePackets(2, "after");
    const std::string goodPath = logPath();
    setTextField(settings.logFilePath, (dir.path() / "missing" / "x.log").string());
    logger.logNewPackets();
    setTextField(settings.logFilePath, goodPath);
    logger.logNewPackets();
    EXPECT_EQ(countOf(log(), "[after]"), 2u);
}

TEST_F(PacketLoggerTest, HexLogRecordsBeginWithTwoBreaksAndEndWithTheBytes) {
    settings.logDataHex = 1;
    storePackets(1, "t");
    logger.logNewPackets();
    EXPECT_EQ(log(),
              "\r\n\r\n UDP   28      172.16.5.4 255.255.255.255      0     9  [t]\r\n\r\n"
              "45 00 00 1C 00 00 00 00 40 11 00 00 AC 10 05 04\r\n"
              "FF FF FF FF 00 00 00 09 00 00 00 00 ");
}

TEST_F(PacketLoggerTest, UnopenableLogPathIsSkippedSilentlyAndTriedAgain) {
    storePackets(2, "t");
    for (const std::string& path :
         {(dir.path() / "missing" / "x.log").string(), dir.path().string(), std::string()}) {
        setTextField(settings.logFilePath, path);
        logger.logNewPackets();
        EXPECT_EQ(logger.loggedCount(), 0) << path;
    }
    EXPECT_TRUE(boxes.shown().empty());
    setTextField(settings.logFilePath, logPath());
    logger.logNewPackets();
    EXPECT_EQ(countOf(log(), "[t]"), 2u);
}

TEST_F(PacketLoggerTest, FailedWritesShowOneBoxAtATime) {
    setTextField(settings.logFilePath, "/dev/full");
    storePackets(1, "t");
    logger.logNewPackets();
    ASSERT_TRUE(boxes.waitForCount(1));
    EXPECT_TRUE(logger.errorBoxOpen());
    storePackets(1, "t");
    logger.logNewPackets();  // fails while the first box is open: no second box
    EXPECT_EQ(logger.loggedCount(), 2);

    boxes.closeAll();
    for (int i = 0; i < 500 && logger.errorBoxOpen(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    storePackets(1, "t");
    logger.logNewPackets();
    ASSERT_TRUE(boxes.waitForCount(2));
    const std::vector<UserMessage> shown = boxes.shown();
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text,
              "09:05\r\n\r\nError while writing file with path:\r\n  /dev/full\r\n"
              "Windows reports that the disk is full.");
    EXPECT_EQ(shown[0].caption, "Error while writing to file");
}

TEST_F(PacketLoggerTest, PassWaitsForTheListGuard) {
    storePackets(2, "t");
    std::unique_lock<std::mutex> guard(state.listBusy);
    std::thread pass([&] { logger.logNewPackets(); });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(std::filesystem::exists(logPath()));
    guard.unlock();
    pass.join();
    EXPECT_EQ(countOf(log(), "[t]"), 2u);
}

TEST_F(PacketLoggerTest, ThreadLogsWithAnyIntervalOfZeroOrLess) {
    for (const std::int32_t interval : {0, -5, INT32_MIN}) {
        settings.logIntervalSeconds = interval;
        storePackets(1, "t");
        logger.start();
        bool logged = false;
        for (int i = 0; i < 500 && !logged; ++i) {
            std::this_thread::sleep_for(10ms);
            std::lock_guard<std::mutex> lock(state.listBusy);
            logged = logger.loggedCount() == store->storedCount();
        }
        logger.stop();
        EXPECT_TRUE(logged) << interval;
    }
    EXPECT_EQ(countOf(log(), "[t]"), 3u);
}

TEST_F(PacketLoggerTest, LongestIntervalWaitsWithoutLoggingAndStillStops) {
    settings.logIntervalSeconds = INT32_MAX;
    storePackets(1, "t");
    logger.start();
    std::this_thread::sleep_for(50ms);
    logger.stop();  // a wait that ignored stop() would hang here until the test times out
    EXPECT_FALSE(std::filesystem::exists(logPath()));
}

}  // namespace
}  // namespace qhs
