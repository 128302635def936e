#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qhs {

struct RegistryValue {
    std::string name;
    std::string data;
};

// The machine-wide store the installer writes, start-up reads and the un-installer cleans:
// keys named by paths, each holding named string values.
class InstallRegistry {
  public:
    virtual ~InstallRegistry() = default;

    // The value, or nothing when the key or the value is missing or the store unreadable.
    virtual std::optional<std::string> readValue(std::string_view key, std::string_view name) = 0;
    // Creates the key when missing and writes the values in order. False when the store
    // could not be written; the store is then as it was.
    virtual bool writeValues(std::string_view key, const std::vector<RegistryValue>& values) = 0;
    // Removes the key and its values; a missing key counts as removed.
    virtual bool deleteKey(std::string_view key) = 0;
};

}  // namespace qhs
