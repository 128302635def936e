#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "packetmode/PacketFinder.h"
#include "packetmode/PacketListModel.h"
#include "packetmode/PacketSnifferDialog.h"
#include "support/QtWait.h"
#include "support/QueuedCaptureSource.h"
#include "support/ScriptedDialogService.h"
#include "support/TempDir.h"
#include "support/TestDatagram.h"
#include "support/TestServices.h"

namespace qhs {
namespace {

QueuedCaptureSource*& source = lastQueuedSource;

std::vector<std::uint8_t> tcpSegment(std::uint32_t sequence, std::uint32_t acknowledgement,
                                     const std::string& payload = "") {
    std::vector<std::uint8_t> bytes = makeDatagram(6, 40 + payload.size(), 1025, 80);
    for (int i = 0; i < 4; ++i) {
        bytes[24 + i] = static_cast<std::uint8_t>(sequence >> (24 - 8 * i));
        bytes[28 + i] = static_cast<std::uint8_t>(acknowledgement >> (24 - 8 * i));
    }
    bytes[33] = 0x18;
    std::copy(payload.begin(), payload.end(), bytes.begin() + 40);
    return bytes;
}

// A window over a scripted capture holding the given datagrams as rows 0, 1, 2, ...
class PacketSnifferCommands : public testing::Test {
  protected:
    void open(const std::vector<std::vector<std::uint8_t>>& datagrams) {
        published.change(
            [](SettingsRecord& settings) { setTextField(settings.interfaceAddress, "127.0.0.1"); });
        window = std::make_unique<PacketSnifferDialog>(published, settingsPath,
                                                       servicesWith(&openQueuedSource));
        ASSERT_TRUE(window->initialize());
        window->show();
        window->startCapture();
        for (const auto& datagram : datagrams) {
            source->push(datagram);
        }
        ASSERT_TRUE(waitUntil([&] {
            window->synchronizeList();
            return window->model().rowCount() == static_cast<int>(datagrams.size());
        }));
        window->stopCapture();
    }
    void TearDown() override {
        if (window) {
            window->closeWindow();
        }
    }
    template <typename Widget>
    Widget* control(int id) {
        return controlById<Widget>(*window, id);
    }
    QString cell(int row, int column) { return window->model().cellText(row, column); }

    ScriptedDialogService user;
    TempDir dir;
    std::string settingsPath = (dir.path() / "commands.QHS").string();
    PublishedSettings published;
    std::unique_ptr<PacketSnifferDialog> window;
};

TEST_F(PacketSnifferCommands, FirstSelectionRowZeroIncludedIsRenderedAndRadiosReRender) {
    open({makeDatagram(17, 40, 1234, 53), makeDatagram(1, 41)});
    auto* pane = control<QPlainTextEdit>(1020);
    window->selectRow(0);
    ASSERT_TRUE(waitUntil([&] { return !pane->toPlainText().isEmpty(); }));
    EXPECT_EQ(control<QLineEdit>(1008)->text(), "40");
    EXPECT_EQ(control<QLineEdit>(1010)->text(), "53");
    EXPECT_FALSE(control<QLineEdit>(1012)->text().isEmpty());
    EXPECT_EQ(pane->toPlainText().count('\n'), 4) << "forty bytes in Dec are four lines";

    control<QRadioButton>(1027)->click();
    EXPECT_TRUE(pane->toPlainText().startsWith("45 00 00 28"));
    // Focusing "To IP:" selects its four bytes; the pane shows each "\r\n" as one break.
    control<QLineEdit>(1007)->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(pane->textCursor().selectedText(), "0A 00 00 02");

    window->selectRow(1);
    ASSERT_TRUE(waitUntil([&] { return control<QLineEdit>(1005)->text() == "ICMP"; }));
    EXPECT_EQ(control<QLineEdit>(1009)->text(), "0");
    EXPECT_TRUE(control<QLineEdit>(1011)->text().isEmpty());
    EXPECT_TRUE(control<QLineEdit>(1017)->text().isEmpty());
}

TEST_F(PacketSnifferCommands, InvalidPacketAsksAndNoKeepsTheRowWhileYesDeletesIt) {
    open({makeDatagram(17, 40), makeDatagram(6, 19)});
    user.answers = {MessageAnswer::No};
    window->selectRow(1);
    ASSERT_TRUE(waitUntil([&] { return user.shown.size() == 1; }));
    EXPECT_EQ(user.shown[0].message.caption, "Delete invalid packet?");
    EXPECT_EQ(control<QPlainTextEdit>(1020)->toPlainText(), "Invalid packet data!");
    EXPECT_EQ(window->model().rowCount(), 2);

    window->selectRow(0);
    ASSERT_TRUE(waitUntil([&] { return control<QLineEdit>(1008)->text() == "40"; }));
    user.answers = {MessageAnswer::Yes};
    window->selectRow(1);
    ASSERT_TRUE(waitUntil([&] { return user.shown.size() == 2; }));
    EXPECT_EQ(window->model().rowCount(), 1);
    EXPECT_EQ(window->table().lock().store().length(1), 19u) << "the slot keeps its datagram";
}

TEST_F(PacketSnifferCommands, FindSelectsTheMatchingRowAndSaysSoWhenNothingMatches) {
    open({tcpSegment(1, 1, "nothing here"), tcpSegment(2, 1, "the Needle is here"),
          tcpSegment(3, 1, "more")});
    control<QLineEdit>(1048)->setText("needle");
    window->findOrNext();
    ASSERT_TRUE(waitUntil([&] { return window->selectionMark() == 1; }));
    window->finder().stopIfRunning();
    ASSERT_TRUE(waitUntil([&] { return !window->finder().searchRunning; }));

    control<QLineEdit>(1048)->setText("absent");
    window->findOrNext();
    ASSERT_TRUE(waitUntil([&] { return !window->finder().searchRunning; }));
    ASSERT_FALSE(user.shown.empty());
    EXPECT_EQ(user.shown.back().message.text, "No instance of string found.");
    EXPECT_EQ(window->selectionMark(), -1);
    EXPECT_TRUE(control<QLineEdit>(1008)->text().isEmpty());
}

TEST_F(PacketSnifferCommands, HeaderClicksSortBySizeWithAlternatingDirection) {
    open({makeDatagram(17, 60), makeDatagram(17, 200), makeDatagram(17, 100)});
    window->sortByColumn(1);
    EXPECT_EQ(cell(0, 1), "200");
    EXPECT_EQ(cell(2, 1), "60");
    window->sortByColumn(1);
    EXPECT_EQ(cell(0, 1), "60");
    EXPECT_EQ(cell(2, 1), "200");
}

TEST_F(PacketSnifferCommands, LongListSortAfterYesWaitsForTheGuardUnderTheWaitCursor) {
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (int i = 0; i < 1001; ++i) {
        datagrams.push_back(makeDatagram(17, 40 + static_cast<std::size_t>(i % 50)));
    }
    open(datagrams);
    // While the question is open, a logging pass takes the guard and keeps it until the
    // window has been seen waiting for it (or, should it never wait, for a while at most).
    std::thread logPass;
    std::optional<Qt::CursorShape> cursorWhileWaiting;
    std::promise<void> seenWaiting;
    std::future<void> windowSeenWaiting = seenWaiting.get_future();
    QTimer cursorWatch;
    QObject::connect(&cursorWatch, &QTimer::timeout, [&] {
        if (const QCursor* cursor = QApplication::overrideCursor()) {
            cursorWhileWaiting = cursor->shape();
            cursorWatch.stop();
            seenWaiting.set_value();
        }
    });
    user.whileShown = [&](const UserMessage&) {
        std::promise<void> taken;
        logPass = std::thread([&] {
            const PacketTable::Access guard = window->table().lock();
            taken.set_value();
            windowSeenWaiting.wait_for(std::chrono::seconds(5));
        });
        taken.get_future().wait();
        cursorWatch.start(1);
    };
    window->sortByColumn(7);
    logPass.join();
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(cursorWhileWaiting, Qt::WaitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is restored";
    // That sort happened (descending), so the next one runs ascending.
    window->sortByColumn(1);
    EXPECT_EQ(cell(0, 1), "40");
}

TEST_F(PacketSnifferCommands, PacketMenuWalksTcpAndDeletesRows) {
    open({tcpSegment(1000, 7), tcpSegment(1500, 7), tcpSegment(2000, 7), makeDatagram(17, 40)});
    window->selectRow(3);
    std::unique_ptr<QMenu> menu = window->makePacketMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->findChild<QMenu*>("tcpOptions")->isEnabled()) << "greyed for UDP";

    window->selectRow(1);
    menu = window->makePacketMenu();
    EXPECT_TRUE(menu->findChild<QMenu*>("tcpOptions")->isEnabled());
    menu->findChild<QAction*>("command32785")->trigger();  // next
    EXPECT_EQ(window->selectionMark(), 2);
    menu = window->makePacketMenu();
    menu->findChild<QAction*>("command32785")->trigger();
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, "No higher sequenced packet found.");

    user.answers = {MessageAnswer::Yes};
    menu = window->makePacketMenu();
    menu->findChild<QAction*>("command32784")->trigger();  // delete
    EXPECT_EQ(window->model().rowCount(), 3);
    EXPECT_EQ(user.shown.back().message.caption, "Delete from lis?");
}

}  // namespace
}  // namespace qhs
