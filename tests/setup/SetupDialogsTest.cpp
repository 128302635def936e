#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>

#include "SetupFileChecks.h"
#include "setup/AgreementDialog.h"
#include "setup/InstallerDialog.h"
#include "setup/SetupBackdrop.h"
#include "setup/SetupNames.h"
#include "setup/UninstallerDialog.h"
#include "support/InstallSandbox.h"
#include "support/QtWait.h"
#include "support/ScriptedDialogService.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;

void letTimersRun(int ms) {
    waitUntil([] { return false; }, ms);
}

void pressKey(QWidget& widget, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
}

TEST(AgreementDialog, AcceptIsPossibleOnlyOnceTheLastRowWasInViewAndStaysSo) {
    AgreementDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Quillharbour Scanner END USER Legal Agreement");
    dialog.resize(720, 420);
    dialog.show();
    auto* list = controlById<QListWidget>(dialog, 1064);
    auto* accept = controlById<QPushButton>(dialog, 1068);
    ASSERT_EQ(list->count(), 82);

    // The dialog checks the list on a timer: wait for its checks, not for a guessed time.
    MemberTimerTicks watch(dialog);
    const auto watchLooksAgain = [&watch](int times) {
        const int seen = watch.ticks();
        return waitUntil([&] { return watch.ticks() >= seen + times; });
    };
    EXPECT_TRUE(watchLooksAgain(3));
    EXPECT_FALSE(accept->isEnabled());
    list->scrollToItem(list->item(60));
    EXPECT_TRUE(watchLooksAgain(2));
    EXPECT_FALSE(accept->isEnabled());

    list->scrollToBottom();
    EXPECT_TRUE(waitUntil([&] { return accept->isEnabled(); }));
    list->scrollToTop();
    // The watch has stopped, so nothing marks "still enabled": a short while of events must do.
    letTimersRun(50);
    EXPECT_TRUE(accept->isEnabled());
    accept->click();
    EXPECT_TRUE(dialog.agreed());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(AgreementDialog, DecliningCloseBoxEnterAndEscapeAllLeaveItUnaccepted) {
    const std::vector<std::function<void(AgreementDialog&)>> ways = {
        [](AgreementDialog& dialog) { controlById<QPushButton>(dialog, 1067)->click(); },
        [](AgreementDialog& dialog) { dialog.close(); },
        [](AgreementDialog& dialog) { pressKey(dialog, Qt::Key_Return); },
        [](AgreementDialog& dialog) { pressKey(dialog, Qt::Key_Escape); },
    };
    for (std::size_t way = 0; way < ways.size(); ++way) {
        AgreementDialog dialog;
        dialog.show();
        controlById<QListWidget>(dialog, 1064)->scrollToBottom();
        waitUntil([&] { return controlById<QPushButton>(dialog, 1068)->isEnabled(); });
        ways[way](dialog);
        EXPECT_FALSE(dialog.isVisible()) << way;
        EXPECT_FALSE(dialog.agreed()) << way;
    }
}

class InstallerDialogRun : public testing::Test {
  protected:
    QLineEdit& directory() { return *controlById<QLineEdit>(dialog, 1069); }
    QCheckBox& box(int id) { return *controlById<QCheckBox>(dialog, id); }
    void install() { controlById<QPushButton>(dialog, 1073)->click(); }

    InstallSandbox sandbox;
    ScriptedDialogService user;
    InstallerDialog dialog{sandbox.environment};
};

TEST_F(InstallerDialogRun, OpensWithTheDefaultsAndStartsTheInstalledCopyAfterSuccess) {
    EXPECT_EQ(dialog.windowTitle(), "Quillharbour Installer V1.3");
    EXPECT_EQ(controlById<QPushButton>(dialog, 1073)->text(), "Install Quillharbour Sniffer 1.5");
    EXPECT_EQ(directory().text(), "/opt/Quillharbour Sniffer 1.5/");
    EXPECT_TRUE(box(1070).isChecked() && box(1071).isChecked() && box(1072).isChecked());
    EXPECT_FALSE(box(1074).isChecked());

    dialog.show();
    const fs::path chosen = sandbox.root() / "programs/qhs";
    directory().setText(QString::fromStdString(chosen.string()));
    install();

    // Only root can grant the capture right; anyone else is told after the success.
    ASSERT_EQ(user.shown.size(), ::geteuid() == 0 ? 1u : 2u);
    EXPECT_EQ(user.shown[0].message.text,
              "Installation of Quillharbour Sniffer 1.5 is now complete.");
    EXPECT_EQ(user.shown[0].message.caption, "Installation Successful");
    const std::string target = (chosen / ExecutableName).string();
    EXPECT_TRUE(fs::exists(target));
    ASSERT_EQ(sandbox.launcher.starts.size(), 1u);
    EXPECT_EQ(sandbox.launcher.starts[0].arguments,
              (std::vector<std::string>{target, "NoInstall"}));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(InstallerDialogRun, ACopyThatCouldNotBeGivenTheCaptureRightSaysSoAndStaysRunnable) {
    LinuxSetupFiles withoutGroup("no such group!");  // a name groupadd refuses
    sandbox.environment.files = &withoutGroup;
    dialog.show();
    const fs::path chosen = sandbox.root() / "programs/qhs";
    directory().setText(QString::fromStdString(chosen.string()));
    install();

    ASSERT_EQ(user.shown.size(), 2u);
    EXPECT_EQ(user.shown[0].message.caption, "Installation Successful");
    EXPECT_EQ(user.shown[1].message.text, CaptureNotGrantedText);
    EXPECT_EQ(user.shown[1].message.icon, MessageIcon::Warning);
    EXPECT_TRUE(isExecutableByAll(chosen / ExecutableName));
    EXPECT_EQ(sandbox.launcher.starts.size(), 1u);
}

TEST_F(InstallerDialogRun, AFailedCopyIsReportedAndTheDefaultDirectoryPutBack) {
    dialog.show();
    writeText(sandbox.root() / "plain-file", "");
    directory().setText(QString::fromStdString((sandbox.root() / "plain-file/qhs/").string()));
    install();

    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text,
              "There was an error copying a file, make sure the destination disk is not full and "
              "is not write protected.");
    EXPECT_EQ(user.shown[0].message.caption, "Quillharbour Sniffer");
    EXPECT_EQ(directory().text(), "/opt/Quillharbour Sniffer 1.5/");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.isEnabled());
    EXPECT_TRUE(sandbox.launcher.starts.empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(InstallerDialogRun, ClosingOrEscapeAsksBeforeLeaving) {
    dialog.show();
    user.answers = {MessageAnswer::No, MessageAnswer::No, MessageAnswer::Yes};
    dialog.close();
    pressKey(dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    dialog.close();
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_EQ(user.shown.size(), 3u);
    EXPECT_EQ(user.shown[0].message.text, "Are you sure you want to quit the installation?");
    EXPECT_EQ(user.shown[0].buttons, MessageButtons::YesNo);
    EXPECT_FALSE(fs::exists(sandbox.registry.filePath()));
}

TEST(SetupBackdrop, CoversTheScreenRunsTheInstallerAndEndsAfterIt) {
    ScriptedDialogService user;
    SetupBackdrop* self = nullptr;
    bool stayedOpenDuringInstall = false;
    int installerRuns = 0;
    SetupBackdrop backdrop(
        [&] {
            ++installerRuns;
            waitUntil([&] { return self->level() > 0; });  // the backdrop animates meanwhile
            self->close();
            stayedOpenDuringInstall = self->isVisible() && self->level() > 0;
        },
        QSize(640, 480));
    self = &backdrop;
    EXPECT_EQ(backdrop.geometry(), QRect(0, 0, 640, 480));
    EXPECT_TRUE(backdrop.windowFlags() & Qt::FramelessWindowHint);

    EXPECT_EQ(backdrop.exec(), QDialog::Accepted);
    EXPECT_EQ(installerRuns, 1);
    EXPECT_TRUE(stayedOpenDuringInstall);
    EXPECT_FALSE(backdrop.installerRunning());
    EXPECT_TRUE(user.shown.empty());
}

TEST(SetupBackdrop, GradientRunsFromBlackToRedAcrossAndToCyanDown) {
    const QImage image = SetupBackdrop::gradientImage(QSize(256, 100));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(255, 0), qRgb(254, 0, 0));
    EXPECT_EQ(image.pixel(0, 99), qRgb(0, 252, 252));
    EXPECT_EQ(image.pixel(128, 50), qRgb(127, 127, 127));

    SetupBackdrop backdrop({}, QSize(320, 200));
    EXPECT_EQ(controlById<QLabel>(backdrop, 1068)->pixmap().size(), QSize(320, 200));

    // Too large for memory: reported, and setup goes on without it.
    ScriptedDialogService user;
    SetupBackdrop bare({}, QSize(1 << 20, 1 << 20));
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text,
              "Non-fatal internal error code: 2\r\nSetup will continue");
    EXPECT_EQ(user.shown[0].message.caption, "QuillharbourSnifferV1.5");
    EXPECT_TRUE(controlById<QLabel>(bare, 1068)->pixmap().isNull());
}

TEST(SetupBackdrop, TitleLevelPulsesBetween4And252) {
    SetupBackdrop backdrop({}, QSize(64, 64));
    std::vector<int> levels;
    for (int i = 0; i < 500; ++i) {
        backdrop.advancePulse();
        levels.push_back(backdrop.level());
    }
    EXPECT_EQ(*std::min_element(levels.begin(), levels.end()), 4);
    EXPECT_EQ(*std::max_element(levels.begin(), levels.end()), 252);
    EXPECT_EQ(levels[0], 4);
    EXPECT_EQ(levels[62], 252);
    EXPECT_EQ(levels[63], 248);
}

TEST(UninstallerDialog, AScriptThatCannotBeWrittenIsReportedBeforeTheProcessEnds) {
    InstallSandbox sandbox;
    sandbox.environment.temporaryDirectory = (sandbox.root() / "missing").string();
    ScriptedDialogService user;
    UninstallerDialog dialog(sandbox.environment);
    EXPECT_EQ(dialog.windowTitle(), "Quillharbour Un-Installer V1.0.1");
    auto* button = controlById<QPushButton>(dialog, 1091);
    EXPECT_EQ(button->text(), "Completely remove Quillharbour Sniffer 1.5 from this machine");
    button->click();
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, "Un-able to remove executable file");
    EXPECT_TRUE(sandbox.launcher.starts.empty());  // the entry and shortcuts are gone all the same
    EXPECT_EQ(sandbox.registry.readValue(UninstallKey, "DisplayName"), std::nullopt);
    EXPECT_EQ(sandbox.endedWith, std::vector<int>{0});
}

}  // namespace
}  // namespace qhs
