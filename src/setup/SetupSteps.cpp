#include "setup/SetupSteps.h"

#include <QBuffer>

#include "app/DialogService.h"
#include "app/Product.h"
#include "app/ProductArt.h"
#include "setup/AgreementDialog.h"
#include "setup/InstallationRecord.h"
#include "setup/InstallerDialog.h"
#include "setup/SetupBackdrop.h"
#include "setup/SetupNames.h"
#include "setup/UninstallerDialog.h"

namespace qhs {

namespace {

int runInstallation(const InstallEnvironment& environment) {
    AgreementDialog agreement;
    dialogService().runModal(agreement);
    if (!agreement.agreed()) {
        return 0;
    }
    SetupBackdrop backdrop([&environment] {
        InstallerDialog installer(environment);
        dialogService().runModal(installer);
    });
    dialogService().runModal(backdrop);
    return 0;
}

std::optional<int> checkInstallation(const InstallEnvironment& environment) {
    const std::optional<InstallationRecord> installed =
        readInstallationRecord(*environment.registry);
    if (!installed) {
        return runInstallation(environment);
    }
    if (environment.ownExecutablePath.empty()) {
        dialogService().showMessage(nullptr, UserMessage{"Fatal-initialization error #6"});
        return -1;
    }
    if (isSameExecutablePath(installed->executablePath, environment.ownExecutablePath)) {
        return std::nullopt;  // this is the installed copy
    }
    const UserMessage question{installed->reinstallQuestion(), std::string(ProductName),
                               MessageIcon::Question};
    switch (dialogService().showMessage(nullptr, question, MessageButtons::YesNoCancel)) {
        case MessageAnswer::Yes:
            return runInstallation(environment);
        case MessageAnswer::No:
            if (environment.launcher->startDetached(
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

// The installed copy's shortcuts show the window icon, as large as desktops draw launchers.
std::string iconPng() {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!applicationIconImage(256).save(&buffer, "PNG")) {
        return {};
    }
    return bytes.toStdString();
}

int runUninstaller(const InstallEnvironment& environment) {
    UninstallerDialog uninstaller(environment);
    dialogService().runModal(uninstaller);
    return 0;
}

}  // namespace

SetupSteps setupSteps(const InstallEnvironment& givenEnvironment) {
    InstallEnvironment environment = givenEnvironment;
    if (!environment.iconImage) {
        environment.iconImage = iconPng;
    }
    SetupSteps steps;
    steps.ownExecutablePath = environment.ownExecutablePath;
    // The environment is kept by value: the dialogs refer to it while they run.
    steps.checkInstallation = [environment] { return checkInstallation(environment); };
    steps.uninstall = [environment] { return runUninstaller(environment); };
    return steps;
}

}  // namespace qhs
