#include "platform/LinuxSetupFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace qhs {

namespace {

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int value = -1;
    ~Descriptor() {
        if (value >= 0) {
            ::close(value);
        }
    }
    bool close() {
        const int closing = value;
        value = -1;
        return ::close(closing) == 0;
    }
};

bool writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(descriptor, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

bool copyContents(int from, int to) {
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(from, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (!writeAll(to, std::string_view(buffer, static_cast<std::size_t>(count)))) {
            return false;
        }
    }
}

}  // namespace

void LinuxSetupFiles::createDirectory(const std::string& path) {
    ::mkdir(path.c_str(), 0755);
}

bool LinuxSetupFiles::copyExecutable(const std::string& from, const std::string& to) {
    Descriptor source{::open(from.c_str(), O_RDONLY | O_CLOEXEC)};
    if (source.value < 0) {
        return false;
    }
    // The copy goes to a temporary file beside the target and takes its place only when
    // complete; this also replaces a target that is running at the time.
    std::string temporary = to + ".XXXXXX";
    Descriptor target{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (target.value < 0) {
        return false;
    }
    const bool copied = copyContents(source.value, target.value) &&
                        ::fchmod(target.value, 0755) == 0 && ::fsync(target.value) == 0;
    if (!target.close() || !copied || ::rename(temporary.c_str(), to.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool LinuxSetupFiles::writeNewFile(const std::string& path, const std::string& contents,
                                   unsigned mode) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return false;
    }
    Descriptor file{::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           static_cast<mode_t>(mode))};
    if (file.value < 0) {
        return false;
    }
    const bool written =
        writeAll(file.value, contents) && ::fchmod(file.value, static_cast<mode_t>(mode)) == 0;
    if (!file.close() || !written) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

bool LinuxSetupFiles::isSameFile(const std::string& first, const std::string& second) {
    struct stat firstStatus {};
    struct stat secondStatus {};
    return ::stat(first.c_str(), &firstStatus) == 0 && ::stat(second.c_str(), &secondStatus) == 0 &&
           firstStatus.st_dev == secondStatus.st_dev && firstStatus.st_ino == secondStatus.st_ino;
}

void LinuxSetupFiles::removeFile(const std::string& path) {
    ::unlink(path.c_str());
}

}  // namespace qhs
