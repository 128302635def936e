#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/Templates.h"
#include "packetmode/PacketListSave.h"
#include "packetmode/TestStore.h"
#include "support/SmallFilesystem.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

using test::storeDatagram;

const std::string Header =
    "Quillharbour Sniffer saved information:\r\n\r\n"
    "Type Size       Source IP  Destination IP  sPort dPort  Date/Time\r\n"
    "----------------------------------------------------------------";
const std::string TrailerTop =
    "\r\n\r\n----------------------------------------------------------------"
    "\r\nType Size       Source IP  Destination IP  sPort dPort  Date/Time\r\n";
const std::string TcpHeading =
    " TCP   60    192.168.0.10        10.0.0.5   1025    80  [2003.04.03 - 09:05:07.042]";
const std::string UdpHeading = " UDP   30      172.16.5.4 255.255.255.255     53  1053  [T2]";

// Splits a saved file at its trailer and checks the trailer's form; returns the records.
std::string recordsOf(const std::string& content, int expectedCount) {
    EXPECT_TRUE(content.starts_with(Header));
    const std::size_t trailerAt = content.rfind(TrailerTop);
    EXPECT_NE(trailerAt, std::string::npos);
    if (trailerAt == std::string::npos || trailerAt < Header.size()) {
        return {};
    }
    const std::string lastLine = content.substr(trailerAt + TrailerTop.size());
    EXPECT_TRUE(std::regex_match(lastLine, std::regex("\r\n" + std::to_string(expectedCount) +
                                                      " Packets listed in [0-9]+ milliseconds\\.")))
        << lastLine;
    return content.substr(Header.size(), trailerAt - Header.size());
}

class PacketListSaveTest : public testing::Test {
  protected:
    PacketListSaveTest() { setTextField(settings.dateTimeTemplate, "%Y-%MY-%D"); }

    SaveOutcome save(const std::string& path, const SaveHooks& hooks = {}) {
        return writePacketListFile(path, *store, state, settings, cancel, hooks);
    }
    std::string path() const { return (dir.path() / "list.txt").string(); }

    void storeExamples() {
        storeDatagram(*store, test::exampleTcpDatagram(), "2003.04.03 - 09:05:07.042");
        storeDatagram(*store, test::udpDatagram(53, 1053, "ab"), "T2");
    }
    void storeMany(int count) {
        for (int i = 0; i < count; ++i) {
            storeDatagram(*store, test::exampleTcpDatagram(), "t");
        }
    }

    ScopedLocalTimeSource fixedTime{[] { return LocalTime{2003, 4, 3, 9, 5, 7, 42}; }};
    TempDir dir;
    SettingsRecord settings = defaultSettings();
    PacketSnifferState state;
    std::unique_ptr<PacketStore> store = std::make_unique<PacketStore>();
    std::atomic<bool> cancel{false};
};

TEST_F(PacketListSaveTest, FileHoldsHeaderRecordsInSlotOrderAndTrailer) {
    settings.saveIncludeData = 0;
    storeExamples();
    const SaveOutcome outcome = save(path());
    EXPECT_EQ(outcome.status, SaveStatus::Saved);
    EXPECT_EQ(outcome.slotsProcessed, 2);
    EXPECT_FALSE(outcome.message);
    EXPECT_EQ(recordsOf(test::readFile(path()), 2), "\r\n" + TcpHeading + "\r\n" + UdpHeading);
}

TEST_F(PacketListSaveTest, SavingOptionsChooseTheDataAfterEachHeading) {
    storeExamples();
    settings.saveIncludeData = 1;
    settings.saveDataDec = 1;
    std::string records = recordsOf((save(path()), test::readFile(path())), 2);
    EXPECT_TRUE(records.starts_with("\r\n\r\n" + TcpHeading + "\r\n\r\n 69   0   0  60"));
    EXPECT_NE(records.find("\r\n\r\n" + UdpHeading + "\r\n\r\n 69   0   0  30"), std::string::npos);

    // Data asked for but no rendering chosen, and a rendering chosen with data off: headings.
    settings.saveDataDec = 0;
    records = recordsOf((save(path()), test::readFile(path())), 2);
    EXPECT_EQ(records, "\r\n" + TcpHeading + "\r\n" + UdpHeading);
    settings.saveIncludeData = 0;
    settings.saveDataHex = 1;
    records = recordsOf((save(path()), test::readFile(path())), 2);
    EXPECT_EQ(records, "\r\n" + TcpHeading + "\r\n" + UdpHeading);
}

TEST_F(PacketListSaveTest, EmptyStoreGivesHeaderAndTrailerOfZero) {
    test::writeFile(path(), "an older, longer file that the save replaces completely");
    EXPECT_EQ(save(path()).status, SaveStatus::Saved);
    EXPECT_EQ(recordsOf(test::readFile(path()), 0), "");
}

TEST_F(PacketListSaveTest, ReleasedSlotIsSkippedButCounted) {
    storeExamples();
    storeDatagram(*store, test::udpDatagram(7, 9, "z"), "T3");
    store->release(1);
    const SaveOutcome outcome = save(path());
    EXPECT_EQ(outcome.slotsProcessed, 3);
    const std::string records = recordsOf(test::readFile(path()), 3);
    EXPECT_EQ(records.find("[T2]"), std::string::npos);
    EXPECT_NE(records.find("[T3]"), std::string::npos);
}

TEST_F(PacketListSaveTest, CancelStopsBeforeTheNextSlotAndStillWritesTheTrailer) {
    storeMany(100);
    cancel = true;  // left over from an earlier save: a new save clears it
    std::vector<std::int32_t> positions;
    std::int32_t startedWith = -1;
    SaveHooks hooks{[&](std::int32_t count) { startedWith = count; },
                    [&](std::int32_t slot) {
                        positions.push_back(slot);
                        if (slot == 40) {
                            cancel = true;
                        }
                    }};
    const SaveOutcome outcome = save(path(), hooks);
    EXPECT_EQ(outcome.status, SaveStatus::Cancelled);
    EXPECT_EQ(outcome.slotsProcessed, 41);
    EXPECT_EQ(startedWith, 100);
    EXPECT_EQ(positions, (std::vector<std::int32_t>{0, 20, 40}));
    const std::string records = recordsOf(test::readFile(path()), 41);
    std::size_t headings = 0;
    for (std::size_t at = records.find(" TCP "); at != std::string::npos;
         at = records.find(" TCP ", at + 1)) {
        ++headings;
    }
    EXPECT_EQ(headings, 41u);
}

TEST_F(PacketListSaveTest, PacketsStoredDuringTheSaveAreSavedToo) {
    storeMany(3);
    SaveHooks hooks{{}, [&](std::int32_t slot) {
                        if (slot == 0) {
                            std::lock_guard<std::mutex> lock(state.listBusy);
                            storeDatagram(*store, test::udpDatagram(1, 2, ""), "late");
                        }
                    }};
    EXPECT_EQ(save(path(), hooks).slotsProcessed, 4);
    EXPECT_TRUE(recordsOf(test::readFile(path()), 4).ends_with("[late]"));
}

TEST_F(PacketListSaveTest, FileThatCannotBeCreatedIsReportedAndNothingStarts) {
    bool started = false;
    const std::string missing = (dir.path() / "no-such-folder" / "list.txt").string();
    const SaveOutcome outcome = save(missing, {[&](std::int32_t) { started = true; }, {}});
    EXPECT_EQ(outcome.status, SaveStatus::NotCreated);
    EXPECT_FALSE(started);
    ASSERT_TRUE(outcome.message);
    EXPECT_EQ(*outcome.message, (UserMessage{"Quillharbour Sniffer was unable to save the file.",
                                             "Error", MessageIcon::Stop}));
}

TEST_F(PacketListSaveTest, FullDeviceGivesTheDiskFullMessageWithTimeThenPath) {
    storeExamples();
    const SaveOutcome outcome = save("/dev/full");
    EXPECT_EQ(outcome.status, SaveStatus::WriteFailed);
    ASSERT_TRUE(outcome.message);
    EXPECT_EQ(outcome.message->text,
              "2003-04-03\r\n\r\nError while writing file with path:\r\n  /dev/full\r\n"
              "Windows reports that the disk is full.");
    EXPECT_EQ(outcome.message->caption, "Error while writing to file");
}

TEST_F(PacketListSaveTest, DiskThatFillsUpLeavesTheFileWithoutTrailer) {
    SmallFilesystem disk(16 * 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << "needs root to mount a small file system";
    }
    settings.saveIncludeData = 1;
    settings.saveDataHex = 1;
    storeMany(200);  // about 50 KB of records
    const SaveOutcome outcome = save(disk.file("list.txt"));
    EXPECT_EQ(outcome.status, SaveStatus::WriteFailed);
    ASSERT_TRUE(outcome.message);
    EXPECT_TRUE(outcome.message->text.ends_with("the disk is full."));
    const std::string content = test::readFile(disk.file("list.txt"));
    EXPECT_TRUE(content.starts_with(Header + "\r\n\r\n TCP"));
    EXPECT_EQ(content.find("Packets listed in"), std::string::npos);
}

TEST_F(PacketListSaveTest, SlotsReleasedWhileSavingAreNeverReadFreed) {
    // Deleting rows frees their blocks under the list guard while the save goes on; the
    // address sanitizer would catch a read of a freed block.
    settings.saveIncludeData = 1;
    settings.saveDataText = 1;
    storeMany(20000);
    std::atomic<bool> saving{true};
    std::thread deleter([&] {
        for (std::int32_t slot = 19999; slot >= 0 && saving; --slot) {
            std::lock_guard<std::mutex> lock(state.listBusy);
            store->release(slot);
        }
    });
    const SaveOutcome outcome = save(path());
    saving = false;
    deleter.join();
    EXPECT_EQ(outcome.status, SaveStatus::Saved);
    EXPECT_EQ(outcome.slotsProcessed, 20000);
}

}  // namespace
}  // namespace qhs
