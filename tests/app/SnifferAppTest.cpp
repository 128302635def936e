#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ApplicationName.h"
#include "app/CommandLine.h"
#include "app/ModeChoiceDialog.h"
#include "app/ProductArt.h"
#include "app/SnifferApp.h"
#include "setup/SetupNames.h"
#include "setup/SetupSteps.h"
#include "support/InstallSandbox.h"
#include "support/ScriptedDialogService.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

std::vector<char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

std::vector<char> recordBytes(const SettingsRecord& record) {
    const auto* begin = reinterpret_cast<const char*>(&record);
    return std::vector<char>(begin, begin + sizeof record);
}

// Lets the event loop run until the condition holds or a generous limit passes.
bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 3000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return done();
}

class SnifferAppRun : public testing::Test {
  protected:
    // Unless a test says otherwise, this copy is the recorded installation.
    SnifferAppRun() { recordInstallation(sandbox.ownExecutable.string(), true); }

    void recordInstallation(const std::string& path, bool versionMarked) {
        sandbox.registry.writeValues(ProductKey, {{std::string(InstalledPathValueName), path},
                                                  {"1.5", versionMarked ? "1.5" : ""}});
    }

    // Runs start-up with windows that note which mode ran and save as a closing window does.
    int run(const std::vector<std::string>& arguments) {
        ModeWindows windows;
        windows.packetSniffer = [this](PublishedSettings& settings, const std::string& path) {
            launched.push_back(0);
            saveSettings(settings.current(), path);
            return 0;
        };
        windows.fileSniffer = [this](PublishedSettings& settings, const std::string& path) {
            launched.push_back(1);
            saveSettings(settings.current(), path);
            return 0;
        };
        SnifferApp app({settingsPath, {}, 0600}, windows, setupSteps(sandbox.environment));
        return app.run(arguments);
    }

    // The user clicks a button of the mode choice, with or without "Remember my choice".
    void chooseMode(int buttonId, bool remember) {
        user.dialogHandlers.push_back([buttonId, remember](QDialog& dialog) {
            controlById<QCheckBox>(dialog, 1053)->setChecked(remember);
            controlById<QPushButton>(dialog, buttonId)->click();
            return dialog.result();
        });
    }

    // The user reads the agreement to its end, then accepts or declines it.
    void answerAgreement(bool accept) {
        user.dialogHandlers.push_back([accept](QDialog& dialog) {
            dialog.show();
            auto* acceptButton = controlById<QPushButton>(dialog, 1068);
            controlById<QListWidget>(dialog, 1064)->scrollToBottom();
            waitUntil([&] { return acceptButton->isEnabled(); });
            controlById<QPushButton>(dialog, accept ? 1068 : 1067)->click();
            return dialog.result();
        });
    }

    // The backdrop runs for real; over it the user installs into `directory`.
    void installInto(const std::filesystem::path& directory) {
        user.dialogHandlers.push_back([](QDialog& backdrop) { return backdrop.exec(); });
        user.dialogHandlers.push_back([directory](QDialog& installer) {
            controlById<QLineEdit>(installer, 1069)
                ->setText(QString::fromStdString(directory.string()));
            controlById<QPushButton>(installer, 1073)->click();
            return installer.result();
        });
    }

    const std::string otherInstallation =
        "/opt/Quillharbour Sniffer 1.5/QuillharbourSnifferV1.5.exe";
    InstallSandbox sandbox;
    ScriptedDialogService user;
    TempDir dir;
    std::string settingsPath = (dir.path() / "app.QHS").string();
    std::vector<int> launched;
};

TEST_F(SnifferAppRun, HelpOptionsShowTheHelpTextAndEndTheRun) {
    for (const char* option : {"-?", "/help", "HELP", "?", "-Help"}) {
        user.shown.clear();
        EXPECT_EQ(run({option}), 0);
        ASSERT_EQ(user.shown.size(), 1u) << option;
        EXPECT_EQ(user.shown[0].message.text, CommandLineHelpText);
        EXPECT_EQ(user.shown[0].message.caption, "Quillharbour Sniffer");
        EXPECT_EQ(user.shown[0].message.icon, MessageIcon::Information);
    }
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(std::filesystem::exists(settingsPath));
}

TEST_F(SnifferAppRun, OtherArgumentsAndTwoOptionsTogetherAreNotImplemented) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"capture"}, {"-noinstall", "-help"}, {"--help"}, {"/?x"}}) {
        user.shown.clear();
        EXPECT_EQ(run(arguments), 0);
        ASSERT_EQ(user.shown.size(), 1u);
        EXPECT_EQ(user.shown[0].message.text, CommandLineNotImplementedText);
    }
    EXPECT_TRUE(launched.empty());
}

TEST_F(SnifferAppRun, StartWritesTheSettingsFileBeforeTheModeChoice) {
    bool fileExistedWhileAsking = false;
    user.dialogHandlers.push_back([&](QDialog& dialog) {
        fileExistedWhileAsking = std::filesystem::file_size(settingsPath) == 20668;
        controlById<QPushButton>(dialog, 1050)->click();
        return dialog.result();
    });
    EXPECT_EQ(run({"NoInstall"}), 0);
    EXPECT_TRUE(fileExistedWhileAsking);
    EXPECT_EQ(launched, std::vector<int>{0});
}

TEST_F(SnifferAppRun, RememberedChoiceOpensThatModeWithoutAsking) {
    chooseMode(1051, true);
    run({});
    EXPECT_EQ(launched, std::vector<int>{1});
    EXPECT_TRUE(user.dialogHandlers.empty());

    run({});  // no handler queued: a mode choice would be answered with Escape
    EXPECT_EQ(launched, (std::vector<int>{1, 1}));
    SettingsRecord stored;
    loadSettings(stored, settingsPath);
    EXPECT_EQ(stored.showModeChoice, 0);
    EXPECT_EQ(stored.snifferMode, 1u);
}

TEST_F(SnifferAppRun, DialogColoursLetDisabledButtonsLookDisabled) {
    const QPalette systemPalette = QApplication::palette();
    chooseMode(1050, true);
    run({});
    QPushButton button;
    const QPalette palette = button.palette();
    QApplication::setPalette(systemPalette);
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::Button), QColor(200, 200, 200));
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::ButtonText), QColor(Qt::black));
    for (const QPalette::ColorRole role : {QPalette::ButtonText, QPalette::WindowText}) {
        EXPECT_NE(palette.color(QPalette::Disabled, role), palette.color(QPalette::Active, role));
        EXPECT_NE(palette.color(QPalette::Disabled, role), QColor(200, 200, 200));
    }
}

TEST_F(SnifferAppRun, ChoiceWithoutRememberingAsksAgainNextTime) {
    chooseMode(1050, false);
    run({});
    chooseMode(1051, false);
    run({});
    EXPECT_EQ(launched, (std::vector<int>{0, 1}));
    EXPECT_TRUE(user.dialogHandlers.empty());
}

TEST_F(SnifferAppRun, UnknownModeEndsWithoutAWindow) {
    SettingsRecord stored = defaultSettings();
    stored.showModeChoice = 0;
    stored.snifferMode = 2;
    saveSettings(stored, settingsPath);
    EXPECT_EQ(run({}), 0);
    EXPECT_TRUE(launched.empty());
    EXPECT_EQ(fileBytes(settingsPath), recordBytes(stored));
}

TEST_F(SnifferAppRun, CloseBoxOfTheModeChoiceEndsTheRunLeavingTheStartUpFile) {
    SettingsRecord stored = defaultSettings();
    stored.snifferMode = 1;
    saveSettings(stored, settingsPath);
    user.dialogHandlers.push_back([](QDialog& dialog) {
        controlById<QCheckBox>(dialog, 1053)->setChecked(true);
        dialog.close();
        return dialog.result();
    });
    EXPECT_EQ(run({}), 0);
    EXPECT_TRUE(launched.empty());
    EXPECT_EQ(fileBytes(settingsPath), recordBytes(stored));
}

TEST_F(SnifferAppRun, EscapeKeepsTheStoredMode) {
    SettingsRecord stored = defaultSettings();
    stored.snifferMode = 1;
    saveSettings(stored, settingsPath);
    user.dialogHandlers.push_back([](QDialog& dialog) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
        return dialog.result();
    });
    run({});
    EXPECT_EQ(launched, std::vector<int>{1});
}

TEST_F(SnifferAppRun, InstalledCopyRunsAtOnceWhateverTheLetterCase) {
    std::string shouted = sandbox.ownExecutable.string();
    std::transform(shouted.begin(), shouted.end(), shouted.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    recordInstallation(shouted, true);
    chooseMode(1050, false);
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(launched, std::vector<int>{0});
    EXPECT_TRUE(user.shown.empty());
}

TEST_F(SnifferAppRun, NoInstallSkipsTheInstallationCheck) {
    sandbox.registry.deleteKey(ProductKey);
    chooseMode(1051, false);
    EXPECT_EQ(run({"NOINSTALL"}), 0);
    EXPECT_EQ(launched, std::vector<int>{1});
    EXPECT_TRUE(user.dialogHandlers.empty());
}

TEST_F(SnifferAppRun, CopyElsewhereAsksAndNoHandsOverToTheInstalledCopy) {
    recordInstallation(otherInstallation, true);
    user.answers = {MessageAnswer::No};
    EXPECT_EQ(run({}), 0);
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, "Would you like to re-install Quillharbour Sniffer 1.5?");
    EXPECT_EQ(user.shown[0].message.caption, "Quillharbour Sniffer");
    EXPECT_EQ(user.shown[0].message.icon, MessageIcon::Question);
    EXPECT_EQ(user.shown[0].buttons, MessageButtons::YesNoCancel);
    ASSERT_EQ(sandbox.launcher.starts.size(), 1u);
    EXPECT_EQ(sandbox.launcher.starts[0].arguments,
              (std::vector<std::string>{otherInstallation, "NoInstall"}));
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(std::filesystem::exists(settingsPath));
}

TEST_F(SnifferAppRun, CancelEndsTheRunAndAnUnmarkedVersionIsOfferedAsAnInstall) {
    recordInstallation(otherInstallation, false);
    user.answers = {MessageAnswer::Cancel};
    EXPECT_EQ(run({}), 0);
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text,
              "Would you like to install version 1.5 of Quillharbour Sniffer?");
    EXPECT_TRUE(sandbox.launcher.starts.empty());
    EXPECT_TRUE(launched.empty());
}

TEST_F(SnifferAppRun, AnInstalledCopyThatCannotStartLeavesThisCopyRunning) {
    recordInstallation(otherInstallation, true);
    sandbox.launcher.succeeds = false;
    user.answers = {MessageAnswer::No};
    chooseMode(1050, false);
    EXPECT_EQ(run({}), 0);
    ASSERT_EQ(user.shown.size(), 2u);
    EXPECT_EQ(user.shown[1].message.text,
              "Unable to execute installed program, will now execute self contained program.");
    EXPECT_EQ(user.shown[1].message.icon, MessageIcon::Information);
    EXPECT_EQ(launched, std::vector<int>{0});
}

TEST_F(SnifferAppRun, WithoutAnInstallationTheAgreementAndInstallerRunBehindTheBackdrop) {
    sandbox.registry.deleteKey(ProductKey);
    const auto directory = sandbox.root() / "installed";
    answerAgreement(true);
    installInto(directory);
    EXPECT_EQ(run({}), 0);

    EXPECT_TRUE(user.dialogHandlers.empty());
    const std::string target = (directory / ExecutableName).string();
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_EQ(sandbox.registry.readValue(ProductKey, InstalledPathValueName), target);
    ASSERT_EQ(sandbox.launcher.starts.size(), 1u);
    EXPECT_EQ(sandbox.launcher.starts[0].arguments,
              (std::vector<std::string>{target, "NoInstall"}));
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(std::filesystem::exists(settingsPath));
}

TEST_F(SnifferAppRun, YesLeadsToTheAgreementAndDecliningItInstallsNothing) {
    recordInstallation(otherInstallation, true);
    user.answers = {MessageAnswer::Yes};
    answerAgreement(false);
    bool backdropShown = false;
    user.dialogHandlers.push_back([&](QDialog&) {
        backdropShown = true;
        return 0;
    });
    EXPECT_EQ(run({}), 0);
    EXPECT_FALSE(backdropShown);
    EXPECT_EQ(sandbox.registry.readValue(ProductKey, InstalledPathValueName), otherInstallation);
    EXPECT_TRUE(launched.empty());
}

TEST_F(SnifferAppRun, UninstallOptionRunsTheUninstaller) {
    user.dialogHandlers.push_back([](QDialog& dialog) {
        controlById<QPushButton>(dialog, 1091)->click();
        return dialog.result();
    });
    EXPECT_EQ(run({"UnInstall"}), 0);
    EXPECT_EQ(sandbox.endedWith, std::vector<int>{0});
    ASSERT_EQ(sandbox.launcher.starts.size(), 1u);
    EXPECT_EQ(sandbox.launcher.starts[0].arguments[0], "sh");
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(std::filesystem::exists(settingsPath));
}

TEST_F(SnifferAppRun, MessagesWithoutACaptionOfTheirOwnCarryTheRunningExecutablesName) {
    const std::filesystem::path renamed = sandbox.ownExecutable.parent_path() / "Sniffer Copy.bin";
    std::filesystem::rename(sandbox.ownExecutable, renamed);
    sandbox.environment.ownExecutablePath = renamed.string();
    sandbox.environment.temporaryDirectory = (sandbox.root() / "missing").string();
    user.dialogHandlers.push_back([](QDialog& dialog) {
        controlById<QPushButton>(dialog, 1091)->click();
        return dialog.result();
    });
    EXPECT_EQ(run({"UnInstall"}), 0);
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, "Un-able to remove executable file");
    EXPECT_EQ(user.shown[0].message.caption, "Sniffer Copy");
    setApplicationNameFromPath({});  // the other tests run as the product itself
}

TEST_F(SnifferAppRun, UnknownOwnPathEndsWithMinusOne) {
    recordInstallation(otherInstallation, true);
    sandbox.environment.ownExecutablePath.clear();
    EXPECT_EQ(run({}), -1);
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, "Fatal-initialization error #6");
    EXPECT_TRUE(launched.empty());
}

TEST(ModeChoice, HelpButtonAndLogo) {
    ScriptedDialogService user;
    PublishedSettings published;
    ModeChoiceDialog dialog(published);
    EXPECT_EQ(dialog.windowTitle(), "Quillharbour Sniffer Mode Choice");
    controlById<QPushButton>(dialog, 1052)->click();
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, ModeChoiceHelpText);
    EXPECT_EQ(user.shown[0].message.icon, MessageIcon::Information);

    QLabel* logo = controlById<QLabel>(dialog, 1061);
    EXPECT_EQ(logo->cursor().shape(), Qt::PointingHandCursor);
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(logo, &click);
    ASSERT_EQ(user.openedAddresses.size(), 1u);
    EXPECT_TRUE(user.openedAddresses[0].startsWith("http://"));
    EXPECT_FALSE(controlById<QCheckBox>(dialog, 1053)->isChecked());
}

// Whether `part` occurs pixel for pixel somewhere in `whole`.
bool containsImage(const QImage& whole, const QImage& part) {
    const QImage big = whole.convertToFormat(QImage::Format_RGB32);
    const QImage small = part.convertToFormat(QImage::Format_RGB32);
    // Candidates are tried at the part's first pixel that differs from its ground.
    QPoint anchor(-1, -1);
    for (int y = 0; y < small.height() && anchor.x() < 0; ++y) {
        for (int x = 0; x < small.width() && anchor.x() < 0; ++x) {
            if (small.pixel(x, y) != small.pixel(0, 0)) {
                anchor = QPoint(x, y);
            }
        }
    }
    for (int top = 0; top + small.height() <= big.height(); ++top) {
        for (int left = 0; left + small.width() <= big.width(); ++left) {
            if (anchor.x() >= 0 &&
                big.pixel(left + anchor.x(), top + anchor.y()) != small.pixel(anchor)) {
                continue;
            }
            if (big.copy(left, top, small.width(), small.height()) == small) {
                return true;
            }
        }
    }
    return false;
}

TEST(ModeChoice, BannerShowsNameAndVersionInTheLetteringOfTheProductImages) {
    ScriptedDialogService user;
    PublishedSettings published;
    ModeChoiceDialog dialog(published);
    const QImage banner = controlById<QLabel>(dialog, 1061)->pixmap().toImage();
    const auto drawnAtSomeSize = [&](const QString& text) {
        for (int pixelSize = 8; pixelSize <= 48; ++pixelSize) {
            const QImage letters = productLettersPixmap(text, pixelSize).toImage();
            if (letters.width() <= banner.width() && letters.height() <= banner.height() &&
                containsImage(banner, letters)) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(drawnAtSomeSize("Quillharbour Sniffer"));
    EXPECT_TRUE(drawnAtSomeSize("v1.5 (2003.Feb.09)"));
}

}  // namespace
}  // namespace qhs
