#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "SetupFileChecks.h"
#include "setup/Installer.h"
#include "setup/SetupNames.h"
#include "setup/Uninstaller.h"
#include "support/InstallSandbox.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;

// An installed copy under the sandbox, with its settings file, running as itself.
class UninstallerRun : public testing::Test {
  protected:
    void SetUp() override {
        installed =
            Installer(sandbox.environment).install({programDirectory.string(), true, true, false});
        ASSERT_TRUE(installed.installed);
        writeText(programDirectory / SettingsFileName, "settings");
        sandbox.environment.ownExecutablePath = installed.targetPath;
    }

    fs::path scriptPath() const { return sandbox.root() / "tmp" / "Quillharbour Sniffer1.5.sh"; }

    InstallSandbox sandbox;
    fs::path programDirectory = sandbox.root() / "opt/Quillharbour Sniffer 1.5";
    InstallResult installed;
};

TEST_F(UninstallerRun, RemovesEntryAndShortcutsKeepsTheProductKeyAndStartsTheScript) {
    ASSERT_TRUE(Uninstaller(sandbox.environment).uninstall());

    EXPECT_EQ(sandbox.registry.readValue(UninstallKey, "DisplayName"), std::nullopt);
    EXPECT_EQ(sandbox.registry.readValue(ProductKey, InstalledPathValueName), installed.targetPath);
    EXPECT_EQ(sandbox.registry.readValue(ProductKey, "1.5"), "1.5");
    for (const std::string& folder : {sandbox.environment.shortcutFolders.userDesktop,
                                      sandbox.environment.shortcutFolders.userStartMenu}) {
        EXPECT_FALSE(fs::exists(fs::path(folder) / ShortcutFileName)) << folder;
    }
    ASSERT_EQ(sandbox.launcher.starts.size(), 1u);
    EXPECT_EQ(sandbox.launcher.starts[0].arguments,
              (std::vector<std::string>{"sh", scriptPath().string()}));
    // Nothing is deleted before the program has ended.
    EXPECT_TRUE(fs::exists(installed.targetPath));
}

TEST_F(UninstallerRun, ScriptRemovesTheFilesTheEmptyDirectoryAndItself) {
    ASSERT_TRUE(Uninstaller(sandbox.environment).uninstall());
    EXPECT_EQ(runWithSh(scriptPath()), 0);
    EXPECT_FALSE(fs::exists(programDirectory));
    EXPECT_FALSE(fs::exists(scriptPath()));
    EXPECT_TRUE(fs::exists(programDirectory.parent_path()));
}

TEST_F(UninstallerRun, ScriptLeavesADirectoryThatHoldsOtherFiles) {
    writeText(programDirectory / "saved packets.txt", "kept");
    ASSERT_TRUE(Uninstaller(sandbox.environment).uninstall());
    EXPECT_EQ(runWithSh(scriptPath()), 0);
    EXPECT_EQ(readText(programDirectory / "saved packets.txt"), "kept");
    EXPECT_FALSE(fs::exists(programDirectory / ExecutableName));
    EXPECT_FALSE(fs::exists(programDirectory / SettingsFileName));
    EXPECT_FALSE(fs::exists(programDirectory / IconFileName));
}

TEST_F(UninstallerRun, WithoutItsOwnPathItWritesNoScriptAndSaysSo) {
    for (const std::string unknown : {"", "QuillharbourSnifferV1.5.exe"}) {
        sandbox.environment.ownExecutablePath = unknown;
        EXPECT_FALSE(Uninstaller(sandbox.environment).uninstall()) << unknown;
        EXPECT_FALSE(fs::exists(scriptPath())) << unknown;
    }
    EXPECT_TRUE(sandbox.launcher.starts.empty());
    EXPECT_EQ(sandbox.registry.readValue(UninstallKey, "DisplayName"), std::nullopt);
    EXPECT_TRUE(fs::exists(installed.targetPath));
}

TEST_F(UninstallerRun, AFileLeftAtTheScriptsPathIsReplacedNotFollowed) {
    const fs::path victim = sandbox.root() / "victim";
    writeText(victim, "untouched");
    fs::create_symlink(victim, scriptPath());

    ASSERT_TRUE(Uninstaller(sandbox.environment).uninstall());
    EXPECT_EQ(readText(victim), "untouched");
    EXPECT_FALSE(fs::is_symlink(scriptPath()));
    struct stat status {};
    ASSERT_EQ(::stat(scriptPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace qhs
