// Opening a million-packet capture file that tcpdump made, and exporting the store again, in
// the Packet Sniffer window (offscreen, default settings). tcpdump records a million UDP
// datagrams of 60 to 1400 bytes on the loopback device of a private network namespace; the
// window then opens the file (the whole-file check, the question is not asked on an empty
// list, and the read into rows and slots) and exports it. Reports each one's wall time and the
// process's peak memory. Needs root:
//   sudo build/bench/bench_capture_file_open [packets] [file]
// A file that exists is opened as it is; one that does not is recorded there and kept.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "WindowHarness.h"
#include "packetmode/PacketListModel.h"
#include "packetmode/PacketSnifferDialog.h"
#include "support/PrivateNetwork.h"
#include "support/ScriptedDialogService.h"

extern char** environ;

namespace {

constexpr std::uint16_t LoadPort = 40600;

// The process's peak resident memory so far, in kB.
long peakKilobytes() {
    return qhs::bench::statusKilobytes("VmHWM:");
}

// Has tcpdump write `count` datagrams sent to the load port into `path`.
bool recordWithTcpdump(const std::string& path, std::uint64_t count) {
    const std::string packets = std::to_string(count);
    std::vector<std::string> arguments = {"tcpdump",
                                          "-i",
                                          "lo",
                                          "-Q",
                                          "in",
                                          "-n",
                                          "-B",
                                          "262144",
                                          "-c",
                                          packets,
                                          "-w",
                                          path,
                                          "--time-stamp-precision",
                                          "nano",
                                          "udp",
                                          "port",
                                          "40600"};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t tcpdump = 0;
    const bool started =
        ::posix_spawnp(&tcpdump, "tcpdump", &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started) {
        return false;
    }
    ::sleep(1);  // until it listens
    const int sink = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(LoadPort);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(sink, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 ||
        ::connect(sender, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        return false;
    }
    std::vector<char> payload(1400 - 28, 'p');
    char drain[2048];
    int status = 0;
    // Sends until tcpdump has its count and ends; it may miss some of a burst.
    for (std::uint64_t sent = 0; ::waitpid(tcpdump, &status, WNOHANG) == 0; ++sent) {
        const std::size_t length = 32 + (sent * 7919) % (payload.size() - 32);
        ::send(sender, payload.data(), length, 0);
        while (::recv(sink, drain, sizeof drain, MSG_DONTWAIT) > 0) {
        }
        if (sent % 2048 == 0) {
            ::usleep(500);  // tcpdump writes its file as it goes; let it keep up
        }
    }
    ::close(sender);
    ::close(sink);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (::geteuid() != 0 || !qhs::enterPrivateNetwork()) {
        std::fprintf(stderr, "needs root (a private network namespace is made for the run)\n");
        return 1;
    }
    const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const qhs::bench::OffscreenRun run("capture-file-open");
    if (!run.ok()) {
        return 2;
    }
    const std::filesystem::path recorded =
        argc > 2 ? std::filesystem::path(argv[2]) : run.folder() / "recorded.pcap";
    // tcpdump gives up root for its own user, who must be able to write there.
    std::filesystem::permissions(run.folder(), std::filesystem::perms::all);
    if (std::filesystem::exists(recorded)) {
        std::printf("reusing %s\n", recorded.c_str());
    } else if (!recordWithTcpdump(recorded.string(), count)) {
        std::fprintf(stderr, "tcpdump did not record %llu packets\n",
                     static_cast<unsigned long long>(count));
        return 1;
    }
    std::printf("tcpdump's file: %.1f MB\n",
                static_cast<double>(std::filesystem::file_size(recorded)) / 1e6);

    int qtArgc = 1;
    char name[] = "bench_capture_file_open";
    char* qtArgv[] = {name, nullptr};
    QApplication application(qtArgc, qtArgv);
    qhs::ScriptedDialogService user;
    qhs::SettingsRecord settings = qhs::defaultSettings();
    qhs::setTextField(settings.interfaceAddress, "127.0.0.1");
    qhs::PublishedSettings published(settings);
    qhs::PacketSnifferDialog window(published, (run.folder() / "open.QHS").string(),
                                    qhs::bench::windowServices());
    window.initialize();
    window.show();
    const long before = peakKilobytes();

    user.pickedPaths = {QString::fromStdString(recorded.string())};
    QElapsedTimer wall;
    wall.start();
    window.openCaptureFile();
    qhs::bench::serveUntil([&] { return !window.openingCaptureFile(); });
    const qint64 openMs = wall.elapsed();
    qhs::bench::serveUntil(
        [&] { return window.model().rowCount() == window.table().storedCount(); });
    const qint64 listedMs = wall.elapsed();
    std::printf(
        "open: %lld ms to read the file into rows and slots, %lld ms until all are "
        "listed; %d packets; peak memory %ld MB (%ld MB before)\n",
        static_cast<long long>(openMs), static_cast<long long>(listedMs),
        window.table().storedCount(), peakKilobytes() / 1024, before / 1024);

    const std::filesystem::path exported = run.folder() / "exported.pcap";
    user.pickedPaths = {QString::fromStdString(exported.string())};
    window.exportCaptureFile();
    qhs::bench::serveUntil([&] { return window.activeSaves() > 0; });
    wall.restart();
    qhs::bench::serveUntil([&] { return window.runningSaveThreads() == 0; });
    std::printf("export: %lld ms for %.1f MB\n", static_cast<long long>(wall.elapsed()),
                static_cast<double>(std::filesystem::file_size(exported)) / 1e6);
    window.closeWindow();
    return user.shown.empty() ? 0 : 1;
}
