#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "packetmode/PacketListModel.h"
#include "packetmode/PacketListSave.h"
#include "packetmode/PacketLogger.h"
#include "packetmode/PacketSnifferDialog.h"
#include "support/CommandOutput.h"
#include "support/FileContents.h"
#include "support/QtWait.h"
#include "support/QueuedCaptureSource.h"
#include "support/SavingOptionsAnswers.h"
#include "support/ScriptedDialogService.h"
#include "support/TempDir.h"
#include "support/TestDatagram.h"
#include "support/TestServices.h"

namespace qhs {
namespace {

QueuedCaptureSource*& source = lastQueuedSource;

class PacketSnifferFiles : public testing::Test {
  protected:
    void open(int packets) {
        published.change(
            [](SettingsRecord& settings) { setTextField(settings.interfaceAddress, "127.0.0.1"); });
        window = std::make_unique<PacketSnifferDialog>(published, settingsPath,
                                                       servicesWith(&openQueuedSource));
        ASSERT_TRUE(window->initialize());
        window->show();
        window->startCapture();
        for (int i = 0; i < packets; ++i) {
            source->push(makeDatagram(17, 40 + static_cast<std::size_t>(i), 1000, 53));
        }
        ASSERT_TRUE(waitUntil([&] { return window->table().storedCount() == packets; }));
    }
    void TearDown() override {
        if (window) {
            window->closeWindow();
        }
    }
    bool listShown() { return window->findChild<QStackedWidget*>("listArea")->currentIndex() == 0; }

    ScriptedDialogService user;
    TempDir dir;
    std::string settingsPath = (dir.path() / "files.QHS").string();
    PublishedSettings published;
    std::unique_ptr<PacketSnifferDialog> window;
};

TEST_F(PacketSnifferFiles, SaveWritesTheWholeStoreAndBringsTheListBack) {
    open(3);
    const auto path = dir.path() / "saved.txt";
    user.pickedPaths = {QString::fromStdString(path.string())};
    window->saveList();
    ASSERT_TRUE(waitUntil([&] { return window->runningSaveThreads() == 0; }));
    const std::string saved = fileContents(path);
    EXPECT_EQ(saved.rfind(std::string(SavedListHeader), 0), 0u);
    EXPECT_NE(saved.find(" UDP   42"), std::string::npos);
    EXPECT_NE(saved.find(std::string(SavedListTrailerTop)), std::string::npos);
    EXPECT_TRUE(user.shown.empty());
    EXPECT_TRUE(waitUntil([&] { return listShown(); }));
}

TEST_F(PacketSnifferFiles, ExportFromTheFileMenuWritesAPcapFileWithEachArrivalTime) {
    open(3);
    const auto path = dir.path() / "capture.pcap";
    user.pickedPaths = {QString::fromStdString(path.string())};
    window->menuBar().findChild<QAction*>("exportCaptureFile")->trigger();
    ASSERT_TRUE(waitUntil([&] { return window->runningSaveThreads() == 0; }));
    EXPECT_TRUE(user.shown.empty()) << "no saving options and no message";
    const std::string times = commandOutput("tshark -r '" + path.string() +
                                            "' -T fields -e frame.time_epoch 2>/dev/null");
    std::string expected;
    for (std::int32_t slot = 0; slot < 3; ++slot) {
        const std::int64_t arrival = window->table().lock().store().arrivalNanoseconds(slot);
        ASSERT_GT(arrival, 0) << "a source without stamps gets the time of delivery";
        char text[32];
        std::snprintf(text, sizeof text, "%lld.%09lld\n",
                      static_cast<long long>(arrival / 1000000000),
                      static_cast<long long>(arrival % 1000000000));
        expected += text;
    }
    EXPECT_EQ(times, expected);
    EXPECT_TRUE(waitUntil([&] { return listShown(); }));
}

TEST_F(PacketSnifferFiles, SavingOptionsChosenBeforeTheSaveDecideItsData) {
    open(1);
    const auto path = dir.path() / "hex.txt";
    user.pickedPaths = {QString::fromStdString(path.string())};
    user.dialogHandlers.push_back(&saveDataInHex);
    window->saveList();
    ASSERT_TRUE(waitUntil([&] { return window->runningSaveThreads() == 0; }));
    EXPECT_NE(fileContents(path).find("\r\n\r\n45 00 00 28"), std::string::npos);
    EXPECT_EQ(published.current().saveDataHex, 1);
}

TEST_F(PacketSnifferFiles, HelpAndAboutOpenFromTheMenu) {
    open(0);
    std::vector<QString> opened;
    for (int i = 0; i < 2; ++i) {
        user.dialogHandlers.push_back([&](QDialog& dialog) {
            opened.push_back(dialog.metaObject()->className());
            return QDialog::Rejected;
        });
    }
    window->menuBar().findChild<QAction*>("command32778")->trigger();
    window->menuBar().findChild<QAction*>("command32779")->trigger();
    EXPECT_EQ(opened, (std::vector<QString>{"qhs::HelpDialog", "qhs::AboutDialog"}));
}

TEST_F(PacketSnifferFiles, SaveToAFullDiskShowsTheDiskFullText) {
    open(2);
    user.pickedPaths = {QStringLiteral("/dev/full")};
    window->saveList();
    ASSERT_TRUE(waitUntil([&] { return window->runningSaveThreads() == 0; }));
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.caption, "Error while writing to file");
    EXPECT_NE(user.shown[0].message.text.find("/dev/full"), std::string::npos);
    EXPECT_TRUE(waitUntil([&] { return listShown(); }));
}

TEST_F(PacketSnifferFiles, CancelledPickerSavesNothing) {
    open(1);
    window->saveList();
    ASSERT_TRUE(waitUntil([&] { return window->runningSaveThreads() == 0; }));
    EXPECT_TRUE(user.shown.empty());
    EXPECT_TRUE(listShown());
}

TEST_F(PacketSnifferFiles, AutomaticLogAppendsNewPackets) {
    const auto log = dir.path() / "capture.log";
    published.change([](SettingsRecord& settings) { settings.autoLog = 1; });
    published.change([](SettingsRecord& settings) { settings.logIntervalSeconds = 1; });
    published.change(
        [&log](SettingsRecord& settings) { setTextField(settings.logFilePath, log.string()); });
    open(2);
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(log); }, 4000));
    ASSERT_TRUE(waitUntil([&] { return window->logger().loggedCount() == 2; }, 4000));
    const std::string logged = fileContents(log);
    EXPECT_NE(logged.find(" UDP   40"), std::string::npos);
    EXPECT_NE(logged.find(" UDP   41"), std::string::npos);
}

}  // namespace
}  // namespace qhs
