#pragma once

#include "platform/PlatformLayer.h"

#include <string>
#include <utility>

#include "setup/SetupFiles.h"

namespace qhs {

// The group whose members may capture through an installed copy.
inline constexpr const char* CaptureGroupName = "quillharbour-capture";

class LinuxSetupFiles final : public SetupFiles {
  public:
    // `captureGroup` is made a system group when allowCapture() finds it missing.
    explicit LinuxSetupFiles(std::string captureGroup = CaptureGroupName)
        : captureGroup_(std::move(captureGroup)) {}

    void createDirectory(const std::string& path) override;
    bool copyExecutable(const std::string& from, const std::string& to) override;
    bool writeNewFile(const std::string& path, const std::string& contents, unsigned mode) override;
    bool isSameFile(const std::string& first, const std::string& second) override;
    void removeFile(const std::string& path) override;
    // The executable becomes root's and the group's, runnable by them alone (0750), with
    // CAP_NET_RAW as a permitted file capability. When the capability does not take, the
    // executable is left as it was.
    bool allowCapture(const std::string& executablePath) override;

  private:
    std::string captureGroup_;
};

}  // namespace qhs
