#include "app/SnifferApp.h"

#include <QApplication>
#include <QPalette>

#include "app/CommandLine.h"
#include "app/DialogService.h"
#include "app/ModeChoiceDialog.h"

namespace qhs {

SnifferApp::SnifferApp(std::string settingsPath, ModeWindows windows)
    : settingsPath_(std::move(settingsPath)), windows_(std::move(windows)) {
    setDefaultSettings(settings_);
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
            // Removal has no implementation on this platform yet; the run ends.
            return 0;
        case CommandLineAction::StartWithInstallCheck:
        case CommandLineAction::StartWithoutInstall:
            break;
    }
    return runSniffingMode();
}

int SnifferApp::runSniffingMode() {
    loadSettings(settings_, settingsPath_);
    saveSettings(settings_, settingsPath_);
    applyDialogColours();

    if (settings_.showModeChoice != 0) {
        ModeChoiceDialog choice(settings_);
        dialogService().runModal(choice);
        if (choice.closedByCloseBox()) {
            return 0;
        }
    }
    if (settings_.snifferMode == 0 && windows_.packetSniffer) {
        return windows_.packetSniffer(settings_, settingsPath_);
    }
    if (settings_.snifferMode == 1 && windows_.fileSniffer) {
        return windows_.fileSniffer(settings_, settingsPath_);
    }
    return 0;
}

void SnifferApp::applyDialogColours() const {
    if (settings_.useWindowsColors != 0 || qApp == nullptr) {
        return;
    }
    // Grey dialogs with black text, unless the user asked for the system's colours.
    QPalette palette = QApplication::palette();
    const QColor grey(200, 200, 200);
    palette.setColor(QPalette::Window, grey);
    palette.setColor(QPalette::Button, grey);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::Text, Qt::black);
    QApplication::setPalette(palette);
}

}  // namespace qhs
