#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/CommandLine.h"
#include "app/ModeChoiceDialog.h"
#include "app/SnifferApp.h"
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

class SnifferAppRun : public testing::Test {
  protected:
    // Runs start-up with windows that note which mode ran and save as a closing window does.
    int run(const std::vector<std::string>& arguments) {
        ModeWindows windows;
        windows.packetSniffer = [this](SettingsRecord& settings, const std::string& path) {
            launched.push_back(0);
            saveSettings(settings, path);
            return 0;
        };
        windows.fileSniffer = [this](SettingsRecord& settings, const std::string& path) {
            launched.push_back(1);
            saveSettings(settings, path);
            return 0;
        };
        SnifferApp app(settingsPath, windows);
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

TEST(ModeChoice, HelpButtonAndLogo) {
    ScriptedDialogService user;
    SettingsRecord settings = defaultSettings();
    ModeChoiceDialog dialog(settings);
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

}  // namespace
}  // namespace qhs
