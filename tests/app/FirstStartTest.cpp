#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "app/CommandLine.h"
#include "app/SettingsRecord.h"
#include "support/CommandOutput.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

std::vector<char> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// Starts a copy of the built program in a folder of its own, without a display, waits
// until start-up has written its settings file (the mode choice then waits for the user)
// and ends it. Returns whether the file was written in time.
bool startCopyUntilSettingsWritten(const std::filesystem::path& folder) {
    const auto copy = folder / "QuillharbourSnifferV1.5.exe";
    const auto settings = folder / "QuillharbourSnifferV1.5.QHS";
    std::filesystem::copy_file(QHS_APP_PATH, copy,
                               std::filesystem::copy_options::overwrite_existing);
    const auto before = std::filesystem::exists(settings)
                            ? std::filesystem::last_write_time(settings)
                            : std::filesystem::file_time_type::min();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The folder stands in for the user's home, which holds no download folder.
        ::setenv("HOME", folder.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::execl(copy.c_str(), copy.c_str(), "noinstall", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    bool written = false;
    for (int i = 0; i < 200 && !written; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::error_code error;
        written = std::filesystem::file_size(settings, error) == sizeof(SettingsRecord) &&
                  std::filesystem::last_write_time(settings, error) != before;
        int status = 0;
        if (!written && ::waitpid(child, &status, WNOHANG) == child) {
            written = std::filesystem::file_size(settings, error) == sizeof(SettingsRecord);
            return written;
        }
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return written;
}

TEST(FirstStart, CreatesTheSettingsFileBesideTheExecutableHoldingTheDefaults) {
    TempDir dir;
    ASSERT_TRUE(startCopyUntilSettingsWritten(dir.path()));
    const auto settings = dir.path() / "QuillharbourSnifferV1.5.QHS";
    SettingsRecord defaults;
    setDefaultSettings(defaults, dir.path().string() + "/");  // files go to the user's home
    const auto* begin = reinterpret_cast<const char*>(&defaults);
    EXPECT_EQ(readFile(settings), std::vector<char>(begin, begin + sizeof defaults));
}

TEST(FirstStart, KeepsAnExistingSettingsFileAsItWas) {
    TempDir dir;
    SettingsRecord stored = defaultSettings();
    stored.snifferMode = 2;  // no window opens for an unknown mode
    stored.showModeChoice = 0;
    setTextField(stored.interfaceAddress, "10.1.2.3");
    const auto settings = dir.path() / "QuillharbourSnifferV1.5.QHS";
    ASSERT_TRUE(saveSettings(stored, settings.string()));
    std::filesystem::last_write_time(
        settings, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    ASSERT_TRUE(startCopyUntilSettingsWritten(dir.path()));
    const auto* begin = reinterpret_cast<const char*>(&stored);
    EXPECT_EQ(readFile(settings), std::vector<char>(begin, begin + sizeof stored));
}

TEST(FirstStart, WithoutADisplayHelpIsPrintedAndAnythingElseSaysWhyItCannotStart) {
    TempDir dir;
    const std::string run = "cd '" + dir.path().string() + "' && env -i PATH=/usr/bin:/bin '" +
                            std::string(QHS_APP_PATH) + "' ";
    for (const char* help : {"--help", "-h", "help", "/?"}) {
        EXPECT_EQ(commandOutput(run + help + " 2>&1; echo \"exit $?\""),
                  terminalHelpText() + "exit 0\n")
            << help;
    }
    for (const char* start : {"", "noinstall", "--version"}) {
        EXPECT_EQ(commandOutput(run + start + " 2>&1 >/dev/null; echo \"exit $?\""),
                  std::string("QuillharbourSnifferV1.5: ") + NoDisplayText + "\nexit 255\n")
            << start;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "nothing is written without a window";
    EXPECT_NE(terminalHelpText().find("\n-sniff "), std::string::npos);
}

}  // namespace
}  // namespace qhs
