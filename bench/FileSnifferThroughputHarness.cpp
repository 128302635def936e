// File Sniffer Mode at full loopback speed, beside tcpdump on the same downloads: nginx serves
// a file on 127.0.0.1 in a private network namespace and curl downloads it as fast as it can.
// Ours is set up as the window sets it up (its source, memory and thread priority) in a new
// process for each run, so each run meets fresh memory as a newly started program does; it
// must rebuild the file byte for byte. tcpdump gets a buffer of about 10,000,000 bytes
// (-B 9766), takes incoming frames only and writes to /dev/null. For each size the harness
// prints how many runs came out whole, the system's drops of each run, curl's speed and the
// CPU seconds of each capturer, and at the end the largest size that came out whole in every
// run.
// Needs root: sudo build/bench/bench_file_sniffer_throughput [--runs N] [--standard-buffer]
//     [megabytes ...]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <regex>
#include <thread>

#include "TcpdumpSummary.h"
#include "filemode/FileCapture.h"
#include "platform/PcapCaptureSource.h"
#include "platform/ProcessFacts.h"
#include "platform/SystemMemoryProbe.h"
#include "support/LocalWebServer.h"
#include "support/PrivateNetwork.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr int AckTimeoutMs = 500;
// --standard-buffer: ours with the 10,000,000-byte buffer of Packet Sniffer Mode, for comparison.
bool standardBuffer = false;

// A live capture that asks for the buffer of Packet Sniffer Mode whatever the mode asks for.
class PacketModeBufferSource final : public qhs::CaptureSource {
  public:
    qhs::OpenOutcome open(const qhs::CaptureOptions& options) override {
        return inner_.open({options.interfaceAddress, qhs::PacketCaptureBufferBytes});
    }
    qhs::ReceiveResult receive(const qhs::DatagramVisitor& visit) override {
        return inner_.receive(visit);
    }
    void close() override { inner_.close(); }
    std::uint64_t droppedCount() const override { return inner_.droppedCount(); }

  private:
    qhs::PcapCaptureSource inner_;
};

struct Run {
    bool whole = false;
    std::uint64_t dropped = 0;
    double curlMegabytesPerSecond = 0;
    double cpuSeconds = 0;
};

double cpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Downloads the served file with curl; its speed in MB/s, 0 when it failed.
double download() {
    const std::string command =
        "curl -s -o /dev/null -w '%{speed_download}' " + qhs::LocalWebServer::address("/large.bin");
    FILE* curl = ::popen(command.c_str(), "r");
    double bytesPerSecond = 0;
    if (curl == nullptr) {
        return 0;
    }
    if (std::fscanf(curl, "%lf", &bytesPerSecond) != 1) {
        bytesPerSecond = 0;
    }
    return ::pclose(curl) == 0 ? bytesPerSecond / 1e6 : 0;
}

bool readLine(int descriptor, std::string& text, const char* wanted, seconds limit) {
    const auto deadline = steady_clock::now() + limit;
    char chunk[512];
    while (text.find(wanted) == std::string::npos) {
        if (steady_clock::now() > deadline) {
            return false;
        }
        const ssize_t got = ::read(descriptor, chunk, sizeof chunk);
        if (got <= 0) {
            return false;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
}

// The child: captures as the window does until the file is written (or 30 s pass), then
// reports whether it equals the served body and what the system dropped.
[[noreturn]] void runOurCapture(const fs::path& out, const std::string& body, int ready,
                                int results) {
    qhs::SettingsRecord settings = qhs::defaultSettings();
    qhs::setTextField(settings.interfaceAddress, "127.0.0.1");
    qhs::setTextField(settings.fileOutputDirectory, out.string());
    qhs::FileCapture capture(
        []() -> std::unique_ptr<qhs::CaptureSource> {
            if (standardBuffer) {
                return std::make_unique<PacketModeBufferSource>();
            }
            return qhs::PcapCaptureSource::create();
        },
        {}, &qhs::raiseThreadPriority, qhs::flooredHugePageSlabMemory());
    capture.setAckTimeoutMs(AckTimeoutMs);
    const bool started = capture.start(settings).startThread;
    [[maybe_unused]] ssize_t written = ::write(ready, started ? "1" : "0", 1);
    const auto begun = steady_clock::now();
    while (started && capture.filesWritten() + capture.incompleteFiles() < 1 &&
           steady_clock::now() - begun < seconds(30)) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    capture.stop();
    Run run;
    // The capture, the join and the file's writing, without the comparison below.
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    run.cpuSeconds = cpuSeconds(usage);
    run.dropped = capture.droppedCount();
    for (const auto& entry : fs::directory_iterator(out)) {
        run.whole = run.whole || qhs::fileContents(entry.path()) == body;
        fs::remove(entry.path());
    }
    written = ::write(results, &run, sizeof run);
    ::_exit(0);
}

std::optional<Run> measureOurs(const fs::path& out, const std::string& body) {
    int ready[2];
    int results[2];
    if (::pipe(ready) != 0 || ::pipe(results) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        runOurCapture(out, body, ready[1], results[1]);
    }
    ::close(ready[1]);
    ::close(results[1]);
    std::string signal;
    std::optional<Run> run;
    if (child > 0 && readLine(ready[0], signal, "1", seconds(10))) {
        const double speed = download();
        Run reported;
        if (::read(results[0], &reported, sizeof reported) == sizeof reported) {
            reported.curlMegabytesPerSecond = speed;
            run = reported;
        }
    } else if (child > 0) {
        ::kill(child, SIGKILL);
    }
    if (child > 0) {
        ::waitpid(child, nullptr, 0);
    }
    ::close(ready[0]);
    ::close(results[0]);
    return run;
}

std::optional<Run> measureTcpdump() {
    int errors[2];
    if (::pipe(errors) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(errors[1], STDERR_FILENO);
        ::close(errors[0]);
        ::execlp("tcpdump", "tcpdump", "-i", "lo", "-Q", "in", "-n", "-B", "9766", "-w",
                 "/dev/null", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(errors[1]);
    std::string text;
    std::optional<Run> run;
    if (child > 0 && readLine(errors[0], text, "listening on", seconds(10))) {
        Run measured;
        measured.curlMegabytesPerSecond = download();
        // Frames still in the buffer are written before tcpdump counts and ends.
        std::this_thread::sleep_for(milliseconds(300));
        ::kill(child, SIGINT);
        readLine(errors[0], text, "dropped by kernel", seconds(5));
        const auto dropped = qhs::bench::countBefore(text, "packets? dropped by kernel");
        if (dropped) {
            measured.dropped = *dropped;
            measured.whole = *dropped == 0;
            run = measured;
        }
    }
    if (child > 0) {
        ::kill(child, SIGKILL);
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        if (run) {
            run->cpuSeconds = cpuSeconds(usage);
        }
    }
    ::close(errors[0]);
    return run;
}

std::string servedBody(std::size_t megabytes) {
    std::string body(megabytes * 1000 * 1000, '\0');
    std::mt19937_64 random(megabytes);
    for (std::size_t i = 0; i + 8 <= body.size(); i += 8) {
        const std::uint64_t value = random();
        std::memcpy(body.data() + i, &value, 8);
    }
    return body;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Summary {
    int whole = 0;
    std::vector<std::uint64_t> dropped;
    std::vector<double> speeds;
    std::vector<double> cpu;
};

void add(Summary& summary, const std::optional<Run>& run) {
    if (!run) {
        summary.dropped.push_back(~std::uint64_t{0});
        return;
    }
    summary.whole += run->whole ? 1 : 0;
    summary.dropped.push_back(run->dropped);
    summary.speeds.push_back(run->curlMegabytesPerSecond);
    summary.cpu.push_back(run->cpuSeconds);
}

void print(const char* name, const Summary& summary, int runs) {
    std::printf("  %-8s whole %d/%d  curl %5.0f MB/s  CPU %.2f s  drops:", name, summary.whole,
                runs, median(summary.speeds), median(summary.cpu));
    for (const std::uint64_t dropped : summary.dropped) {
        if (dropped == ~std::uint64_t{0}) {
            std::printf(" failed");
        } else {
            std::printf(" %llu", static_cast<unsigned long long>(dropped));
        }
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--standard-buffer") == 0) {
            standardBuffer = true;
        } else {
            sizes.push_back(std::strtoul(argv[i], nullptr, 10));
        }
    }
    if (sizes.empty()) {
        sizes = {50, 100, 200, 300, 400};
    }
    if (::geteuid() != 0 || !qhs::enterPrivateNetwork()) {
        std::fprintf(stderr, "needs root (a private network namespace is made for the run)\n");
        return 1;
    }
    qhs::TempDir work;
    fs::create_directory(work.path() / "www");
    fs::create_directory(work.path() / "out");
    qhs::LocalWebServer server(work.path(), work.path() / "www");
    if (!server.running()) {
        std::fprintf(stderr, "nginx did not start: %s\n", server.errors().c_str());
        return 1;
    }
    std::printf(
        "File Sniffer Mode beside tcpdump, %d runs a size; curl's median speed, median "
        "CPU seconds of the capturing process, the system's drops of each run\n",
        runs);
    std::size_t largestWhole = 0;
    bool allMeasured = true;
    for (const std::size_t megabytes : sizes) {
        const std::string body = servedBody(megabytes);
        qhs::writeFileContents(work.path() / "www" / "large.bin", body);
        Summary ours;
        Summary tcpdump;
        for (int run = 0; run < runs; ++run) {
            add(ours, measureOurs(work.path() / "out", body));
            add(tcpdump, measureTcpdump());
        }
        std::printf("%zu MB:\n", megabytes);
        print("ours", ours, runs);
        print("tcpdump", tcpdump, runs);
        std::fflush(stdout);
        allMeasured = allMeasured && ours.speeds.size() == static_cast<std::size_t>(runs) &&
                      tcpdump.speeds.size() == static_cast<std::size_t>(runs);
        if (ours.whole == runs) {
            largestWhole = std::max(largestWhole, megabytes);
        }
    }
    std::printf("largest size whole in %d runs of %d: %zu MB\n", runs, runs, largestWhole);
    return allMeasured ? 0 : 2;
}
