#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "info/AboutDialog.h"
#include "platform/LinuxServices.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScriptedDialogService.h"

namespace qhs {
namespace {

class AboutWindow : public testing::Test {
  protected:
    // Presses "Check for newer version" with the server on this machine's port.
    void pressVersionCheck(std::uint16_t port) {
        AboutDialog about(settings, linuxServices().makeTcpClient);
        about.setVersionServer({"127.0.0.1", port});
        controlById<QPushButton>(about, 1018)->click();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "wait cursor left on";
    }

    ScriptedDialogService user;
    SettingsRecord settings = defaultSettings();
};

TEST_F(AboutWindow, LatestVersionIsToldAndOtherStatusesShowNothing) {
    {
        LoopbackHttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        pressVersionCheck(server.port());
        EXPECT_EQ(server.received().substr(0, 43), "GET /QuillharbourSnifferV1.5.chk HTTP/1.1\r\n");
    }
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message,
              (UserMessage{"You have the latest version of Quillharbour Sniffer available at "
                           "this time.",
                           "Quillharbour Sniffer"}));
    EXPECT_EQ(user.shown[0].buttons, MessageButtons::Ok);

    for (const char* reply : {"HTTP/1.1 302 Found\r\n\r\n", "HTTP/1.1 500 Oops\r\n\r\n"}) {
        LoopbackHttpServer server(reply);
        pressVersionCheck(server.port());
    }
    EXPECT_EQ(user.shown.size(), 1u);
    EXPECT_TRUE(user.openedAddresses.empty());
}

TEST_F(AboutWindow, NewerVersionQuestionOpensTheDescriptionPageOnlyOnYes) {
    user.answers = {MessageAnswer::No, MessageAnswer::Yes};
    for (int press = 0; press < 2; ++press) {
        LoopbackHttpServer server("HTTP/1.1 404 Not Found\r\n\r\n");
        pressVersionCheck(server.port());
        EXPECT_EQ(user.openedAddresses.size(), static_cast<std::size_t>(press));
    }
    ASSERT_EQ(user.shown.size(), 2u);
    EXPECT_EQ(user.shown[1].message,
              (UserMessage{"There is a newer version of Quillharbour Sniffer available.\n     "
                           "Would you like to go to the description page?",
                           "Version Notification", MessageIcon::Question}));
    EXPECT_EQ(user.shown[1].buttons, MessageButtons::YesNo);
    EXPECT_EQ(user.openedAddresses,
              std::vector<QString>{"http://www.quillharbour.example/SnifferIndex.html"});
}

TEST_F(AboutWindow, RefusedConnectionShowsExactlyOneErrorBox) {
    pressVersionCheck(refusingLoopbackPort());
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.caption, "Error");
    EXPECT_EQ(user.shown[0].message.text,
              "There was an error connecting to the server:\r\n\r\n1. Make sure you are "
              "connected to the internet.\r\n2. If you have a software based firewall make sure "
              "this program is permitted to access the internet.");
    EXPECT_TRUE(user.openedAddresses.empty());
}

TEST_F(AboutWindow, WebsiteAndMailOpenTheirAddressesWithTheHandOnlyOverWebsiteAndCheck) {
    AboutDialog about(settings, linuxServices().makeTcpClient);
    EXPECT_EQ(controlById<QLineEdit>(about, 1027)->text(), "support@quillharbour.example");
    controlById<QPushButton>(about, 1016)->click();
    controlById<QPushButton>(about, 1017)->click();
    EXPECT_EQ(user.openedAddresses, (std::vector<QString>{"http://www.quillharbour.example/",
                                                          "mailto:support@quillharbour.example"}));
    EXPECT_EQ(controlById<QPushButton>(about, 1016)->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(controlById<QPushButton>(about, 1018)->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(controlById<QPushButton>(about, 1017)->cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(user.shown.empty());
}

TEST_F(AboutWindow, HistoryReadsTopDownInTheDarkColoursUnlessWindowsColoursAreSet) {
    for (const bool windowsColours : {false, true}) {
        settings.useWindowsColors = windowsColours ? 1 : 0;
        AboutDialog about(settings, linuxServices().makeTcpClient);
        auto* history = controlById<QTreeWidget>(about, 1028);
        ASSERT_NE(history, nullptr);
        const QStringList top = {"Version Change History:", "", "Changes in V1.5:", "",
                                 "  Ability to set program to use Windows colors."};
        for (int row = 0; row < top.size(); ++row) {
            EXPECT_EQ(history->topLevelItem(row)->text(0), top[row]) << row;
        }
        const int rows = history->topLevelItemCount();
        EXPECT_EQ(history->topLevelItem(rows - 2)->text(0), "  Some optimizations and bug fixes.");
        EXPECT_EQ(history->topLevelItem(rows - 1)->text(0), "");
        EXPECT_TRUE(history->isHeaderHidden());

        const QPalette system = QApplication::palette(history);
        const QColor background =
            windowsColours ? system.color(QPalette::Base) : QColor(70, 50, 50);
        const QColor text = windowsColours ? system.color(QPalette::Text) : QColor(175, 255, 255);
        EXPECT_EQ(history->palette().color(QPalette::Text), text) << windowsColours;
        // What is painted, not only what is set: the right end of the top row.
        about.show();
        const QImage painted = history->viewport()->grab().toImage();
        EXPECT_EQ(painted.pixelColor(painted.width() - 3, 2), background) << windowsColours;
    }
}

}  // namespace
}  // namespace qhs
