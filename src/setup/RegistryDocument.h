#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qhs {

// The text form of the install registry: one "[key path]" section per key, followed by its
// values as "name=value" lines, in the order they were written.
//
// Values are paths the user typed, so they may hold any byte: a backslash, a line feed and
// a carriage return are written as "\\", "\n" and "\r", and nothing around '=' is trimmed.
// Key paths and value names are the program's own and are written as they are.
class RegistryDocument {
  public:
    struct Value {
        std::string name;
        std::string data;
    };

    // Lines that are neither a section nor "name=value" (blank lines, ';' or '#' comments,
    // values before the first section) are skipped.
    static RegistryDocument parse(std::string_view text);
    std::string text() const;

    std::optional<std::string> value(std::string_view key, std::string_view name) const;
    // Creates the key when it is missing; a value of the same name is replaced in place.
    void setValue(std::string_view key, std::string_view name, std::string_view data);
    // Returns whether the key was there.
    bool removeKey(std::string_view key);

  private:
    struct Key {
        std::string path;
        std::vector<Value> values;
    };
    Key* findKey(std::string_view path);
    const Key* findKey(std::string_view path) const;

    std::vector<Key> keys_;
};

}  // namespace qhs
