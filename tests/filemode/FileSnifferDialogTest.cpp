#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/IpAddressEdit.h"
#include "filemode/FileSnifferDialog.h"
#include "filemode/StoredKeyLogPath.h"
#include "support/FileContents.h"
#include "support/QtWait.h"
#include "support/QueuedCaptureSource.h"
#include "support/ScriptedDialogService.h"
#include "support/TempDir.h"
#include "support/TestServices.h"

namespace qhs {
namespace {

OpenOutcome nextOpening;
QueuedCaptureSource* lastSource = nullptr;
std::unique_ptr<CaptureSource> makeQueuedSource() {
    auto source = std::make_unique<QueuedCaptureSource>();
    source->opening = nextOpening;
    lastSource = source.get();
    return source;
}

class FileSnifferWindow : public testing::Test {
  protected:
    FileSnifferWindow() {
        nextOpening = {};
        published.change(
            [](SettingsRecord& settings) { setTextField(settings.interfaceAddress, "127.0.0.1"); });
        published.change([this](SettingsRecord& settings) {
            setTextField(settings.fileOutputDirectory, dir.path().string());
        });
    }
    std::unique_ptr<FileSnifferDialog> open() {
        auto window = std::make_unique<FileSnifferDialog>(published, settingsPath,
                                                          servicesWith(&makeQueuedSource));
        EXPECT_TRUE(window->initialize());
        window->show();
        return window;
    }
    template <typename Widget = QWidget>
    static Widget* control(FileSnifferDialog& window, int id) {
        return controlById<Widget>(window, id);
    }

    ScriptedDialogService user;
    TempDir dir;
    std::string settingsPath = (dir.path() / "file.QHS").string();
    PublishedSettings published;
};

TEST_F(FileSnifferWindow, StartAndStopFollowTheStateTable) {
    auto window = open();
    auto* status = control<QLabel>(*window, 1060);
    EXPECT_EQ(status->text(), "Status: Waiting to run...");
    EXPECT_EQ(control<QLineEdit>(*window, 1054)->text(), "127.0.0.1");
    EXPECT_TRUE(control(*window, 1056)->isEnabled());
    EXPECT_FALSE(control(*window, 1057)->isEnabled());

    window->startCapture();
    EXPECT_TRUE(window->capture().captureRunning());
    EXPECT_TRUE(waitUntil([&] { return status->text() == "Status: Running"; }));
    EXPECT_FALSE(control(*window, 1056)->isEnabled());
    EXPECT_TRUE(control(*window, 1057)->isEnabled());
    for (int id : {1059, 1064, 1063, 1074, 1075, 1076, 1077, 1078, 1079, 1080, 1081, 1082, 1083}) {
        EXPECT_FALSE(control(*window, id)->isEnabled()) << id;
    }
    for (int id : {1058, 1085, 1086}) {
        EXPECT_TRUE(control(*window, id)->isEnabled()) << id;
    }
    window->startCapture();  // a second Start while running does nothing
    EXPECT_TRUE(user.shown.empty());

    window->stopCapture();
    EXPECT_FALSE(window->capture().captureRunning());
    EXPECT_TRUE(waitUntil([&] { return status->text() == "Status: Stopped"; }));
    EXPECT_TRUE(control(*window, 1056)->isEnabled());
    EXPECT_FALSE(control(*window, 1057)->isEnabled());
    EXPECT_TRUE(control(*window, 1063)->isEnabled());
    window->closeWindow();
}

TEST_F(FileSnifferWindow, SystemDropsAreShownOnceThereAreAny) {
    auto window = open();
    window->startCapture();
    auto* written = control<QLabel>(*window, 1062);
    // Several status updates pass: without drops the text stays the usual one.
    EXPECT_FALSE(waitUntil([&] { return written->text() != "Files written: 0"; }, 300))
        << written->text().toStdString();
    lastSource->dropped = 7;
    EXPECT_TRUE(waitUntil([&] {
        return written->text() == "Files written: 0\nDropped by the system: 7";
    })) << written->text().toStdString();
    window->stopCapture();
    EXPECT_EQ(window->capture().droppedCount(), 7u) << "kept after Stop";
    window->closeWindow();
}

TEST_F(FileSnifferWindow, AddressThatIsNoInterfaceFailsTheStartAndKeepsTheWindowUsable) {
    auto window = open();
    nextOpening = {OpenStatus::NoSuchInterface, 0};
    window->startCapture();
    EXPECT_EQ(control<QLabel>(*window, 1060)->text(), "Status: Error Starting");
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_NE(user.shown[0].message.text.find("Make sure the chosen interface is still valid."),
              std::string::npos);
    EXPECT_TRUE(control(*window, 1056)->isEnabled());
    EXPECT_TRUE(control(*window, 1063)->isEnabled());
    window->closeWindow();
}

TEST_F(FileSnifferWindow, ClosingStoresTheControlsWithTheirWidths) {
    auto window = open();
    control<QLineEdit>(*window, 1063)->setText("70000");
    control<QLineEdit>(*window, 1078)->setText("65616");  // 65536 + 80
    control<QLineEdit>(*window, 1082)->setText("99999999999");
    control<QCheckBox>(*window, 1059)->setChecked(true);
    control<IpAddressEdit>(*window, 1074)->setText("10.1.2.3");
    control<IpAddressEdit>(*window, 1075)->clear();
    control<QLineEdit>(*window, 1085)->setText("example.invalid");
    window->close();

    SettingsRecord saved;
    loadSettings(saved, settingsPath);
    EXPECT_EQ(saved.ackTimeoutMs, 4464);
    EXPECT_EQ(saved.fileSourcePortMust, 80);
    EXPECT_EQ(saved.fileMinSize, 0xFFFFFFFFu);
    EXPECT_EQ(saved.fileOverwrite, 1);
    EXPECT_EQ(textField(saved.fileSourceIpMust), "10.1.2.3");
    EXPECT_EQ(textField(saved.fileSourceIpMustNot), "0.0.0.0");
    EXPECT_EQ(textField(saved.fileResolverHost), "example.invalid");
    EXPECT_EQ(textField(saved.fileOutputDirectory), dir.path().string());
}

TEST_F(FileSnifferWindow, EscapeClosesWithoutSaving) {
    auto window = open();
    control<QLineEdit>(*window, 1063)->setText("5");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(std::filesystem::exists(settingsPath));
}

TEST_F(FileSnifferWindow, ResolverReplacesTheNameByItsAddressOrSaysItFailed) {
    auto window = open();
    auto* host = control<QLineEdit>(*window, 1085);
    host->setText("localhost");
    window->resolveHost();
    EXPECT_EQ(host->text(), "127.0.0.1");
    host->setText("no-such-host.invalid");
    window->resolveHost();
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, "Unable to resolve host name");
    EXPECT_EQ(host->text(), "no-such-host.invalid");
    window->closeWindow();
}

TEST_F(FileSnifferWindow, FirstRunAsksForAnInterface) {
    published.change([](SettingsRecord& settings) { setTextField(settings.interfaceAddress, ""); });
    nextOpening = {OpenStatus::NoSuchInterface, 0};
    user.dialogHandlers.push_back([](QDialog& dialog) {
        auto* list = dialog.findChild<QWidget*>("addressList");
        EXPECT_NE(list, nullptr);
        return QDialog::Rejected;
    });
    auto window = open();
    EXPECT_TRUE(user.dialogHandlers.empty());
    EXPECT_EQ(control<QLineEdit>(*window, 1054)->text(), "");
    window->closeWindow();
}

// The key log path lives beside the settings file, never in the fixed record: the field
// follows SSLKEYLOGFILE until the user changes it, then keeps what they chose, even empty.
TEST_F(FileSnifferWindow, TheKeyLogFieldIsKeptBesideTheSettingsOnceChanged) {
    const std::string fromEnvironment = (dir.path() / "curl keys.log").string();
    ::setenv("SSLKEYLOGFILE", fromEnvironment.c_str(), 1);
    const std::filesystem::path kept = storedKeyLogFilePath(settingsPath);
    const auto field = [](FileSnifferDialog& window) {
        return window.findChild<QLineEdit*>(QStringLiteral("tlsKeyLogFile"));
    };
    {
        auto window = open();
        EXPECT_EQ(field(*window)->text().toStdString(), fromEnvironment);
        const QWidget* checkBox = control(*window, 1064);
        EXPECT_GE(field(*window)->y(), checkBox->y() + checkBox->height()) << "a row of its own";
        window->close();
    }
    EXPECT_FALSE(std::filesystem::exists(kept)) << "unchanged, it keeps following the variable";
    {
        auto window = open();
        field(*window)->setText("/typed/then/escaped.log");
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &escape);
    }
    EXPECT_FALSE(std::filesystem::exists(kept));

    // A UTF-8 path, as the system names it (the record's fields are Windows-1252).
    const std::string chosen = (dir.path() / "J\xC3\xBCrgen's keys.log").string();
    {
        auto window = open();
        user.pickedPaths.push_back(QString::fromStdString(chosen));
        window->findChild<QPushButton*>(QStringLiteral("tlsKeyLogBrowse"))->click();
        EXPECT_EQ(field(*window)->text().toStdString(), chosen);
        window->startCapture();
        ASSERT_TRUE(window->capture().captureRunning());
        EXPECT_FALSE(field(*window)->isEnabled());
        EXPECT_FALSE(window->findChild<QWidget*>(QStringLiteral("tlsKeyLogBrowse"))->isEnabled());
        window->stopCapture();
        EXPECT_TRUE(field(*window)->isEnabled());
        window->close();
    }
    EXPECT_EQ(fileContents(kept), chosen + "\n");
    EXPECT_EQ(std::filesystem::status(kept).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::filesystem::file_size(settingsPath), sizeof(SettingsRecord));
    EXPECT_EQ(fileContents(settingsPath).find("keys.log"), std::string::npos);

    ::setenv("SSLKEYLOGFILE", "/elsewhere/keys.log", 1);
    {
        auto window = open();
        EXPECT_EQ(field(*window)->text().toStdString(), chosen);
        field(*window)->clear();
        window->closeWindow();
    }
    {
        auto window = open();
        EXPECT_EQ(field(*window)->text(), "") << "cleared stays cleared";
        window->closeWindow();
    }
    ::unsetenv("SSLKEYLOGFILE");
}

// The count of connections left encrypted is a line of its own under the other counters;
// the window grows so no line is squeezed over another.
TEST_F(FileSnifferWindow, TheNoKeyCountShowsUnderTheOtherCountersOnlyOnceThereAreAny) {
    auto window = open();
    auto* count = window->findChild<QLabel*>(QStringLiteral("encryptedWithoutKey"));
    EXPECT_FALSE(count->isVisible());
    window->startCapture();
    lastSource->dropped = 7;
    auto* written = control<QLabel>(*window, 1062);
    ASSERT_TRUE(waitUntil([&] { return written->text().contains("Dropped"); }));
    window->stopCapture();
    EXPECT_FALSE(count->isVisible());

    window->showEncryptedWithoutKey(3);
    EXPECT_TRUE(count->isVisible());
    EXPECT_EQ(count->text(), "Encrypted, no key: 3");
    auto* status = window->findChild<QWidget*>(QStringLiteral("statusGroup"));
    EXPECT_GE(status->height(), status->minimumSizeHint().height());
    EXPECT_GE(count->y(), written->y() + written->sizeHint().height());
    // The timer shows the capture's own count, none after a Start.
    window->startCapture();
    EXPECT_TRUE(waitUntil([&] { return !count->isVisible(); }));
    window->closeWindow();
}

// The line beside the settings is read bounded and only from a file the user alone could
// have written; anything else counts as nothing kept.
TEST(StoredKeyLogPath, OnlyAWholeLineOfTheUsersOwnIsTaken) {
    TempDir dir;
    const std::string settings = (dir.path() / "s.QHS").string();
    const std::filesystem::path kept = storedKeyLogFilePath(settings);
    EXPECT_TRUE(storeKeyLogPath(settings, "/kept"));
    EXPECT_FALSE(storeKeyLogPath(settings, "/two\nlines"));
    EXPECT_FALSE(storeKeyLogPath(settings, std::string(StoredKeyLogLineLimit, 'a')));
    EXPECT_EQ(readStoredKeyLogPath(settings), "/kept") << "a refused path leaves the old one";

    writeFileContents(kept, std::string(StoredKeyLogLineLimit, 'a') + "\n");
    EXPECT_EQ(readStoredKeyLogPath(settings), std::nullopt);
    writeFileContents(kept, std::string("/a\0b\n", 5));
    EXPECT_EQ(readStoredKeyLogPath(settings), std::nullopt);
    writeFileContents(kept, "/no/line/break");
    EXPECT_EQ(readStoredKeyLogPath(settings), "/no/line/break");
    std::filesystem::permissions(kept, std::filesystem::perms::group_write,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(readStoredKeyLogPath(settings), std::nullopt);
    // A FIFO in its place neither hangs the window's opening nor is taken.
    std::filesystem::remove(kept);
    ASSERT_EQ(::mkfifo(kept.c_str(), 0600), 0);
    EXPECT_EQ(readStoredKeyLogPath(settings), std::nullopt);
    EXPECT_TRUE(storeKeyLogPath(settings, "/replaced/the/fifo"));
    EXPECT_EQ(readStoredKeyLogPath(settings), "/replaced/the/fifo");
}

TEST(IpAddressInput, BlankReadsAsZerosAndOnlyValidNumbersAreTaken) {
    IpAddressEdit edit;
    EXPECT_EQ(edit.text(), "0.0.0.0");
    EXPECT_TRUE(edit.isBlank());
    edit.setText("192.168.1.20");
    EXPECT_EQ(edit.text(), "192.168.1.20");
    edit.setText("300.1.x");
    EXPECT_EQ(edit.text(), "0.1.0.0");
}

}  // namespace
}  // namespace qhs
