#include "setup/Uninstaller.h"

#include "setup/SetupNames.h"
#include "setup/UninstallScript.h"

namespace qhs {

Uninstaller::Uninstaller(const InstallEnvironment& environment) : environment_(environment) {}

bool Uninstaller::uninstall() const {
    environment_.registry->deleteKey(UninstallKey);
    removeShortcuts();

    const std::string scriptPath = uninstallScriptPath(environment_.temporaryDirectory);
    // Without the program's own path there is nothing safe to remove: reported as a script
    // that cannot be written.
    const std::optional<std::string> script =
        uninstallScriptText(environment_.ownExecutablePath, scriptPath);
    // The temporary directory is shared with every user: a file someone else left under
    // the script's name is replaced, never run.
    if (!script || !environment_.files->writeNewFile(scriptPath, *script, 0700)) {
        return false;
    }
    environment_.launcher->startDetached({"sh", scriptPath}, "/");
    return true;
}

void Uninstaller::removeShortcuts() const {
    const ShortcutFolders& folders = environment_.shortcutFolders;
    for (const std::string* folder : {&folders.allUsersDesktop, &folders.userDesktop,
                                      &folders.allUsersStartMenu, &folders.userStartMenu}) {
        if (!folder->empty()) {
            environment_.files->removeFile(withTrailingSlash(*folder) +
                                           std::string(ShortcutFileName));
        }
    }
}

}  // namespace qhs
