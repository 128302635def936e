#include "platform/LinuxSetupFiles.h"

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "app/Descriptor.h"

namespace qhs {

namespace {

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

namespace {

// The id of the group, made as a system group when missing; -1 when there is none.
gid_t captureGroupId(const std::string& name) {
    if (const group* existing = ::getgrnam(name.c_str())) {
        return existing->gr_gid;
    }
    // Only groupadd knows every place the system keeps its groups. It is named by its path,
    // as root's search path may lack the system folders.
    std::string command = "/usr/sbin/groupadd";
    std::string option = "--system";
    std::string groupName = name;
    char* const arguments[] = {command.data(), option.data(), groupName.data(), nullptr};
    char* const environment[] = {nullptr};
    pid_t child = 0;
    int status = 0;
    if (::posix_spawn(&child, command.c_str(), nullptr, nullptr, arguments, environment) != 0 ||
        ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return static_cast<gid_t>(-1);
    }
    const group* made = ::getgrnam(name.c_str());
    return made != nullptr ? made->gr_gid : static_cast<gid_t>(-1);
}

bool setCaptureCapabilities(int descriptor) {
    cap_t capabilities = cap_from_text("cap_net_raw=p");
    if (capabilities == nullptr) {
        return false;
    }
    const bool set = cap_set_fd(descriptor, capabilities) == 0;
    cap_free(capabilities);
    return set;
}

}  // namespace

bool LinuxSetupFiles::allowCapture(const std::string& executablePath) {
    if (::geteuid() != 0) {
        return false;
    }
    const gid_t group = captureGroupId(captureGroup_);
    if (group == static_cast<gid_t>(-1)) {
        return false;
    }
    Descriptor executable{::open(executablePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
    struct stat before {};
    if (executable.value < 0 || ::fstat(executable.value, &before) != 0 ||
        !S_ISREG(before.st_mode)) {
        return false;
    }
    // A change of owner drops file capabilities, so they are set last.
    if (::fchown(executable.value, 0, group) == 0 && ::fchmod(executable.value, 0750) == 0 &&
        setCaptureCapabilities(executable.value)) {
        return true;
    }
    // A file system that keeps no file capabilities: closed to the group's outsiders, the
    // copy would serve no one, so it goes back to what it was.
    if (::fchown(executable.value, before.st_uid, before.st_gid) == 0) {
        ::fchmod(executable.value, before.st_mode & 07777);
    }
    return false;
}

}  // namespace qhs
