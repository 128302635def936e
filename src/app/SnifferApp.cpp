#include "app/SnifferApp.h"

#include <QApplication>
#include <QPalette>

#include "app/ApplicationName.h"
#include "app/CommandLine.h"
#include "app/DialogService.h"
#include "app/ModeChoiceDialog.h"
#include "setup/AgreementDialog.h"
#include "setup/InstallationRecord.h"
#include "setup/InstallerDialog.h"
#include "setup/SetupBackdrop.h"
#include "setup/SetupNames.h"
#include "setup/UninstallerDialog.h"

namespace qhs {

SnifferApp::SnifferApp(SettingsLocation settingsLocation, ModeWindows windows,
                       InstallEnvironment environment, std::string defaultOutputDirectory)
    : settingsLocation_(std::move(settingsLocation)),
      windows_(std::move(windows)),
      environment_(std::move(environment)),
      defaultOutputDirectory_(std::move(defaultOutputDirectory)) {
    setApplicationNameFromPath(environment_.ownExecutablePath);
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
            return runUninstaller();
        case CommandLineAction::StartWithInstallCheck:
            if (const std::optional<int> exitCode = checkInstallation()) {
                return *exitCode;
            }
            break;
        case CommandLineAction::StartWithoutInstall:
            break;
    }
    return runSniffingMode();
}

std::optional<int> SnifferApp::checkInstallation() {
    const std::optional<InstallationRecord> installed =
        readInstallationRecord(*environment_.registry);
    if (!installed) {
        return runInstallation();
    }
    if (environment_.ownExecutablePath.empty()) {
        dialogService().showMessage(nullptr, UserMessage{"Fatal-initialization error #6"});
        return -1;
    }
    if (isSameExecutablePath(installed->executablePath, environment_.ownExecutablePath)) {
        return std::nullopt;  // this is the installed copy
    }
    const UserMessage question{installed->reinstallQuestion(), std::string(ProductName),
                               MessageIcon::Question};
    switch (dialogService().showMessage(nullptr, question, MessageButtons::YesNoCancel)) {
        case MessageAnswer::Yes:
            return runInstallation();
        case MessageAnswer::No:
            if (environment_.launcher->startDetached(
                    {installed->executablePath, handOverArgumentWord()}, {})) {
                return 0;
            }
            dialogService().showMessage(
                nullptr, UserMessage{"Unable to execute installed program, will now execute self "
                                     "contained program.",
                                     std::string(ProductName), MessageIcon::Information});
            return std::nullopt;
        case MessageAnswer::Cancel:
        case MessageAnswer::Ok:
            break;
    }
    return 0;
}

int SnifferApp::runInstallation() {
    AgreementDialog agreement;
    dialogService().runModal(agreement);
    if (!agreement.agreed()) {
        return 0;
    }
    SetupBackdrop backdrop([this] {
        InstallerDialog installer(environment_);
        dialogService().runModal(installer);
    });
    dialogService().runModal(backdrop);
    return 0;
}

int SnifferApp::runUninstaller() {
    UninstallerDialog uninstaller(environment_);
    dialogService().runModal(uninstaller);
    return 0;
}

int SnifferApp::runSniffingMode() {
    settings_.change([this](SettingsRecord& record) {
        loadSettings(record, settingsLocation_.path, defaultOutputDirectory_,
                     settingsLocation_.seedPath);
    });
    saveSettings(settings_.current(), settingsLocation_.path);
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
