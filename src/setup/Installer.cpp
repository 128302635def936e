#include "setup/Installer.h"

#include <filesystem>
#include <system_error>

#include "setup/DesktopEntry.h"
#include "setup/SetupNames.h"

namespace qhs {

namespace {

// A relative directory would leave the registry and the shortcuts naming a path that
// means something else from every other working directory.
std::string absoluteDirectory(const std::string& directory) {
    if (directory.front() == '/') {
        return directory;
    }
    std::error_code error;
    const std::filesystem::path base = std::filesystem::current_path(error);
    if (error) {
        return directory;
    }
    return withTrailingSlash((base / directory).string());
}

}  // namespace

Installer::Installer(const InstallEnvironment& environment) : environment_(environment) {}

InstallResult Installer::install(const InstallChoices& choices) const {
    InstallResult result;
    result.directory = absoluteDirectory(withTrailingSlash(choices.directory));
    result.targetPath = result.directory + std::string(ExecutableName);

    createDirectoryChain(result.directory);
    result.installed = placeExecutable(result.targetPath);
    if (!result.installed) {
        return result;
    }
    // Installed by root, the copy lets the capture group capture without being root. Each
    // user's settings live in their own configuration folder: the installer makes no
    // settings file that users share.
    result.captureAllowed = environment_.files->allowCapture(result.targetPath);
    const std::string iconPath = placeIcon(result.directory);
    const ShortcutFolders& folders = environment_.shortcutFolders;
    if (choices.desktopShortcut) {
        // Desktops start a launcher lying on them only when it is executable.
        createShortcut(choices.forAllUsers ? folders.allUsersDesktop : folders.userDesktop,
                       result.targetPath, iconPath, 0755);
    }
    if (choices.startMenuShortcut) {
        const std::string& menu =
            choices.forAllUsers ? folders.allUsersStartMenu : folders.userStartMenu;
        if (!menu.empty()) {
            createDirectoryChain(withTrailingSlash(menu));
        }
        createShortcut(menu, result.targetPath, iconPath, 0644);
    }
    registerInstallation(result);
    return result;
}

bool Installer::startInstalledCopy(const InstallResult& result) const {
    return environment_.launcher->startDetached({result.targetPath, handOverArgumentWord()},
                                                result.directory);
}

void Installer::createDirectoryChain(const std::string& directory) const {
    for (std::size_t slash = directory.find('/', 1); slash != std::string::npos;
         slash = directory.find('/', slash + 1)) {
        environment_.files->createDirectory(directory.substr(0, slash));
    }
}

bool Installer::placeExecutable(const std::string& targetPath) const {
    // Installing into the directory the program runs from: the file is already there.
    if (environment_.files->isSameFile(environment_.ownExecutablePath, targetPath)) {
        return true;
    }
    return environment_.files->copyExecutable(environment_.ownExecutablePath, targetPath);
}

std::string Installer::placeIcon(const std::string& directory) const {
    const std::string image = environment_.iconImage ? environment_.iconImage() : std::string();
    const std::string path = directory + std::string(IconFileName);
    if (image.empty() || !environment_.files->writeNewFile(path, image, 0644)) {
        return {};
    }
    return path;
}

void Installer::createShortcut(const std::string& folder, const std::string& targetPath,
                               const std::string& iconPath, unsigned mode) const {
    if (folder.empty()) {
        return;  // no such place on this system
    }
    environment_.files->writeNewFile(
        withTrailingSlash(folder) + std::string(ShortcutFileName),
        desktopEntryText(ProductTitle, ProductName, targetPath, iconPath), mode);
}

void Installer::registerInstallation(const InstallResult& result) const {
    InstallRegistry& registry = *environment_.registry;
    registry.writeValues(ProductKey,
                         {
                             {std::string(InstalledPathValueName), result.targetPath},
                             {std::string(VersionMarkerValueName), std::string(ProductVersion)},
                         });
    std::string appPath = result.directory;
    if (appPath.size() > 1) {
        appPath.pop_back();
    }
    registry.writeValues(UninstallKey, {
                                           {"DisplayName", std::string(ProductTitle)},
                                           {"UninstallString",
                                            result.targetPath + ' ' + std::string(UninstallOption)},
                                           {"DisplayIcon", result.targetPath},
                                           {"Inno Setup: App Path", appPath},
                                           {"Publisher", std::string(Publisher)},
                                           {"HelpLink", std::string(MakerWebSite)},
                                       });
}

}  // namespace qhs
