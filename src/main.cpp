#include "app/SettingsRecord.h"
#include "platform/ProcessFacts.h"

int main() {
    // Start-up reads the settings beside the executable and writes them back at once, so a
    // first run leaves a settings file holding the defaults.
    const std::string settingsPath = qhs::settingsFilePath(qhs::executablePath());
    qhs::SettingsRecord settings;
    qhs::loadSettings(settings, settingsPath);
    qhs::saveSettings(settings, settingsPath);
    return 0;
}
