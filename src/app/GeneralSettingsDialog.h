#pragma once

#include <QDialog>
#include <atomic>
#include <memory>

#include "app/PublishedSettings.h"
#include "app/SoundPlayer.h"
#include "app/WorkerThread.h"

namespace Ui {
class GeneralSettingsDialog;
}

namespace qhs {

struct GeneralSettingsValues;

// Edits the settings that belong to no one window: automatic packet logging, the sound and
// the blink for new packets, the colour scheme, the mode choice at start-up and the two
// templates. Apply and OK write the record in memory only. Run it modally; a window that
// re-colours itself connects to colourSchemeChanged.
class GeneralSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    // `player` plays the Test sound; none means the sound card.
    explicit GeneralSettingsDialog(PublishedSettings& settings, QWidget* parent = nullptr,
                                   std::unique_ptr<SoundPlayer> player = nullptr);
    // Cuts a Test sound short and waits for its thread.
    ~GeneralSettingsDialog() override;

    // The buttons, callable by tests as a click would.
    void apply();
    void chooseLogFile();
    void chooseSoundFile();
    // Plays the sound path as typed, or the tune, and returns at once. A press while the
    // last Test sound still plays cuts that one short and starts the new one.
    void testSound();
    bool testSoundPlaying() const { return testSoundPlaying_.load(); }

  signals:
    // Sent by every Apply, after the record has been written, so the window can re-colour
    // itself from useWindowsColors.
    void colourSchemeChanged();

  private:
    void fillControls();
    GeneralSettingsValues currentValues() const;
    void updateLoggingControls();

    std::unique_ptr<Ui::GeneralSettingsDialog> ui_;
    PublishedSettings& settings_;
    std::unique_ptr<SoundPlayer> player_;
    WorkerThread testThread_;
    std::atomic<bool> testSoundPlaying_{false};
};

}  // namespace qhs
