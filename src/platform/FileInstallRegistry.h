#pragma once

#include "platform/PlatformLayer.h"

#include <filesystem>
#include <optional>
#include <string>

#include "setup/InstallRegistry.h"
#include "setup/RegistryDocument.h"

namespace qhs {

// The install registry kept in one file, etc/quillharbour/registry.ini under a root
// directory ("/" for the machine's own). Each change rewrites the whole file through a
// temporary file and a rename, so a reader sees the old file or the new one, never half.
class FileInstallRegistry final : public InstallRegistry {
  public:
    explicit FileInstallRegistry(const std::filesystem::path& root = "/");

    const std::filesystem::path& filePath() const { return filePath_; }

    std::optional<std::string> readValue(std::string_view key, std::string_view name) override;
    bool writeValues(std::string_view key, const std::vector<RegistryValue>& values) override;
    bool deleteKey(std::string_view key) override;

  private:
    // Nothing when the file exists but cannot be read: it must then not be overwritten.
    std::optional<RegistryDocument> load() const;
    bool store(const RegistryDocument& document) const;

    std::filesystem::path filePath_;
};

}  // namespace qhs
