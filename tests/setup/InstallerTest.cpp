#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "DesktopEntryReader.h"
#include "SetupFileChecks.h"
#include "setup/Installer.h"
#include "setup/SetupNames.h"
#include "setup/Uninstaller.h"
#include "support/CommandOutput.h"
#include "support/InstallSandbox.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;

class InstallerRun : public testing::Test {
  protected:
    InstallResult install(const std::string& directory, bool desktop = true, bool menu = true,
                          bool allUsers = false) {
        return Installer(sandbox.environment).install({directory, desktop, menu, allUsers});
    }

    std::optional<std::string> value(std::string_view key, std::string_view name) {
        return sandbox.registry.readValue(key, name);
    }

    fs::path userDesktopShortcut() const {
        return fs::path(sandbox.environment.shortcutFolders.userDesktop) / ShortcutFileName;
    }
    fs::path userMenuShortcut() const {
        return fs::path(sandbox.environment.shortcutFolders.userStartMenu) / ShortcutFileName;
    }
    fs::path allUsersMenuShortcut() const {
        return fs::path(sandbox.environment.shortcutFolders.allUsersStartMenu) / ShortcutFileName;
    }

    // The shortcut exists, starts exactly the target and shows the icon placed beside it.
    void expectShortcutTo(const fs::path& shortcut, const std::string& target) {
        ASSERT_TRUE(fs::exists(shortcut)) << shortcut;
        const std::string text = readText(shortcut);
        EXPECT_EQ(desktopEntryValue(text, "Type"), "Application");
        EXPECT_EQ(desktopEntryValue(text, "Name"), "Quillharbour Sniffer 1.5");
        EXPECT_EQ(desktopEntryValue(text, "Exec"), target);
        const std::string icon = (fs::path(target).parent_path() / IconFileName).string();
        EXPECT_EQ(desktopEntryValue(text, "Icon"), icon);
        EXPECT_EQ(readText(icon), sandbox.iconImage);
    }

    InstallSandbox sandbox;
};

TEST_F(InstallerRun, CopiesTheProgramMakesShortcutsAndRecordsTheInstallation) {
    const std::string directory = (sandbox.root() / "opt/Quillharbour Sniffer 1.5").string();
    const InstallResult result = install(directory);  // no trailing slash: added

    ASSERT_TRUE(result.installed);
    EXPECT_EQ(result.directory, directory + '/');
    const std::string target = directory + "/QuillharbourSnifferV1.5.exe";
    EXPECT_EQ(result.targetPath, target);
    EXPECT_EQ(readText(target), readText(sandbox.ownExecutable));
    if (::geteuid() == 0) {
        // Installed by root: the capture group alone runs it, and captures through it.
        struct stat facts {};
        ASSERT_EQ(::stat(target.c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mode & 07777, 0750u);
        EXPECT_EQ(facts.st_gid, ::getgrnam("nogroup")->gr_gid);
        EXPECT_EQ(commandOutput("getcap '" + target + "'"), target + " cap_net_raw=p\n");
        EXPECT_TRUE(result.captureAllowed);
        // No settings file that users would share.
        EXPECT_FALSE(fs::exists(directory + "/QuillharbourSnifferV1.5.QHS"));
    } else {
        EXPECT_TRUE(isExecutableByAll(target));
    }
    EXPECT_TRUE(isExecutableByAll(userDesktopShortcut()));
    expectShortcutTo(userDesktopShortcut(), target);
    expectShortcutTo(userMenuShortcut(), target);
    EXPECT_EQ(commandOutput("desktop-file-validate '" + userMenuShortcut().string() + "' 2>&1"),
              "");
    EXPECT_FALSE(fs::exists(allUsersMenuShortcut()));

    EXPECT_EQ(value("SOFTWARE\\Quillharbour\\Sniffer", "1.5EXENameAndPath"), target);
    EXPECT_EQ(value("SOFTWARE\\Quillharbour\\Sniffer", "1.5"), "1.5");
    const std::string uninstall =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillharbour Sniffer 1.5";
    EXPECT_EQ(value(uninstall, "DisplayName"), "Quillharbour Sniffer 1.5");
    EXPECT_EQ(value(uninstall, "UninstallString"), target + " UnInstall");
    EXPECT_EQ(value(uninstall, "DisplayIcon"), target);
    EXPECT_EQ(value(uninstall, "Inno Setup: App Path"), directory);
    EXPECT_EQ(value(uninstall, "Publisher"), "Quillharbour");
    EXPECT_EQ(value(uninstall, "HelpLink"), std::string(MakerWebSite));
    EXPECT_TRUE(std::string(MakerWebSite).ends_with("/"));

    EXPECT_TRUE(Installer(sandbox.environment).startInstalledCopy(result));
    ASSERT_EQ(sandbox.launcher.starts.size(), 1u);
    EXPECT_EQ(sandbox.launcher.starts[0].arguments,
              (std::vector<std::string>{target, "NoInstall"}));
    EXPECT_EQ(sandbox.launcher.starts[0].workingDirectory, directory + '/');
}

TEST_F(InstallerRun, InstallingWhereTheProgramRunsCopiesNothingButDoesTheRest) {
    const auto anHourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(sandbox.ownExecutable, anHourAgo);
    const InstallResult result = install(sandbox.ownExecutable.parent_path().string() + '/');

    ASSERT_TRUE(result.installed);
    EXPECT_EQ(fs::last_write_time(sandbox.ownExecutable), anHourAgo);
    EXPECT_EQ(result.targetPath, sandbox.ownExecutable.string());
    expectShortcutTo(userMenuShortcut(), result.targetPath);
    EXPECT_EQ(value(ProductKey, InstalledPathValueName), result.targetPath);
    EXPECT_EQ(value(UninstallKey, "DisplayIcon"), result.targetPath);
}

TEST_F(InstallerRun, AFailedCopyMakesNoShortcutsAndNoEntries) {
    writeText(sandbox.root() / "plain-file", "not a directory");
    for (const bool menu : {true, false}) {
        const InstallResult result =
            install((sandbox.root() / "plain-file/program").string(), true, menu);
        EXPECT_FALSE(result.installed);
    }
    EXPECT_FALSE(fs::exists(userDesktopShortcut()));
    EXPECT_FALSE(fs::exists(userMenuShortcut()));
    EXPECT_FALSE(fs::exists(sandbox.registry.filePath()));
}

TEST_F(InstallerRun, AllUsersShortcutGoesToTheSharedMenuAndNoDesktopIsMade) {
    const InstallResult result = install((sandbox.root() / "opt/qhs").string(), true, true, true);
    ASSERT_TRUE(result.installed);
    expectShortcutTo(allUsersMenuShortcut(), result.targetPath);
    EXPECT_FALSE(fs::exists(userDesktopShortcut()));
    EXPECT_FALSE(fs::exists(userMenuShortcut()));
}

// A directory name full of shell syntax installs there and nowhere else, and removing the
// program again runs none of it.
TEST_F(InstallerRun, HostileDirectoryNameRunsNoCommandAndWritesNowhereElse) {
    const fs::path marker = sandbox.root() / "pwned";
    const fs::path chosen =
        sandbox.root() / ("it's \"a\" $(touch " + marker.string() + ") `touch " + marker.string() +
                          "` 100% a\\b;|&\nline2");
    const auto before = filesBelow(sandbox.root());
    const InstallResult result = install(chosen.string());
    ASSERT_TRUE(result.installed);
    expectShortcutTo(userDesktopShortcut(), result.targetPath);
    EXPECT_EQ(value(ProductKey, InstalledPathValueName), result.targetPath);

    for (const fs::path& file : filesBelow(sandbox.root())) {
        const bool expected = before.contains(file) || file.parent_path() == chosen ||
                              file == sandbox.registry.filePath() ||
                              file.filename() == ShortcutFileName;
        EXPECT_TRUE(expected) << file;
    }

    // Removing it as the installed copy: decoys outside the chosen directory stay.
    writeText(chosen / SettingsFileName, "settings");
    writeText(sandbox.root() / ExecutableName, "decoy");
    writeText(sandbox.root() / SettingsFileName, "decoy");
    InstallEnvironment installedCopy = sandbox.environment;
    installedCopy.ownExecutablePath = result.targetPath;
    ASSERT_TRUE(Uninstaller(installedCopy).uninstall());
    const std::string script = sandbox.launcher.starts.back().arguments.back();
    EXPECT_EQ(runWithSh(script), 0);

    EXPECT_FALSE(fs::exists(chosen));
    EXPECT_FALSE(fs::exists(script));
    EXPECT_TRUE(fs::exists(chosen.parent_path()));
    EXPECT_EQ(readText(sandbox.root() / ExecutableName), "decoy");
    EXPECT_EQ(readText(sandbox.root() / SettingsFileName), "decoy");
    EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
}  // namespace qhs
