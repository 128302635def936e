#pragma once

#include <dirent.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <set>
#include <string>

namespace qhs {

// What the kernel says a thread of this process is doing, so a test can tell that a worker
// has reached a blocking wait instead of guessing how long it takes to get there.

inline pid_t currentThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// The threads of this process now.
inline std::set<pid_t> threadsOfThisProcess() {
    std::set<pid_t> threads;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] != '.') {
                threads.insert(static_cast<pid_t>(std::stol(entry->d_name)));
            }
        }
        ::closedir(tasks);
    }
    return threads;
}

// Whether `thread` is blocked in one of the system calls `numbers` (SYS_poll, ...); when it
// is, `firstArgument` is set to that call's first argument.
inline bool blockedInSystemCall(pid_t thread, std::initializer_list<long> numbers,
                                std::uintptr_t* firstArgument = nullptr) {
    // The file reads "running", or the call's number and then its arguments in hex.
    std::ifstream in("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    std::string argument;
    if (!(in >> number >> argument)) {
        return false;
    }
    for (const long wanted : numbers) {
        if (number == wanted) {
            if (firstArgument != nullptr) {
                *firstArgument = static_cast<std::uintptr_t>(std::stoull(argument, nullptr, 16));
            }
            return true;
        }
    }
    return false;
}

// Whether `thread` is blocked waiting for `mutex`, held by another thread: it sleeps on the
// futex word at the start of the mutex.
inline bool waitsForMutex(pid_t thread, const std::mutex& mutex) {
    std::uintptr_t futexWord = 0;
    return blockedInSystemCall(thread, {SYS_futex}, &futexWord) &&
           futexWord == reinterpret_cast<std::uintptr_t>(&mutex);
}

}  // namespace qhs
