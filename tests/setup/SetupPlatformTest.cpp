#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "SetupFileChecks.h"
#include "platform/FileInstallRegistry.h"
#include "platform/LinuxProcessLauncher.h"
#include "platform/LinuxSetupFiles.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;

TEST(FileInstallRegistry, AnUnreadableRegistryIsNeverOverwritten) {
    TempDir root;
    FileInstallRegistry registry(root.path());
    fs::create_directories(registry.filePath());  // a directory where the file should be
    EXPECT_FALSE(registry.writeValues("A", {{"x", "1"}}));
    EXPECT_FALSE(registry.deleteKey("A"));
    EXPECT_TRUE(fs::is_directory(registry.filePath()));
}

TEST(LinuxSetupFiles, CopyReplacesATargetAndFailsWithoutLeavingParts) {
    TempDir root;
    LinuxSetupFiles files;
    const fs::path source = root.path() / "source";
    const fs::path target = root.path() / "target";
    writeText(source, "program bytes");
    writeText(target, "old");
    ::chmod(target.c_str(), 0400);

    ASSERT_TRUE(files.copyExecutable(source, target));
    EXPECT_EQ(readText(target), "program bytes");
    EXPECT_TRUE(isExecutableByAll(target));

    EXPECT_FALSE(files.copyExecutable((root.path() / "missing").string(), target));
    EXPECT_FALSE(files.copyExecutable(source, (root.path() / "no/such/dir/target").string()));
    EXPECT_EQ(readText(target), "program bytes");
    EXPECT_EQ(filesBelow(root.path()), (std::set<fs::path>{source, target}));
}

TEST(LinuxProcessLauncher, StartsInTheGivenDirectoryOrReportsFailure) {
    TempDir root;
    LinuxProcessLauncher launcher;
    ASSERT_TRUE(launcher.startDetached({"sh", "-c", "pwd > where.tmp && mv where.tmp where"},
                                       root.path().string()));
    const fs::path where = root.path() / "where";
    for (int i = 0; i < 500 && !fs::exists(where); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(readText(where), root.path().string() + '\n');

    EXPECT_FALSE(launcher.startDetached({(root.path() / "no such program").string()}, {}));
    EXPECT_FALSE(launcher.startDetached({"sh"}, (root.path() / "no such folder").string()));
}

}  // namespace
}  // namespace qhs
