#pragma once

#include "platform/PlatformLayer.h"

#include "setup/SetupFiles.h"

namespace qhs {

class LinuxSetupFiles final : public SetupFiles {
  public:
    void createDirectory(const std::string& path) override;
    bool copyExecutable(const std::string& from, const std::string& to) override;
    bool writeNewFile(const std::string& path, const std::string& contents, unsigned mode) override;
    bool isSameFile(const std::string& first, const std::string& second) override;
    void removeFile(const std::string& path) override;
};

}  // namespace qhs
