#include "platform/LinuxProcessLauncher.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace qhs {

bool LinuxProcessLauncher::startDetached(const std::vector<std::string>& arguments,
                                         const std::string& workingDirectory) {
    if (arguments.empty()) {
        return false;
    }
    // Everything the children use is prepared here: after fork only async-signal-safe
    // calls are made.
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            int error = 0;
            if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) {
                error = errno;
            } else {
                ::execvp(argv[0], argv.data());
                error = errno;
            }
            [[maybe_unused]] const ssize_t ignored = ::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        if (grandchild < 0) {
            const int error = errno;
            [[maybe_unused]] const ssize_t ignored = ::write(report[1], &error, sizeof error);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t count = 0;
    do {
        count = ::read(report[0], &error, sizeof error);
    } while (count < 0 && errno == EINTR);
    ::close(report[0]);
    return count == 0;
}

}  // namespace qhs
