// End-to-end throughput of File Sniffer Mode: nginx serves a large file on 127.0.0.1 in a
// private network namespace, curl downloads it, and the capture, stream tracking and file
// output rebuild it. Reports MB/s of HTTP body and whether the rebuilt file is whole.
// Needs root: sudo build/bench/bench_file_sniffer_throughput [megabytes]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "filemode/FileCapture.h"
#include "platform/LinuxCaptureSource.h"
#include "support/LocalWebServer.h"
#include "support/PrivateNetwork.h"
#include "support/TempDir.h"

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    using namespace std::chrono;
    if (::geteuid() != 0 || !qhs::enterPrivateNetwork()) {
        std::fprintf(stderr, "needs root (a private network namespace is made for the run)\n");
        return 1;
    }
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
    qhs::TempDir work;
    fs::create_directory(work.path() / "www");
    fs::create_directory(work.path() / "out");
    std::string body(megabytes * 1024 * 1024, '\0');
    std::mt19937_64 random(9);
    for (std::size_t i = 0; i + 8 <= body.size(); i += 8) {
        const std::uint64_t value = random();
        std::memcpy(body.data() + i, &value, 8);
    }
    qhs::writeFileContents(work.path() / "www" / "large.bin", body);
    qhs::LocalWebServer server(work.path(), work.path() / "www");
    if (!server.running()) {
        std::fprintf(stderr, "nginx did not start: %s\n", server.errors().c_str());
        return 1;
    }

    qhs::SettingsRecord settings = qhs::defaultSettings();
    qhs::setTextField(settings.interfaceAddress, "127.0.0.1");
    qhs::setTextField(settings.fileOutputDirectory, (work.path() / "out").string());
    qhs::FileCapture capture(qhs::LinuxCaptureSource::create);
    capture.setAckTimeoutMs(500);
    if (!capture.start(settings).startThread) {
        std::fprintf(stderr, "capture did not start\n");
        return 1;
    }
    const auto started = steady_clock::now();
    qhs::runProgram({"curl", "-s", "-o", "/dev/null", qhs::LocalWebServer::address("/large.bin")});
    const auto downloaded = steady_clock::now();
    while (capture.filesWritten() < 1 && steady_clock::now() - downloaded < seconds(30)) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    // The file is written once the stream has been quiet for the time-out.
    const auto written = steady_clock::now() - milliseconds(500);
    capture.stop();

    bool whole = false;
    for (const auto& entry : fs::directory_iterator(work.path() / "out")) {
        whole = whole || qhs::fileContents(entry.path()) == body;
    }
    const double downloadSeconds = duration<double>(downloaded - started).count();
    const double throughSeconds = duration<double>(written - started).count();
    std::printf("body: %zu MB\n", megabytes);
    std::printf("curl alone:                 %.0f MB/s\n", megabytes / downloadSeconds);
    std::printf("capture to file written:    %.0f MB/s (time-out of 500 ms left out)\n",
                megabytes / throughSeconds);
    std::printf("rebuilt file equals served: %s\n", whole ? "yes" : "NO (segments lost)");
    return whole ? 0 : 2;
}
