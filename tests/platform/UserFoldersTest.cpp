#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/UserFolders.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

// The user's folders come from the environment; each case sets its own and puts it back.
class UserFolders : public testing::Test {
  protected:
    UserFolders() {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(
                name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    ~UserFolders() override {
        for (const auto& [name, value] : saved_) {
            value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
        }
    }
    void writeUserDirs(const std::string& line) {
        std::filesystem::create_directories(home + "/.config");
        std::ofstream(home + "/.config/user-dirs.dirs") << "# written by a test\n" << line << "\n";
    }

    TempDir dir;
    std::string home = dir.path().string();

  private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_F(UserFolders, DownloadFolderIsTheUsersOneElseHomeAlwaysWithASlash) {
    EXPECT_EQ(downloadFolder(), home + "/") << "no user-dirs.dirs";

    writeUserDirs("XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"");
    EXPECT_EQ(downloadFolder(), home + "/") << "named, but no such folder";
    std::filesystem::create_directory(home + "/Fetched");
    EXPECT_EQ(downloadFolder(), home + "/Fetched/");

    const std::string elsewhere = home + "/elsewhere";
    std::filesystem::create_directory(elsewhere);
    writeUserDirs("XDG_DOWNLOAD_DIR=\"" + elsewhere + "\"");
    EXPECT_EQ(downloadFolder(), elsewhere + "/");

    ::setenv("HOME", (home + "/gone").c_str(), 1);
    EXPECT_EQ(downloadFolder(), "/") << "neither folder exists";
}

// A copy in a folder of the user's own keeps its settings beside it; an installed one (in a
// folder of another user) keeps each user's own in their configuration folder, seeded from
// the file beside it. Root's configuration folder is never one an environment names.
TEST_F(UserFolders, SettingsLiveBesideAnOwnCopyAndInTheConfigFolderForAnInstalledOne) {
    namespace fs = std::filesystem;
    const bool root = ::geteuid() == 0;
    fs::create_directories(home + "/build");
    const SettingsLocation own =
        settingsLocation(home + "/build/QuillharbourSnifferV1.5.exe", false);
    EXPECT_EQ(own.path, home + "/build/QuillharbourSnifferV1.5.QHS");
    EXPECT_EQ(own.seedPath, "");
    EXPECT_EQ(own.newFileMode, root ? 0644u : 0600u);

    ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    std::string installedFolder = "/usr/bin";
    std::string config = home + "/config";
    if (root) {
        installedFolder = home + "/opt";
        fs::create_directories(installedFolder);
        ASSERT_EQ(::chown(installedFolder.c_str(), 65534, 65534), 0);
        config = std::string(::getpwuid(0)->pw_dir) + "/.config";
    }
    const SettingsLocation installed =
        settingsLocation(installedFolder + "/QuillharbourSnifferV1.5.exe", !root);
    EXPECT_EQ(installed.path, config + "/quillharbour/QuillharbourSnifferV1.5.QHS");
    EXPECT_EQ(installed.seedPath, installedFolder + "/QuillharbourSnifferV1.5.QHS");
    EXPECT_EQ(installed.newFileMode, 0600u);
    if (!root) {
        EXPECT_EQ(fs::status(config + "/quillharbour").permissions(), fs::perms(0700));
    }
}

}  // namespace
}  // namespace qhs
