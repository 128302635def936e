#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qhs
