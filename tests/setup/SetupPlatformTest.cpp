#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A file system that keeps no file capabilities (ramfs, in a mount namespace of its own):
// the grant fails and the copy stays as it was, runnable by everyone.
TEST(LinuxSetupFiles, AGrantThatCannotTakeLeavesTheCopyAsItWas) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root grants capabilities";
    }
    TempDir root;
    const pid_t child = ::fork();
    if (child == 0) {
        const fs::path mounted = root.path() / "ramfs";
        fs::create_directories(mounted);
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("none", mounted.c_str(), "ramfs", 0, nullptr) != 0) {
            ::_exit(2);
        }
        const fs::path program = mounted / "program";
        writeText(program, "program bytes");
        ::chmod(program.c_str(), 0755);
        LinuxSetupFiles files("nogroup");
        const bool granted = files.allowCapture(program.string());
        struct stat facts {};
        ::stat(program.c_str(), &facts);
        ::_exit(!granted && (facts.st_mode & 07777) == 0755 && facts.st_uid == 0 &&
                        facts.st_gid == 0
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "no mount namespace with a ramfs here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
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
