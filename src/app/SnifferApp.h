#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/PublishedSettings.h"

namespace qhs {

// Runs the main window of a mode modally over the run's settings and returns the process
// exit code once it has closed (the window saves the settings itself).
using ModeWindowRunner =
    std::function<int(PublishedSettings& settings, const std::string& settingsPath)>;

struct ModeWindows {
    ModeWindowRunner packetSniffer;
    ModeWindowRunner fileSniffer;  // empty until that mode has a window
};

// The installation steps of start-up, which setup/ provides (see setupSteps there).
struct SetupSteps {
    std::string ownExecutablePath;  // the running executable; names the messages
    // Before a mode runs: the exit code when the run ends here (installed, handed over to
    // the installed copy, cancelled), nothing when this copy goes on to a mode.
    std::function<std::optional<int>()> checkInstallation;
    // The un-installer; returns the exit code.
    std::function<int()> uninstall;
};

// The application object: evaluates the command line, removes or installs the program or
// hands over to the installed copy when that is wanted, otherwise loads the settings, asks
// for the mode unless one is remembered, and runs that mode's window.
class SnifferApp {
  public:
    // A first run's record names `defaultOutputDirectory` for File Sniffer Mode's files.
    SnifferApp(SettingsLocation settingsLocation, ModeWindows windows, SetupSteps setup,
               std::string defaultOutputDirectory = "/");

    // Returns the process exit code.
    int run(const std::vector<std::string>& arguments);

    const SettingsRecord& settings() const { return settings_.current(); }

  private:
    int runSniffingMode();
    void applyDialogColours() const;

    SettingsLocation settingsLocation_;
    ModeWindows windows_;
    SetupSteps setup_;
    std::string defaultOutputDirectory_;
    PublishedSettings settings_;
};

}  // namespace qhs
