#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/SettingsRecord.h"

namespace qhs {

// Runs the main window of a mode modally over the run's settings and returns the process
// exit code once it has closed (the window saves the settings itself).
using ModeWindowRunner =
    std::function<int(SettingsRecord& settings, const std::string& settingsPath)>;

struct ModeWindows {
    ModeWindowRunner packetSniffer;
    ModeWindowRunner fileSniffer;  // empty until that mode has a window
};

// The application object: evaluates the command line, loads the settings, asks for the
// mode unless one is remembered, and runs that mode's window.
class SnifferApp {
  public:
    SnifferApp(std::string settingsPath, ModeWindows windows);

    // Returns the process exit code.
    int run(const std::vector<std::string>& arguments);

    const SettingsRecord& settings() const { return settings_; }

  private:
    int runSniffingMode();
    void applyDialogColours() const;

    std::string settingsPath_;
    ModeWindows windows_;
    SettingsRecord settings_{};
};

}  // namespace qhs
