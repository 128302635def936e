#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <condition_variable>
#include <mutex>

#include "app/GeneralSettingsDialog.h"
#include "app/SpeakerTune.h"
#include "support/QtWait.h"
#include "support/ScriptedDialogService.h"

namespace qhs {
namespace {

// What the fake player was asked to play; the test keeps it after the dialog is gone.
struct PlayLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> waves;
    int tunes = 0;
    bool holdWaves = false;  // a wave plays until the player is stopped
    bool stopped = false;
};

class FakePlayer : public SoundPlayer {
  public:
    explicit FakePlayer(std::shared_ptr<PlayLog> log) : log_(std::move(log)) {}
    bool playWaveFile(const std::string& path) override {
        std::unique_lock lock(log_->mutex);
        log_->waves.push_back(path);
        log_->changed.notify_all();
        log_->changed.wait(lock, [&] { return !log_->holdWaves || log_->stopped; });
        return path.ends_with(".wav") && !log_->stopped;  // stands for a readable wave file
    }
    bool playTones(std::span<const Tone> tones) override {
        std::lock_guard lock(log_->mutex);
        if (log_->stopped) {
            return false;
        }
        log_->tunes += tones.size() == SpeakerTune.size() ? 1 : 0;
        log_->changed.notify_all();
        return true;
    }
    void stop() override {
        std::lock_guard lock(log_->mutex);
        log_->stopped = true;
        log_->changed.notify_all();
    }
    void resume() override {
        std::lock_guard lock(log_->mutex);
        log_->stopped = false;
    }

  private:
    std::shared_ptr<PlayLog> log_;
};

class GeneralSettings : public testing::Test {
  protected:
    std::unique_ptr<GeneralSettingsDialog> open() {
        auto dialog = std::make_unique<GeneralSettingsDialog>(
            published, nullptr, std::make_unique<FakePlayer>(playLog));
        dialog->show();
        return dialog;
    }
    template <typename Widget = QLineEdit>
    static Widget* control(GeneralSettingsDialog& dialog, int id) {
        return controlById<Widget>(dialog, id);
    }
    static void click(GeneralSettingsDialog& dialog, int id) {
        control<QPushButton>(dialog, id)->click();
    }

    ScriptedDialogService user;
    PublishedSettings published;
    std::shared_ptr<PlayLog> playLog = std::make_shared<PlayLog>();
};

TEST_F(GeneralSettings, LoggingControlsFollowTheLogCheckBox) {
    published.change([](SettingsRecord& settings) { settings.logDataDec = 1; });
    published.change([](SettingsRecord& settings) {
        settings.logDataHex = 1;
    });  // two flags set: the first in the order Text, Dec, Hex wins
    auto dialog = open();
    EXPECT_TRUE(control<QRadioButton>(*dialog, 1027)->isChecked());
    const std::vector<int> loggingControls = {1119, 1121, 1120, 1025, 1026, 1027, 1028};
    for (int id : loggingControls) {
        EXPECT_FALSE(control<QWidget>(*dialog, id)->isEnabled()) << id;
    }
    control<QCheckBox>(*dialog, 1118)->click();
    for (int id : loggingControls) {
        EXPECT_TRUE(control<QWidget>(*dialog, id)->isEnabled()) << id;
    }
    EXPECT_TRUE(control<QWidget>(*dialog, 1122)->isEnabled());
}

TEST_F(GeneralSettings, ApplyStoresEveryControlAndTellsTheWindowOfTheColours) {
    published.change([](SettingsRecord& settings) { settings.autoLog = 1; });
    auto dialog = open();
    int colourMessages = 0;
    QObject::connect(dialog.get(), &GeneralSettingsDialog::colourSchemeChanged,
                     [&] { ++colourMessages; });
    control(*dialog, 1119)->setText("/tmp/capture.txt");
    control(*dialog, 1121)->setText("-5");
    control<QRadioButton>(*dialog, 1028)->setChecked(true);
    control<QCheckBox>(*dialog, 1118)->click();  // logging off: the values are still stored
    control(*dialog, 1122)->setText("/tmp/ding.wav");
    control<QCheckBox>(*dialog, 1125)->setChecked(true);
    control<QCheckBox>(*dialog, 1126)->setChecked(true);
    control<QCheckBox>(*dialog, 1127)->setChecked(false);
    control(*dialog, 1130)->setText("%SIP");
    control(*dialog, 1132)->setText("%H24");

    click(*dialog, 3);  // Apply
    EXPECT_EQ(colourMessages, 1);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(published.current().autoLog, 0);
    EXPECT_EQ(textField(published.current().logFilePath), "/tmp/capture.txt");
    EXPECT_EQ(published.current().logIntervalSeconds, -5);
    EXPECT_EQ(published.current().logDataText + published.current().logDataDec, 0);
    EXPECT_EQ(published.current().logDataHex, 1);
    EXPECT_EQ(textField(published.current().soundFilePath), "/tmp/ding.wav");
    EXPECT_EQ(published.current().noTaskbarBlink, 1);
    EXPECT_EQ(published.current().useWindowsColors, 1);
    EXPECT_EQ(published.current().showModeChoice, 0);
    EXPECT_EQ(textField(published.current().fileNameTemplate), "%SIP");
    EXPECT_EQ(textField(published.current().dateTimeTemplate), "%H24");

    control<QRadioButton>(*dialog, 1025)->setChecked(true);
    click(*dialog, 1);  // OK
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(colourMessages, 2);
    EXPECT_EQ(published.current().logDataHex, 0);
}

TEST_F(GeneralSettings, DefaultButtonsChangeTheRecordOnlyThroughApply) {
    published.change(
        [](SettingsRecord& settings) { setTextField(settings.fileNameTemplate, "mine"); });
    published.change(
        [](SettingsRecord& settings) { setTextField(settings.dateTimeTemplate, "%S"); });
    auto dialog = open();
    click(*dialog, 1131);
    click(*dialog, 1133);
    EXPECT_EQ(control(*dialog, 1130)->text(), "%SIP to %DIP - [%DAT]");
    EXPECT_EQ(control(*dialog, 1132)->text(), "%Y.%MY.%D - %H24:%MN:%S.%MS");
    click(*dialog, 2);  // Cancel
    EXPECT_EQ(textField(published.current().fileNameTemplate), "mine");
    EXPECT_EQ(textField(published.current().dateTimeTemplate), "%S");

    auto again = open();
    click(*again, 1131);
    click(*again, 3);
    EXPECT_EQ(textField(published.current().fileNameTemplate), "%SIP to %DIP - [%DAT]");
    EXPECT_EQ(textField(published.current().dateTimeTemplate), "%S");
}

TEST_F(GeneralSettings, AnyTextIsStoredWithinItsField) {
    auto dialog = open();
    const QString huge(2000, QLatin1Char('y'));
    for (int id : {1119, 1122, 1130, 1132}) {
        control(*dialog, id)->setText(huge);
    }
    const std::vector<std::pair<QString, std::int32_t>> intervals = {
        {"0", 0},
        {"-7", -7},
        {"abc", 0},
        {"", 0},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
        {huge, 0}};
    for (const auto& [text, seconds] : intervals) {
        control(*dialog, 1121)->setText(text);
        dialog->apply();
        EXPECT_EQ(published.current().logIntervalSeconds, seconds) << text.left(20).toStdString();
    }
    EXPECT_EQ(textField(published.current().logFilePath), std::string(1023, 'y'));
    EXPECT_EQ(textField(published.current().dateTimeTemplate), std::string(1023, 'y'));
    EXPECT_EQ(published.current().useWindowsColors, 0);  // the field after the sound path is intact
}

TEST_F(GeneralSettings, ChooseButtonsTakeThePickedPathAndIgnoreACancel) {
    published.change([](SettingsRecord& settings) { settings.autoLog = 1; });
    auto dialog = open();
    control(*dialog, 1119)->setText("/var/log/old.txt");
    click(*dialog, 1120);  // cancelled
    EXPECT_EQ(control(*dialog, 1119)->text(), "/var/log/old.txt");
    user.pickedPaths = {"/tmp/packets", "/tmp/ding.wav", "/tmp/no-such-chime"};
    click(*dialog, 1120);
    EXPECT_EQ(control(*dialog, 1119)->text(), "/tmp/packets.txt");
    click(*dialog, 1123);
    EXPECT_EQ(control(*dialog, 1122)->text(), "/tmp/ding.wav");
    click(*dialog, 1123);  // a name typed without an extension gets the wave files' one
    EXPECT_EQ(control(*dialog, 1122)->text(), "/tmp/no-such-chime.wav");
    EXPECT_EQ(textField(published.current().logFilePath), "");  // nothing is stored before Apply
}

TEST_F(GeneralSettings, TestPlaysTheTypedPathWithoutWaitingAndFallsBackToTheTune) {
    const auto waitForTunes = [&](int tunes) {
        std::unique_lock lock(playLog->mutex);
        return playLog->changed.wait_for(lock, std::chrono::seconds(5),
                                         [&] { return playLog->tunes == tunes; });
    };
    {
        auto dialog = open();
        click(*dialog, 1124);  // empty path: the tune
        EXPECT_TRUE(waitForTunes(1));
        EXPECT_TRUE(playLog->waves.empty());
        EXPECT_TRUE(waitUntil([&] { return !dialog->testSoundPlaying(); }));
        control(*dialog, 1122)->setText("/no/such/sound.mp3");
        click(*dialog, 1124);  // a file that does not play: the tune
        EXPECT_TRUE(waitForTunes(2));
    }
    playLog->stopped = false;  // the closed dialog stopped its player; this one has a new one
    playLog->holdWaves = true;
    auto dialog = open();
    control(*dialog, 1122)->setText("/sounds/long.wav");
    click(*dialog, 1124);  // returns while the sound still plays
    {
        std::unique_lock lock(playLog->mutex);
        ASSERT_TRUE(playLog->changed.wait_for(lock, std::chrono::seconds(5),
                                              [&] { return playLog->waves.size() == 2; }));
    }
    EXPECT_TRUE(dialog->testSoundPlaying());
    // A new Test while the last one plays cuts it short and starts the new sound, without
    // falling back to the tune for the cut one.
    control(*dialog, 1122)->setText("/sounds/other.wav");
    click(*dialog, 1124);
    {
        std::unique_lock lock(playLog->mutex);
        ASSERT_TRUE(playLog->changed.wait_for(lock, std::chrono::seconds(5),
                                              [&] { return playLog->waves.size() == 3; }));
    }
    EXPECT_EQ(playLog->waves.back(), "/sounds/other.wav");
    EXPECT_TRUE(dialog->testSoundPlaying());
    EXPECT_EQ(textField(published.current().soundFilePath), "");
    dialog.reset();  // closing cuts the sound short instead of waiting for its end
    EXPECT_TRUE(playLog->stopped);
    EXPECT_EQ(playLog->waves.size(), 3u);
    EXPECT_EQ(playLog->tunes, 2);
}

}  // namespace
}  // namespace qhs
