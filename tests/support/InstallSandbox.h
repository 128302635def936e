#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FileInstallRegistry.h"
#include "platform/LinuxSetupFiles.h"
#include "setup/InstallEnvironment.h"
#include "setup/ProcessLauncher.h"
#include "support/TempDir.h"

namespace qhs {

// Notes what would have been started instead of starting it.
class RecordingLauncher : public ProcessLauncher {
  public:
    struct Start {
        std::vector<std::string> arguments;
        std::string workingDirectory;
    };
    std::vector<Start> starts;
    bool succeeds = true;

    bool startDetached(const std::vector<std::string>& arguments,
                       const std::string& workingDirectory) override {
        starts.push_back({arguments, workingDirectory});
        return succeeds;
    }
};

// An install environment rooted in a fresh temporary folder: the install registry, the
// running executable, the shortcut folders and the temporary directory all lie under
// root(). Files are real; programs are only recorded; ending the process is recorded.
class InstallSandbox {
  public:
    InstallSandbox() : registry(dir.path()) {
        namespace fs = std::filesystem;
        const fs::path running = dir.path() / "running";
        fs::create_directories(running);
        fs::create_directories(dir.path() / "tmp");
        fs::create_directories(dir.path() / "home/Desktop");
        ownExecutable = running / "QuillharbourSnifferV1.5.exe";
        std::ofstream(ownExecutable, std::ios::binary) << "#!/bin/sh\necho the program\n";

        environment.registry = &registry;
        environment.files = &files;
        environment.launcher = &launcher;
        environment.shortcutFolders.userDesktop = (dir.path() / "home/Desktop").string();
        environment.shortcutFolders.userStartMenu =
            (dir.path() / "home/.local/share/applications").string();
        environment.shortcutFolders.allUsersStartMenu =
            (dir.path() / "usr/local/share/applications").string();
        environment.ownExecutablePath = ownExecutable.string();
        environment.temporaryDirectory = (dir.path() / "tmp").string();
        environment.endProcess = [this](int exitCode) { endedWith.push_back(exitCode); };
        environment.iconImage = [this] { return iconImage; };
    }

    const std::filesystem::path& root() const { return dir.path(); }

    TempDir dir;
    FileInstallRegistry registry;
    // A group every Debian system has, so no test makes a group of its own.
    LinuxSetupFiles files{"nogroup"};
    RecordingLauncher launcher;
    std::filesystem::path ownExecutable;
    std::string iconImage = std::string("\x89PNG\r\n\x1a\n", 8) + "an icon";
    std::vector<int> endedWith;
    InstallEnvironment environment;
};

}  // namespace qhs
