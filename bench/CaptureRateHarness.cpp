// Capture at line rate, ours beside tcpdump: a sender process pushes a fixed load of UDP
// datagrams, over IPv4 and over IPv6, across the loopback device as fast as one core allows
// (sendmmsg), once for each capturer, and each capturer runs as a process of its own so that its
// CPU time and peak memory are its alone. Ours is the Packet Sniffer window open offscreen
// (libpcap, capture loop, rows, store slots and the list's model, filters off); tcpdump writes to
// /dev/null. Both take incoming frames only (tcpdump -Q in; ours leaves the loopback's outgoing
// copies out itself) and both get a buffer of about 10,000,000 bytes (tcpdump -B 9766). The
// capturers run one after the other, not together, so neither steals the other's core. Needs root;
// the run has a network namespace of its own.
//   sudo build/bench/bench_capture_rate [datagrams per size] [--warm-memory] [--rate N]
// --rate N paces the sender to N datagrams a second, so that both families (IPv6 is slower
// to send) arrive at the same rate and a capturer's wake-ups are spread over as many
// datagrams in either.
// --warm-memory backs and frees enough memory right before each capturer starts, for
// machines whose hypervisor takes freed memory back (see warmFreeMemory).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include "TcpdumpSummary.h"
#include "packetmode/PacketListModel.h"
#include "packetmode/PacketSnifferDialog.h"
#include "platform/HugePageSlabMemory.h"
#include "platform/LinuxServices.h"
#include "support/PrivateNetwork.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint16_t LoadPort = 40200;

// Datagrams a second the sender keeps to (--rate); 0 sends as fast as it can.
std::uint64_t senderRate = 0;

struct Measurement {
    bool ok = false;
    std::uint64_t received = 0;
    std::uint64_t dropped = 0;
    double seconds = 0;                   // from the first send until the capturer fell idle
    std::uint64_t lostBeforeCapture = 0;  // dropped at the loopback's input queue
    double cpuSeconds = 0;
    double mainThreadSeconds = 0;          // during the load
    double busiestOtherThreadSeconds = 0;  // during the load
    long peakKilobytes = 0;
};

// Sends `count` UDP datagrams of `ipBytes` bytes each (IP header included) to the loopback
// port in batches, to 127.0.0.1 or to ::1; returns the child's process id.
pid_t startSender(std::size_t ipBytes, bool ipv6, std::uint64_t count) {
    const pid_t child = ::fork();
    if (child != 0) {
        return child;
    }
    const int family = ipv6 ? AF_INET6 : AF_INET;
    const int sink = ::socket(family, SOCK_DGRAM, 0);
    const int sender = ::socket(family, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(LoadPort);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 target6{};
    target6.sin6_family = AF_INET6;
    target6.sin6_port = htons(LoadPort);
    target6.sin6_addr = in6addr_loopback;
    const auto* address = ipv6 ? reinterpret_cast<const sockaddr*>(&target6)
                               : reinterpret_cast<const sockaddr*>(&target);
    const socklen_t addressLength = ipv6 ? sizeof target6 : sizeof target;
    // A bound receiver keeps the load from raising port-unreachable replies.
    if (sink < 0 || sender < 0 || ::bind(sink, address, addressLength) != 0 ||
        ::connect(sender, address, addressLength) != 0) {
        ::_exit(1);
    }
    constexpr std::size_t batch = 256;
    // The IP and UDP headers: 20 + 8 bytes, or 40 + 8 for IPv6.
    std::vector<std::uint8_t> payload(ipBytes - (ipv6 ? 48 : 28), 0x5A);
    std::vector<iovec> parts(batch);
    std::vector<mmsghdr> messages(batch);
    for (std::size_t i = 0; i < batch; ++i) {
        parts[i] = {payload.data(), payload.size()};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    std::uint64_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    while (sent < count) {
        if (senderRate > 0) {
            // Each batch waits for its turn on the schedule.
            std::this_thread::sleep_until(
                start + std::chrono::nanoseconds(sent * 1'000'000'000 / senderRate));
        }
        const auto wanted = static_cast<unsigned>(std::min<std::uint64_t>(batch, count - sent));
        const int done = ::sendmmsg(sender, messages.data(), wanted, 0);
        if (done < 0) {
            if (errno == ENOBUFS || errno == EAGAIN || errno == EINTR) {
                continue;
            }
            ::_exit(2);
        }
        sent += static_cast<std::uint64_t>(done);
    }
    ::_exit(0);
}

// Datagrams the kernel dropped because a CPU's input queue was full: the loopback device
// queues each frame there before any capture sees it as incoming.
std::uint64_t inputQueueDrops() {
    std::ifstream table("/proc/net/softnet_stat");
    std::string processed;
    std::string dropped;
    std::string rest;
    std::uint64_t total = 0;
    while (table >> processed >> dropped && std::getline(table, rest)) {
        total += std::stoull(dropped, nullptr, 16);
    }
    return total;
}

bool waitForExit(pid_t child) {
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// User plus system clock ticks the process has used so far, or -1 once it is gone.
long cpuTicksOf(const std::string& statPath) {
    std::ifstream stat(statPath);
    std::string text;
    if (!std::getline(stat, text)) {
        return -1;
    }
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index == 14 || index == 15) {
            ticks += std::stol(field);
        }
    }
    return ticks;
}

long cpuTicks(pid_t process) {
    return cpuTicksOf("/proc/" + std::to_string(process) + "/stat");
}

// Clock ticks each thread of the process has used so far, by thread id.
std::map<long, long> threadTicks(pid_t process) {
    std::map<long, long> ticks;
    const std::string tasks = "/proc/" + std::to_string(process) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        const long used = cpuTicksOf(task.path().string() + "/stat");
        if (used >= 0) {
            ticks[std::stol(task.path().filename().string())] = used;
        }
    }
    return ticks;
}

// How the CPU time of the load splits between the process's main thread and the busiest
// of its other threads (for ours: the window thread and the capture thread).
void splitThreadTime(pid_t process, const std::map<long, long>& before,
                     const std::map<long, long>& after, Measurement& measurement) {
    const auto seconds = [](long ticks) {
        return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    };
    long busiest = 0;
    for (const auto& [thread, used] : after) {
        const auto earlier = before.find(thread);
        const long delta = used - (earlier != before.end() ? earlier->second : 0);
        if (thread == process) {
            measurement.mainThreadSeconds = seconds(delta);
        } else {
            busiest = std::max(busiest, delta);
        }
    }
    measurement.busiestOtherThreadSeconds = seconds(busiest);
}

// Waits until the capturer has used no CPU for a while; the time it last did.
Clock::time_point waitUntilIdle(pid_t capturer) {
    long last = cpuTicks(capturer);
    Clock::time_point lastChange = Clock::now();
    const Clock::time_point giveUp = Clock::now() + 60s;
    while (Clock::now() - lastChange < 400ms && Clock::now() < giveUp) {
        std::this_thread::sleep_for(10ms);
        const long now = cpuTicks(capturer);
        if (now != last) {
            last = now;
            lastChange = Clock::now();
        }
    }
    return lastChange;
}

// Runs the load past a started capturer, stops it with SIGINT and collects its resource use.
Measurement driveCapturer(pid_t capturer, std::size_t ipBytes, bool ipv6, std::uint64_t count) {
    Measurement measurement;
    // Starting up (for ours: opening the window) is not part of the load.
    const long ticksBeforeLoad = cpuTicks(capturer);
    const std::map<long, long> threadsBeforeLoad = threadTicks(capturer);
    const std::uint64_t queueDropsBefore = inputQueueDrops();
    const Clock::time_point started = Clock::now();
    const pid_t sender = startSender(ipBytes, ipv6, count);
    if (sender < 0 || !waitForExit(sender)) {
        std::fprintf(stderr, "the sender failed\n");
        ::kill(capturer, SIGKILL);
        ::waitpid(capturer, nullptr, 0);
        return measurement;
    }
    const Clock::time_point idle = waitUntilIdle(capturer);
    measurement.seconds = std::chrono::duration<double>(idle - started).count();
    measurement.lostBeforeCapture = inputQueueDrops() - queueDropsBefore;
    // tcpdump is handed a partly filled ring block only after libpcap's one-second timeout;
    // both capturers get that long before they are stopped, so neither loses its last block.
    std::this_thread::sleep_for(1200ms);
    splitThreadTime(capturer, threadsBeforeLoad, threadTicks(capturer), measurement);
    ::kill(capturer, SIGINT);
    int status = 0;
    rusage usage{};
    if (::wait4(capturer, &status, 0, &usage) != capturer) {
        return measurement;
    }
    measurement.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    measurement.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6 -
                             static_cast<double>(std::max(ticksBeforeLoad, 0L)) /
                                 static_cast<double>(::sysconf(_SC_CLK_TCK));
    measurement.peakKilobytes = usage.ru_maxrss;
    return measurement;
}

// Reads from `descriptor` until `done` says enough or the time is up.
bool readUntil(int descriptor, std::string& text, std::chrono::milliseconds limit,
               bool (*done)(const std::string&)) {
    const Clock::time_point giveUp = Clock::now() + limit;
    while (!done(text)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now());
        if (left <= 0ms) {
            return false;
        }
        pollfd wait{descriptor, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t got = ::read(descriptor, chunk, sizeof chunk);
        if (got <= 0) {
            return done(text);
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
}

// Our capture is the Packet Sniffer window itself, open offscreen in a process of its own:
// its capture thread, store, rows and list model, filters off.
[[noreturn]] void runOurCapturer(int readyPipe, int resultsPipe) {
    // SIGINT is taken by the waiting thread below; every thread inherits the blocked mask.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    std::atomic<bool> interrupted{false};
    std::thread waiter([&] {
        int signal = 0;
        ::sigwait(&interrupt, &signal);
        interrupted.store(true);
    });
    waiter.detach();

    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "bench_capture_rate";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    qhs::SettingsRecord settings = qhs::defaultSettings();
    qhs::setTextField(settings.interfaceAddress, "127.0.0.1");
    settings.soundOnNewPacket = 0;
    qhs::PublishedSettings published(settings);
    qhs::PacketSnifferDialog window(published, "/tmp/qhs-capture-rate.QHS", qhs::linuxServices());
    window.initialize();
    window.show();
    window.startCapture();
    if (!window.state().capturing.load()) {
        ::_exit(1);
    }
    [[maybe_unused]] ssize_t written = ::write(readyPipe, "R", 1);
    // A loop of its own: quitting the application would close the window, and closing it
    // clears the store.
    QEventLoop untilInterrupted;
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, [&] {
        if (interrupted.load()) {
            untilInterrupted.quit();
        }
    });
    interruptWatch.start(50);
    untilInterrupted.exec();
    window.stopCapture();
    // The list catches up with the last stored rows in its next batch.
    QApplication::processEvents(QEventLoop::AllEvents, 100);
    window.synchronizeList();
    const std::uint64_t figures[3] = {static_cast<std::uint64_t>(window.table().storedCount()),
                                      window.droppedCount(),
                                      static_cast<std::uint64_t>(window.model().rowCount())};
    written = ::write(resultsPipe, figures, sizeof figures);
    ::_exit(0);  // the stored packets go with the process
}

Measurement measureOurs(std::size_t ipBytes, bool ipv6, std::uint64_t count) {
    int ready[2];
    int results[2];
    if (::pipe(ready) != 0 || ::pipe(results) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        runOurCapturer(ready[1], results[1]);
    }
    ::close(ready[1]);
    ::close(results[1]);
    std::string signal;
    Measurement measurement;
    if (child > 0 &&
        readUntil(ready[0], signal, 10s, [](const std::string& text) { return !text.empty(); })) {
        std::this_thread::sleep_for(100ms);
        measurement = driveCapturer(child, ipBytes, ipv6, count);
        std::uint64_t figures[3] = {0, 0, 0};
        if (::read(results[0], figures, sizeof figures) == sizeof figures) {
            measurement.received = figures[0];
            measurement.dropped = figures[1];
            // Every stored packet must also be a row of the window's list.
            measurement.ok = measurement.ok && figures[2] == figures[0];
        } else {
            measurement.ok = false;
        }
    } else if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    ::close(ready[0]);
    ::close(results[0]);
    return measurement;
}

Measurement measureTcpdump(std::size_t ipBytes, bool ipv6, std::uint64_t count) {
    int errors[2];
    if (::pipe(errors) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, errors[0]);
    std::vector<std::string> arguments = {"tcpdump", "-i", "lo",   "-Q", "in",
                                          "-n",      "-B", "9766", "-w", "/dev/null"};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    const bool spawned =
        ::posix_spawnp(&child, "tcpdump", &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(errors[1]);
    Measurement measurement;
    std::string text;
    if (spawned && readUntil(errors[0], text, 10s, [](const std::string& read) {
            return read.find("listening on") != std::string::npos;
        })) {
        std::this_thread::sleep_for(100ms);
        measurement = driveCapturer(child, ipBytes, ipv6, count);
        readUntil(errors[0], text, 5s, [](const std::string& read) {
            return read.find("dropped by kernel") != std::string::npos;
        });
        const auto captured = qhs::bench::countBefore(text, "packets? captured");
        const auto dropped = qhs::bench::countBefore(text, "packets? dropped by kernel");
        measurement.ok = measurement.ok && captured && dropped;
        measurement.received = captured.value_or(0);
        measurement.dropped = dropped.value_or(0);
    } else if (spawned) {
        std::fprintf(stderr, "tcpdump did not start: %s\n", text.c_str());
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    ::close(errors[0]);
    return measurement;
}

double threadCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Obtains and backs up to `slabs` slabs the way the store does, keeping them until the
// process exits; how many it got.
int backSlabsAndKeepThem(int slabs) {
    constexpr std::size_t slabBytes = qhs::PacketArena::SlabBytes;
    qhs::SlabMemory& memory = qhs::hugePageSlabMemory();
    int backed = 0;
    for (; backed < slabs; ++backed) {
        std::uint8_t* slab = memory.obtain(slabBytes);
        if (slab == nullptr || !memory.back(slab, slabBytes)) {
            break;
        }
    }
    return backed;
}

// CPU seconds this machine spends to back one gigabyte of fresh memory the way the store's
// slabs are backed: whatever keeps every packet pays it for every byte it keeps. Measured in
// a child process, so the harness's own peak memory (which tcpdump would inherit on its
// start) stays small.
double freshMemorySecondsPerGigabyte() {
    int results[2];
    if (::pipe(results) != 0) {
        return 0;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const double started = threadCpuSeconds();
        const int backed = backSlabsAndKeepThem(16);
        const double seconds = threadCpuSeconds() - started;
        const double perGigabyte =
            backed == 0
                ? 0
                : seconds * 1e9 / (static_cast<double>(backed) * qhs::PacketArena::SlabBytes);
        [[maybe_unused]] const ssize_t written =
            ::write(results[1], &perGigabyte, sizeof perGigabyte);
        ::_exit(0);
    }
    ::close(results[1]);
    double perGigabyte = 0;
    if (child < 0 || ::read(results[0], &perGigabyte, sizeof perGigabyte) != sizeof perGigabyte) {
        perGigabyte = 0;
    }
    ::close(results[0]);
    if (child > 0) {
        ::waitpid(child, nullptr, 0);
    }
    return perGigabyte;
}

// Backs as much memory as a capture of the load keeps (and a quarter more) in a child
// process that then exits. The kernel hands that memory out again at once, still backed by
// the machine: on a virtual machine that takes freed memory back within seconds this lets
// the next capture meet memory as an ordinary machine's kernel has it.
void warmFreeMemory(std::size_t ipBytes, std::uint64_t count) {
    const std::size_t slabBytes = qhs::PacketArena::SlabBytes;
    const double wanted = 1.25 * static_cast<double>(count) *
                              static_cast<double>(ipBytes + qhs::PacketBlockSpareBytes + 16) +
                          4.0 * static_cast<double>(slabBytes);
    const auto slabs = static_cast<int>(wanted / static_cast<double>(slabBytes)) + 1;
    const pid_t child = ::fork();
    if (child == 0) {
        backSlabsAndKeepThem(slabs);
        ::_exit(0);
    }
    if (child > 0) {
        ::waitpid(child, nullptr, 0);
    }
}

double ratio(double ours, double theirs) {
    return theirs != 0 ? ours / theirs : 0;
}

// Fresh memory our capture backed during the load: each stored block (datagram and spare
// bytes, carved in steps of 16) and the slab kept ready ahead.
double oursBackedGigabytes(std::size_t ipBytes, const Measurement& ours) {
    const std::size_t block = (ipBytes + qhs::PacketBlockSpareBytes + 15) / 16 * 16;
    return (static_cast<double>(ours.received) * static_cast<double>(block) +
            static_cast<double>(qhs::PacketArena::SlabBytes)) /
           1e9;
}

// CPU time per datagram received, in microseconds.
double cpuMicrosecondsPerDatagram(const Measurement& m) {
    return m.received == 0 ? 0 : m.cpuSeconds * 1e6 / static_cast<double>(m.received);
}

void printComparison(std::size_t ipBytes, bool ipv6, std::uint64_t count, const Measurement& ours,
                     const Measurement& tcpdump, double memorySecondsPerGigabyte) {
    const auto rate = [](const Measurement& m) { return m.received / m.seconds; };
    std::printf("\n%llu %s datagrams of %zu bytes%s%s\n", static_cast<unsigned long long>(count),
                ipv6 ? "IPv6" : "IPv4", ipBytes, ours.ok ? "" : "  [ours FAILED]",
                tcpdump.ok ? "" : "  [tcpdump FAILED]");
    std::printf("%-22s %14s %14s %10s\n", "", "ours", "tcpdump", "ours/tcpd");
    std::printf("%-22s %14llu %14llu %10.3f\n", "datagrams received",
                static_cast<unsigned long long>(ours.received),
                static_cast<unsigned long long>(tcpdump.received),
                ratio(static_cast<double>(ours.received), static_cast<double>(tcpdump.received)));
    std::printf("%-22s %14llu %14llu %10s\n", "datagrams dropped",
                static_cast<unsigned long long>(ours.dropped),
                static_cast<unsigned long long>(tcpdump.dropped), "");
    std::printf("%-22s %14llu %14llu %10s\n", "lost before capture",
                static_cast<unsigned long long>(ours.lostBeforeCapture),
                static_cast<unsigned long long>(tcpdump.lostBeforeCapture), "");
    std::printf("%-22s %14.0f %14.0f %10.3f\n", "datagrams per second", rate(ours), rate(tcpdump),
                ratio(rate(ours), rate(tcpdump)));
    std::printf("%-22s %14.2f %14.2f %10.3f\n", "CPU seconds", ours.cpuSeconds, tcpdump.cpuSeconds,
                ratio(ours.cpuSeconds, tcpdump.cpuSeconds));
    std::printf("%-22s %14.3f %14.3f %10.3f\n", "  per datagram (us)",
                cpuMicrosecondsPerDatagram(ours), cpuMicrosecondsPerDatagram(tcpdump),
                ratio(cpuMicrosecondsPerDatagram(ours), cpuMicrosecondsPerDatagram(tcpdump)));
    std::printf("%-22s %14.2f %14s\n", "  window thread", ours.mainThreadSeconds, "");
    std::printf("%-22s %14.2f %14s\n", "  capture thread", ours.busiestOtherThreadSeconds, "");
    if (memorySecondsPerGigabyte > 0) {
        const double oursApart =
            ours.cpuSeconds - oursBackedGigabytes(ipBytes, ours) * memorySecondsPerGigabyte;
        std::printf("%-22s %14.2f %14.2f %10.3f\n", "  fresh memory aside", oursApart,
                    tcpdump.cpuSeconds, ratio(oursApart, tcpdump.cpuSeconds));
    }
    std::printf(
        "%-22s %14ld %14ld %10.3f\n", "peak memory (KB)", ours.peakKilobytes, tcpdump.peakKilobytes,
        ratio(static_cast<double>(ours.peakKilobytes), static_cast<double>(tcpdump.peakKilobytes)));
}

}  // namespace

int main(int argc, char** argv) {
    if (::geteuid() != 0 || !qhs::enterPrivateNetwork()) {
        std::fprintf(stderr, "needs root (a private network namespace is made for the run)\n");
        return 1;
    }
    std::uint64_t count = 1000000;
    bool warmMemory = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--warm-memory") == 0) {
            warmMemory = true;
        } else if (std::strcmp(argv[i], "--rate") == 0 && i + 1 < argc) {
            senderRate = std::strtoull(argv[++i], nullptr, 10);
        } else {
            count = std::strtoull(argv[i], nullptr, 10);
        }
    }
    if (count == 0 || count > static_cast<std::uint64_t>(qhs::PacketStoreCapacity)) {
        std::fprintf(stderr, "datagrams per size: 1 to %d\n", qhs::PacketStoreCapacity);
        return 1;
    }
    // Measured first, so the figure is at hand for the tables.
    const double memorySecondsPerGigabyte = freshMemorySecondsPerGigabyte();
    bool allOk = true;
    // Whichever capturer runs later in a row pays more on this machine (memory the host took
    // back), so the families run in the order IPv4, IPv6, IPv6, IPv4 and each gets the mean of
    // its two runs.
    std::map<std::pair<std::size_t, bool>, double> oursPerDatagram;
    for (const std::size_t ipBytes : {std::size_t{64}, std::size_t{1400}}) {
        for (const bool ipv6 : {false, true, true, false}) {
            if (warmMemory) {
                warmFreeMemory(ipBytes, count);
            }
            const Measurement ours = measureOurs(ipBytes, ipv6, count);
            if (warmMemory) {
                warmFreeMemory(ipBytes, count);
            }
            const Measurement tcpdump = measureTcpdump(ipBytes, ipv6, count);
            // With warmed memory ours backs nothing fresh: no row with that cost taken out.
            printComparison(ipBytes, ipv6, count, ours, tcpdump,
                            warmMemory ? 0 : memorySecondsPerGigabyte);
            oursPerDatagram[{ipBytes, ipv6}] += cpuMicrosecondsPerDatagram(ours) / 2;
            allOk = allOk && ours.ok && tcpdump.ok;
        }
    }
    std::printf("\nours, CPU per datagram, IPv6 over IPv4 (means of two runs each):");
    for (const std::size_t ipBytes : {std::size_t{64}, std::size_t{1400}}) {
        std::printf("  %zu bytes %.3f us / %.3f us = %.3f", ipBytes,
                    oursPerDatagram[{ipBytes, true}], oursPerDatagram[{ipBytes, false}],
                    ratio(oursPerDatagram[{ipBytes, true}], oursPerDatagram[{ipBytes, false}]));
    }
    std::printf("\n");
    std::printf("\nbacking fresh memory costs this machine %.2f CPU seconds per GB%s\n",
                memorySecondsPerGigabyte,
                warmMemory ? " (memory warmed before each capturer: the figure \"fresh memory "
                             "aside\" does not apply)"
                           : "");
    std::printf(
        "\nreceived and dropped as each capturer counts them; per second: received over the "
        "time from the first send until the capturer fell idle; CPU seconds: from the start of the "
        "load to the capturer's exit, and with the fresh memory ours backed for the packets it "
        "kept taken out at the machine's cost per GB (an estimate); lost before capture: dropped "
        "at the loopback's input queue, "
        "where no capturer can see them.\n");
    return allOk ? 0 : 2;
}
