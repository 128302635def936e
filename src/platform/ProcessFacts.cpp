#include "platform/ProcessFacts.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace qhs {

std::string executablePath() {
    char path[10000];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0) {
        return {};
    }
    return std::string(path, static_cast<std::size_t>(length));
}

std::uint64_t availableMemoryBytes() {
    std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
    if (meminfo == nullptr) {
        return 0;
    }
    char line[256];
    std::uint64_t kilobytes = 0;
    while (std::fgets(line, sizeof line, meminfo) != nullptr) {
        unsigned long long value = 0;
        if (std::sscanf(line, "MemAvailable: %llu kB", &value) == 1) {
            kilobytes = value;
            break;
        }
    }
    std::fclose(meminfo);
    return kilobytes * 1024;
}

namespace {

void setThreadNice(int nice) {
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, thread, nice);
}

}  // namespace

void raiseThreadPriority() {
    setThreadNice(-1);
}

void lowerThreadPriority() {
    setThreadNice(1);
}

void lowerThreadPriorityFar() {
    setThreadNice(10);
}

}  // namespace qhs
