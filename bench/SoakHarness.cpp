// A long run of the Packet Sniffer window under steady mixed loopback traffic, with the
// settings users run plus automatic logging every second: a Clear every 30 s and a save every
// two minutes, 15 s after a Clear. Reports the resident memory after each Clear, the longest
// stall of the window thread, the datagrams the system dropped, and whether the log holds
// every tagged datagram exactly once. Needs root; the run has a network namespace of its own.
//   sudo build/bench/bench_soak [--minutes M] [--rate N]
// The traffic, per second: N tagged UDP datagrams (default 1000) of 60 to 1460 bytes with
// one of 60,000 bytes in every 500, injected with their number in their ports so the log
// tells them apart; ten TCP connections carrying a few bytes each; one ping; and one hundred
// malformed datagrams of every kind. Exits with 1 when memory does not come back after a
// Clear or the log misses or repeats a datagram.
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "WindowHarness.h"
#include "packetmode/PacketLogger.h"
#include "packetmode/PacketSnifferDialog.h"
#include "support/HostileDatagrams.h"
#include "support/LoopbackTraffic.h"
#include "support/PrivateNetwork.h"
#include "support/ScriptedDialogService.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint16_t FirstTaggedPort = 1024;
constexpr std::uint32_t TagsPerSourcePort = 60000;

// Tag n travels as source port 1024 + n / 60000 and destination port 1 + n % 60000.
std::vector<std::uint8_t> taggedDatagram(std::uint32_t tag) {
    const std::size_t length = tag % 500 == 499 ? 60000 : 60 + (tag * 7919) % 1401;
    auto datagram = qhs::unansweredDatagram(
        length, 17, static_cast<std::uint16_t>(FirstTaggedPort + tag / TagsPerSourcePort),
        static_cast<std::uint16_t>(1 + tag % TagsPerSourcePort));
    datagram[24] = static_cast<std::uint8_t>((length - 20) >> 8);
    datagram[25] = static_cast<std::uint8_t>(length - 20);
    return datagram;
}

class Injector {
  public:
    Injector() : socket_(::socket(AF_PACKET, SOCK_DGRAM, 0)) {
        target_.sll_family = AF_PACKET;
        target_.sll_protocol = htons(ETH_P_IP);
        target_.sll_ifindex = static_cast<int>(::if_nametoindex("lo"));
        target_.sll_halen = ETH_ALEN;
    }
    ~Injector() { ::close(socket_); }
    bool send(const std::vector<std::uint8_t>& datagram) {
        return ::sendto(socket_, datagram.data(), datagram.size(), 0,
                        reinterpret_cast<const sockaddr*>(&target_),
                        sizeof target_) == static_cast<ssize_t>(datagram.size());
    }

  private:
    int socket_;
    sockaddr_ll target_{};
};

struct TrafficCounts {
    std::uint32_t tagged = 0;
    std::uint64_t failedSends = 0;
    std::uint64_t failedConnections = 0;
};

// Sends the mix in 10 ms ticks until stopped.
void sendTraffic(std::stop_token stop, int taggedPerSecond, TrafficCounts& counts) {
    Injector injector;
    const auto malformed = qhs::hostileDatagrams("soak");
    const int taggedPerTick = std::max(1, taggedPerSecond / 100);
    auto next = Clock::now();
    for (std::uint64_t tick = 0; !stop.stop_requested(); ++tick) {
        for (int i = 0; i < taggedPerTick; ++i) {
            counts.failedSends += injector.send(taggedDatagram(counts.tagged)) ? 0 : 1;
            ++counts.tagged;
        }
        counts.failedSends += injector.send(malformed[tick % malformed.size()]) ? 0 : 1;
        if (tick % 10 == 0) {
            const auto port = static_cast<std::uint16_t>(20000 + (tick / 10) % 1000);
            counts.failedConnections += qhs::exchangeLoopbackTcp(port, "soak over tcp") ? 0 : 1;
        }
        if (tick % 100 == 0) {
            counts.failedSends += qhs::pingLoopback(static_cast<std::uint16_t>(tick / 100)) ? 0 : 1;
        }
        next += 10ms;
        std::this_thread::sleep_until(next);
    }
}

struct LogCheck {
    std::uint64_t records = 0;
    std::uint32_t taggedOnce = 0;
    std::uint32_t taggedRepeated = 0;
    std::uint32_t taggedMissing = 0;
};

// Reads the log's headings: type, size, source, destination, source port, destination port.
LogCheck checkLog(const std::filesystem::path& log, std::uint32_t taggedSent) {
    std::ifstream in(log, std::ios::binary);
    std::vector<std::uint8_t> seen(taggedSent, 0);
    LogCheck check;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line == "\r") {
            continue;
        }
        ++check.records;
        std::istringstream fields(line);
        std::string type, size, source, destination;
        unsigned sourcePort = 0, destinationPort = 0;
        fields >> type >> size >> source >> destination >> sourcePort >> destinationPort;
        if (type != "UDP" || source != "10.9.9.9" || sourcePort < FirstTaggedPort ||
            destinationPort == 0) {
            continue;
        }
        const std::uint32_t tag =
            (sourcePort - FirstTaggedPort) * TagsPerSourcePort + destinationPort - 1;
        if (tag < taggedSent && seen[tag] < 255) {
            ++seen[tag];
        }
    }
    for (std::uint8_t times : seen) {
        check.taggedOnce += times == 1 ? 1 : 0;
        check.taggedRepeated += times > 1 ? 1 : 0;
        check.taggedMissing += times == 0 ? 1 : 0;
    }
    return check;
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 10;
    int rate = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--minutes") == 0) {
            minutes = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--rate") == 0) {
            rate = std::atoi(argv[i + 1]);
        }
    }
    if (::geteuid() != 0 || !qhs::enterPrivateNetwork()) {
        std::fprintf(stderr, "bench_soak needs root (a network namespace of its own)\n");
        return 2;
    }
    const qhs::bench::OffscreenRun scratch("soak");
    if (!scratch.ok()) {
        return 2;
    }
    const std::filesystem::path& folder = scratch.folder();
    QApplication application(argc, argv);
    qhs::ScriptedDialogService user;

    qhs::SettingsRecord settings = qhs::defaultSettings();
    qhs::setTextField(settings.interfaceAddress, "127.0.0.1");
    settings.autoLog = 1;
    settings.logIntervalSeconds = 1;
    qhs::setTextField(settings.logFilePath, (folder / "soak.log").string());
    qhs::PublishedSettings published(settings);
    qhs::PacketSnifferDialog window(published, (folder / "soak.QHS").string(),
                                    qhs::bench::windowServices());
    window.initialize();
    window.resize(1000, 700);
    window.show();
    window.startCapture();

    qhs::bench::StallWatch stalls;

    TrafficCounts counts;
    std::jthread traffic(sendTraffic, rate, std::ref(counts));

    std::vector<long> residentAfterClear;
    std::vector<qint64> saveMilliseconds;
    QElapsedTimer run;
    run.start();
    const qint64 runMilliseconds = static_cast<qint64>(minutes * 60'000);
    QTimer clearTimer;
    clearTimer.setInterval(30'000);
    QObject::connect(&clearTimer, &QTimer::timeout, [&] {
        window.clearPackets();
        auto* waitForClear = new QTimer(&window);
        waitForClear->setInterval(10);
        QObject::connect(waitForClear, &QTimer::timeout, [&, waitForClear] {
            if (!window.clearRunning()) {
                residentAfterClear.push_back(qhs::bench::residentKilobytes());
                std::printf("clear %zu at %3llds: resident %ld MB\n", residentAfterClear.size(),
                            static_cast<long long>(run.elapsed() / 1000),
                            residentAfterClear.back() / 1024);
                std::fflush(stdout);
                waitForClear->deleteLater();
                waitForClear->stop();
            }
        });
        waitForClear->start();
    });
    QTimer saveTimer;
    std::vector<std::int32_t> savedPackets;
    saveTimer.setInterval(120'000);
    QElapsedTimer saveTime;
    QObject::connect(&saveTimer, &QTimer::timeout, [&] {
        user.pickedPaths.push_back(QString::fromStdString((folder / "saved.txt").string()));
        savedPackets.push_back(window.table().storedCount());
        saveTime.start();
        window.saveList();
        auto* waitForSave = new QTimer(&window);
        waitForSave->setInterval(10);
        QObject::connect(waitForSave, &QTimer::timeout, [&, waitForSave] {
            if (window.runningSaveThreads() == 0) {
                saveMilliseconds.push_back(saveTime.elapsed());
                waitForSave->deleteLater();
                waitForSave->stop();
            }
        });
        waitForSave->start();
    });
    clearTimer.start();
    // Halfway between two Clears, so each save has a quarter of a minute of packets to write.
    QTimer::singleShot(15'000, &saveTimer, [&] { saveTimer.start(); });
    std::int32_t storedAtTheEnd = 0;
    QTimer::singleShot(runMilliseconds, &application, [&] {
        clearTimer.stop();
        saveTimer.stop();
        traffic.request_stop();
        traffic.join();
        storedAtTheEnd = window.table().storedCount();
        // The last datagrams reach the store, and a log pass takes them.
        QTimer::singleShot(3000, &application, &QApplication::quit);
    });
    application.exec();
    stalls.stop();
    window.stopCapture();
    const std::uint64_t dropped = window.droppedCount();
    window.closeWindow();

    const LogCheck log = checkLog(folder / "soak.log", counts.tagged);
    long firstLevel = residentAfterClear.empty() ? 0 : residentAfterClear.front();
    long furthest = 0;
    for (long level : residentAfterClear) {
        furthest = std::max(furthest, std::abs(level - firstLevel));
    }
    std::printf("minutes %.1f, tagged UDP per second %d, clears %zu, saves %zu\n", minutes, rate,
                residentAfterClear.size(), saveMilliseconds.size());
    std::printf(
        "resident after the first Clear %ld MB; furthest from it after a later Clear "
        "%ld kB\n",
        firstLevel / 1024, furthest);
    for (std::size_t save = 0; save < saveMilliseconds.size(); ++save) {
        std::printf("save of about %d packets took %lld ms\n", savedPackets[save],
                    static_cast<long long>(saveMilliseconds[save]));
    }
    std::printf("longest stall of the window thread %lld ms\n", stalls.longestMilliseconds());
    std::printf(
        "dropped by the system %llu; failed sends %llu, TCP exchanges %llu; boxes "
        "shown %zu\n",
        static_cast<unsigned long long>(dropped),
        static_cast<unsigned long long>(counts.failedSends),
        static_cast<unsigned long long>(counts.failedConnections), user.shown.size());
    std::printf(
        "log: %llu records; tagged sent %u, logged once %u, more than once %u, "
        "missing %u; stored since the last Clear %d\n",
        static_cast<unsigned long long>(log.records), counts.tagged, log.taggedOnce,
        log.taggedRepeated, log.taggedMissing, storedAtTheEnd);
    const bool memoryCameBack = furthest < 8 * 1024;
    const bool logWhole =
        log.taggedRepeated == 0 && (dropped > 0 || log.taggedMissing == 0) && counts.tagged > 0;
    return memoryCameBack && logWhole ? 0 : 1;
}
