#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "app/Templates.h"

namespace qhs::fuzz {

// A broken property stops the run at once, so libFuzzer keeps the input as a crash.
#define QHS_FUZZ_REQUIRE(condition)                                                               \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                     \
        }                                                                                         \
    } while (false)

// One folder under the temporary directory for the whole process, emptied before each run
// and removed at exit, so a run costs no mkdtemp and leaves nothing behind.
class ScratchFolder {
  public:
    explicit ScratchFolder(const char* purpose) {
        std::string pattern = (std::filesystem::temp_directory_path() /
                               (std::string("qhs-fuzz-") + purpose + "-XXXXXX"))
                                  .string();
        const char* made = ::mkdtemp(pattern.data());
        QHS_FUZZ_REQUIRE(made != nullptr);
        path_ = made;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Removes everything inside, keeping the folder itself.
    void empty() const {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(path_, error)) {
            std::filesystem::remove_all(entry.path(), error);
        }
    }

  private:
    std::filesystem::path path_;
};

// The number of entries directly in `folder` when every one is a regular file (never a
// link, a folder or anything else); -1 otherwise.
inline long regularFileCount(const std::filesystem::path& folder) {
    long count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (!entry.is_regular_file(error) || entry.is_symlink(error)) {
            return -1;
        }
        ++count;
    }
    return error ? -1 : count;
}

inline std::string fileContents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFileContents(const std::filesystem::path& path, const std::uint8_t* data,
                              std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    QHS_FUZZ_REQUIRE(out.good());
}

// One fixed time, so that every expansion of a name template is the same in every run.
inline LocalTime fixedLocalTime() {
    return LocalTime{2004, 7, 9, 13, 5, 59, 42};
}

}  // namespace qhs::fuzz
