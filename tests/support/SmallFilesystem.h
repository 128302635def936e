#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstddef>
#include <string>

#include "support/TempDir.h"

namespace qhs {

// A memory file system of a few kilobytes, mounted in a mount namespace private to the
// test process, so a test can fill a real disk. Needs root; mounted() tells whether it
// could be made.
class SmallFilesystem {
  public:
    explicit SmallFilesystem(std::size_t bytes) {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0) {
            return;
        }
        // Keeps the mount from propagating to the rest of the machine.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return;
        }
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = ::mount("qhs-test", dir_.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallFilesystem() {
        if (mounted_) {
            ::umount2(dir_.path().c_str(), MNT_DETACH);
        }
    }
    SmallFilesystem(const SmallFilesystem&) = delete;
    SmallFilesystem& operator=(const SmallFilesystem&) = delete;

    bool mounted() const { return mounted_; }
    std::string file(const std::string& name) const { return (dir_.path() / name).string(); }

  private:
    TempDir dir_;
    bool mounted_ = false;
};

}  // namespace qhs
