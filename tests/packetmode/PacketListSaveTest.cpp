#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/Templates.h"
#include "packetmode/PacketListSave.h"
#include "packetmode/TestStore.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

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

class PacketListSaveTest : public testing::Test {
  protected:
    PacketListSaveTest() { setTextField(settings.dateTimeTemplate, "%Y-%MY-%D"); }

    SaveOutcome save(const std::string& path, const SaveHooks& hooks = {}) {
        return writePacketListFile(path, *table, settings, cancel, hooks);
    }
    // Saves to a file, checks header and trailer, and returns the records between them.
    std::string savedRecords(int expectedCount, const SaveHooks& hooks = {}) {
        const std::string path = (dir.path() / "list.txt").string();
        save(path, hooks);
        const std::string content = test::readFile(path);
        const std::size_t trailerAt = content.rfind(TrailerTop);
        EXPECT_TRUE(content.starts_with(Header));
        if (trailerAt == std::string::npos || trailerAt < Header.size()) {
            ADD_FAILURE() << "no trailer";
            return {};
        }
        EXPECT_TRUE(std::regex_match(content.substr(trailerAt + TrailerTop.size()),
                                     std::regex("\r\n" + std::to_string(expectedCount) +
                                                " Packets listed in [0-9]+ milliseconds\\.")));
        return content.substr(Header.size(), trailerAt - Header.size());
    }
    void storeExamples() {
        test::storeDatagram(table->lock().store(), test::exampleTcpDatagram(),
                            "2003.04.03 - 09:05:07.042");
        test::storeDatagram(table->lock().store(), test::udpDatagram(53, 1053, "ab"), "T2");
    }
    void storeMany(int count) {
        for (int i = 0; i < count; ++i) {
            test::storeDatagram(table->lock().store(), test::exampleTcpDatagram(), "t");
        }
    }

    ScopedLocalTimeSource fixedTime{[] { return LocalTime{2003, 4, 3, 9, 5, 7, 42}; }};
    TempDir dir;
    SettingsRecord settings = defaultSettings();
    std::unique_ptr<PacketTable> table = std::make_unique<PacketTable>();
    std::atomic<bool> cancel{false};
};

TEST_F(PacketListSaveTest, FileHoldsHeaderRecordsInSlotOrderAndTrailer) {
    EXPECT_EQ(savedRecords(0), "");
    storeExamples();
    EXPECT_EQ(savedRecords(2), "\r\n" + TcpHeading + "\r\n" + UdpHeading);

    settings.saveIncludeData = 1;
    settings.saveDataDec = 1;
    const std::string withData = savedRecords(2);
    EXPECT_TRUE(withData.starts_with("\r\n\r\n" + TcpHeading + "\r\n\r\n 69   0   0  60"));
    EXPECT_NE(withData.find("\r\n\r\n" + UdpHeading + "\r\n\r\n 69   0   0  30"),
              std::string::npos);
    // Data asked for without a rendering, or a rendering without data: headings only.
    settings.saveDataDec = 0;
    EXPECT_EQ(savedRecords(2), "\r\n" + TcpHeading + "\r\n" + UdpHeading);
    settings.saveIncludeData = 0;
    settings.saveDataHex = 1;
    EXPECT_EQ(savedRecords(2), "\r\n" + TcpHeading + "\r\n" + UdpHeading);

    // The file lists the store: a released slot is passed over but counted.
    test::storeDatagram(table->lock().store(), test::udpDatagram(7, 9, "z"), "T3");
    table->lock().store().release(1);
    EXPECT_EQ(
        savedRecords(3),
        "\r\n" + TcpHeading + "\r\n UDP   29      172.16.5.4 255.255.255.255      7     9  [T3]");
}

TEST_F(PacketListSaveTest, CancelStopsBeforeTheNextSlotAndStillWritesTheTrailer) {
    storeMany(100);
    cancel = true;  // left over from an earlier save: a new save clears it
    std::vector<std::int32_t> positions;
    std::int32_t startedWith = -1;
    const std::string records = savedRecords(41, {[&](std::int32_t count) { startedWith = count; },
                                                  [&](std::int32_t slot) {
                                                      positions.push_back(slot);
                                                      cancel = slot == 40;
                                                  }});
    EXPECT_EQ(startedWith, 100);
    EXPECT_EQ(positions, (std::vector<std::int32_t>{0, 20, 40}));
    std::string expected;
    for (int i = 0; i < 41; ++i) {
        expected += "\r\n TCP   60    192.168.0.10        10.0.0.5   1025    80  [t]";
    }
    EXPECT_EQ(records, expected);
}

TEST_F(PacketListSaveTest, UncreatableFileAndFullDiskAreReported) {
    bool started = false;
    SaveOutcome outcome = save((dir.path() / "missing" / "list.txt").string(),
                               {[&](std::int32_t) { started = true; }, {}});
    EXPECT_EQ(outcome.status, SaveStatus::NotCreated);
    EXPECT_FALSE(started);
    EXPECT_EQ(outcome.message, (UserMessage{"Quillharbour Sniffer was unable to save the file.",
                                            "Error", MessageIcon::Stop}));

    storeExamples();
    outcome = save("/dev/full");
    EXPECT_EQ(outcome.status, SaveStatus::WriteFailed);
    ASSERT_TRUE(outcome.message);
    EXPECT_EQ(outcome.message->text,
              "2003-04-03\r\n\r\nError while writing file with path:\r\n  /dev/full\r\n"
              "Windows reports that the disk is full.");
}

TEST_F(PacketListSaveTest, SlotsReleasedWhileSavingAreNeverReadFreed) {
    // Deleting rows frees blocks under the list guard while the save runs; the address
    // sanitizer catches any read of a freed block.
    settings.saveIncludeData = 1;
    settings.saveDataText = 1;
    storeMany(20000);
    std::atomic<bool> saving{true};
    std::thread deleter([&] {
        for (std::int32_t slot = 19999; slot >= 0 && saving; --slot) {
            table->lock().store().release(slot);
        }
    });
    const SaveOutcome outcome = save((dir.path() / "list.txt").string());
    saving = false;
    deleter.join();
    EXPECT_EQ(outcome.status, SaveStatus::Saved);
    EXPECT_EQ(outcome.slotsProcessed, 20000);
}

}  // namespace
}  // namespace qhs
