#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/SettingsRecord.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

std::vector<char> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// Runs a copy of the built program in a folder of its own.
int runCopyIn(const std::filesystem::path& folder) {
    const auto copy = folder / "QuillharbourSnifferV1.5.exe";
    std::filesystem::copy_file(QHS_APP_PATH, copy,
                               std::filesystem::copy_options::overwrite_existing);
    const std::string command = "'" + copy.string() + "' noinstall";
    return std::system(command.c_str());
}

TEST(FirstStart, CreatesTheSettingsFileBesideTheExecutableHoldingTheDefaults) {
    TempDir dir;
    ASSERT_EQ(runCopyIn(dir.path()), 0);
    const auto settings = dir.path() / "QuillharbourSnifferV1.5.QHS";
    ASSERT_TRUE(std::filesystem::exists(settings));
    const SettingsRecord defaults = defaultSettings();
    const auto* begin = reinterpret_cast<const char*>(&defaults);
    EXPECT_EQ(readFile(settings), std::vector<char>(begin, begin + sizeof defaults));
}

TEST(FirstStart, KeepsAnExistingSettingsFileAsItWas) {
    TempDir dir;
    SettingsRecord stored = defaultSettings();
    stored.snifferMode = 2;  // no window opens for an unknown mode
    setTextField(stored.interfaceAddress, "10.1.2.3");
    const auto settings = dir.path() / "QuillharbourSnifferV1.5.QHS";
    ASSERT_TRUE(saveSettings(stored, settings.string()));
    ASSERT_EQ(runCopyIn(dir.path()), 0);
    const auto* begin = reinterpret_cast<const char*>(&stored);
    EXPECT_EQ(readFile(settings), std::vector<char>(begin, begin + sizeof stored));
}

}  // namespace
}  // namespace qhs
