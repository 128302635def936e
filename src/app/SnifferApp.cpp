#include "app/SnifferApp.h"

#include <QApplication>
#include <QPalette>

#include "app/ApplicationName.h"
#include "app/CommandLine.h"
#include "app/DialogService.h"
#include "app/ModeChoiceDialog.h"
#include "app/Product.h"

namespace qhs {

SnifferApp::SnifferApp(SettingsLocation settingsLocation, ModeWindows windows, SetupSteps setup,
                       std::string defaultOutputDirectory)
    : settingsLocation_(std::move(settingsLocation)),
      windows_(std::move(windows)),
      setup_(std::move(setup)),
      defaultOutputDirectory_(std::move(defaultOutputDirectory)) {
    setApplicationNameFromPath(setup_.ownExecutablePath);
}

int SnifferApp::run(const std::vector<std::string>& arguments) {
    const auto productMessage = [](const char* text) {
        dialogService().showMessage(
            nullptr, UserMessage{text, std::string(ProductName), MessageIcon::Information});
    };
    switch (parseCommandLine(commandLineText(arguments))) {
        case CommandLineAction::ShowHelp:
            productMessage(CommandLineHelpText);
            return 0;
        case CommandLineAction::NotImplemented:
            productMessage(CommandLineNotImplementedText);
            return 0;
        case CommandLineAction::Uninstall:
            return setup_.uninstall ? setup_.uninstall() : 0;
        case CommandLineAction::StartWithInstallCheck:
            if (setup_.checkInstallation) {
                if (const std::optional<int> exitCode = setup_.checkInstallation()) {
                    return *exitCode;
                }
            }
            break;
        case CommandLineAction::StartWithoutInstall:
            break;
    }
    return runSniffingMode();
}

int SnifferApp::runSniffingMode() {
    settings_.change([this](SettingsRecord& record) {
        loadSettings(record, settingsLocation_.path, defaultOutputDirectory_,
                     settingsLocation_.seedPath);
    });
    saveSettings(settings_.current(), settingsLocation_.path, settingsLocation_.newFileMode);
    applyDialogColours();

    if (settings_.current().showModeChoice != 0) {
        ModeChoiceDialog choice(settings_);
        dialogService().runModal(choice);
        if (choice.closedByCloseBox()) {
            return 0;
        }
    }
    if (settings_.current().snifferMode == 0 && windows_.packetSniffer) {
        return windows_.packetSniffer(settings_, settingsLocation_.path);
    }
    if (settings_.current().snifferMode == 1 && windows_.fileSniffer) {
        return windows_.fileSniffer(settings_, settingsLocation_.path);
    }
    return 0;
}

void SnifferApp::applyDialogColours() const {
    if (settings_.current().useWindowsColors != 0 || qApp == nullptr) {
        return;
    }
    // Grey dialogs with black text, unless the user asked for the system's colours.
    QPalette palette = QApplication::palette();
    const QColor grey(200, 200, 200);
    palette.setColor(QPalette::Window, grey);
    palette.setColor(QPalette::Button, grey);
    // Black text for controls that can be used; a disabled one keeps a dimmed text, so a
    // Start or Stop that cannot be pressed does not look as if it could.
    const QColor dimmed(128, 128, 128);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
        palette.setColor(QPalette::Active, role, Qt::black);
        palette.setColor(QPalette::Inactive, role, Qt::black);
        palette.setColor(QPalette::Disabled, role, dimmed);
    }
    QApplication::setPalette(palette);
}

}  // namespace qhs
