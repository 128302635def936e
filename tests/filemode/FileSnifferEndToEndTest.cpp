#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filemode/FileCapture.h"
#include "platform/PcapCaptureSource.h"
#include "platform/ProcessFacts.h"
#include "platform/SystemMemoryProbe.h"
#include "support/Eventually.h"
#include "support/LocalWebServer.h"
#include "support/LoopbackHttpServer.h"
#include "support/RepairedTcpPair.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

// Real downloads on loopback: nginx serves files, curl fetches them, and the mode captures
// the traffic on 127.0.0.1 and writes the files it rebuilt.
class FileSnifferEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "capturing needs root (run the suite as root)";
        }
        if (!LocalWebServer::available()) {
            GTEST_SKIP() << "nginx and curl are needed (scripts/install-deps.sh installs them)";
        }
        fs::create_directory(www());
        fs::create_directory(output());
        server = std::make_unique<LocalWebServer>(work.path(), www());
        ASSERT_TRUE(server->running()) << server->errors();

        SettingsRecord settings = defaultSettings();
        setTextField(settings.interfaceAddress, "127.0.0.1");
        setTextField(settings.fileOutputDirectory, output().string());
        capture.setAckTimeoutMs(300);
        const FileCaptureStart start = capture.start(settings);
        ASSERT_TRUE(start.startThread && start.messages.empty());
    }
    void TearDown() override { capture.stop(); }

    fs::path www() const { return work.path() / "www"; }
    fs::path output() const { return work.path() / "out"; }

    // Downloads with curl and waits for the mode to write one more file; returns what curl
    // received and the file written last.
    std::pair<std::string, fs::path> download(const std::string& path,
                                              std::vector<std::string> options = {}) {
        const std::int32_t before = capture.filesWritten();
        const fs::path copy = work.path() / "curl-copy";
        options.insert(options.begin(), {"curl", "-s", "-o", copy.string()});
        options.push_back(LocalWebServer::address(path));
        EXPECT_EQ(runProgram(options), 0) << path;
        EXPECT_TRUE(eventually([&] { return capture.filesWritten() == before + 1; })) << path;
        fs::path newest;
        for (const auto& entry : fs::directory_iterator(output())) {
            if (newest.empty() || entry.last_write_time() > fs::last_write_time(newest)) {
                newest = entry.path();
            }
        }
        return {fileContents(copy), newest};
    }

    TempDir work;
    std::unique_ptr<LocalWebServer> server;
    // Set up as the window sets it up.
    FileCapture capture{
        PcapCaptureSource::create, {}, &raiseThreadPriority, flooredHugePageSlabMemory()};
};

TEST_F(FileSnifferEndToEnd, DownloadsAreRebuiltByteForByte) {
    const std::string page = "<html><body>" + std::string(2000, 'p') + "</body></html>";
    const std::string image = randomBytes(200 * 1024, 1);
    const std::string archive = randomBytes(3 * 1024 * 1024, 2);
    writeFileContents(www() / "page.html", page);
    writeFileContents(www() / "image.png", image);
    writeFileContents(www() / "archive.bin", archive);

    // An error response is not a file to store.
    EXPECT_EQ(runProgram({"curl", "-s", "-o", "/dev/null", LocalWebServer::address("/missing")}),
              0);
    // The completion pass counts the exchange's streams while they wait out the time-out and
    // leaves them out once it has decided them. Should the polling miss the count, its own
    // limit has given the pass all the time it needs.
    eventually([&] { return capture.filesProcessing() > 0; });
    EXPECT_TRUE(eventually([&] { return capture.filesProcessing() == 0; }));
    EXPECT_EQ(capture.filesWritten(), 0);

    const auto [imageCopy, imageFile] = download("/image.png");
    EXPECT_EQ(imageCopy, image);
    EXPECT_EQ(fileContents(imageFile), image);
    EXPECT_EQ(imageFile.filename().string().substr(0, 26), "127.0.0.1 to 127.0.0.1 - [");
    EXPECT_EQ(imageFile.extension(), ".png");

    const auto [archiveCopy, archiveFile] = download("/archive.bin");
    EXPECT_EQ(archiveCopy, archive);
    EXPECT_EQ(fileContents(archiveFile), archive);
    EXPECT_EQ(archiveFile.extension(), ".octet-stream");

    // Compressed on the fly, the page comes chunked; the file keeps it compressed.
    const auto [pageCopy, pageFile] = download("/page.html", {"-H", "Accept-Encoding: gzip"});
    EXPECT_NE(pageCopy, page);
    EXPECT_EQ(fileContents(pageFile), pageCopy);
    EXPECT_TRUE(pageFile.string().ends_with("].html.gz")) << pageFile;

    // A range comes as 206 and is stored like a 200: the part that was sent.
    const auto [partCopy, partFile] = download("/archive.bin", {"-r", "1000-8999"});
    EXPECT_EQ(partCopy, archive.substr(1000, 8000));
    EXPECT_EQ(fileContents(partFile), partCopy);
    EXPECT_EQ(capture.filesWritten(), 4);
}

TEST_F(FileSnifferEndToEnd, FullSpeedDownloadOf200MegabytesIsRebuiltWhole) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer makes the capture thread many times slower than the kernel fills its
    // ring at full loopback speed, so a drop there says nothing about the program; the
    // other downloads of this suite still run under it.
    GTEST_SKIP() << "a full-speed capture cannot keep up under ThreadSanitizer";
#endif
    // On loopback curl takes this in a fraction of a second, far faster than fresh memory
    // can be backed for the segments as they come.
    std::string body(200'000'000, '\0');
    std::mt19937_64 random(4);
    for (std::size_t at = 0; at + 8 <= body.size(); at += 8) {
        const std::uint64_t value = random();
        std::memcpy(body.data() + at, &value, 8);
    }
    writeFileContents(www() / "large.bin", body);
    ASSERT_EQ(runProgram({"curl", "-s", "-o", "/dev/null", LocalWebServer::address("/large.bin")}),
              0);
    // Joining and writing 200 MB takes a while under the sanitizers.
    ASSERT_TRUE(
        eventually([&] { return capture.filesWritten() + capture.incompleteFiles() == 1; }, 60s));
    EXPECT_EQ(capture.incompleteFiles(), 0);
    EXPECT_EQ(capture.droppedCount(), 0u);
    for (const auto& entry : fs::directory_iterator(output())) {
        EXPECT_TRUE(fileContents(entry.path()) == body) << fs::file_size(entry.path()) << " bytes";
    }
}

TEST_F(FileSnifferEndToEnd, ParallelDownloadsEndingTogetherAllBecomeFiles) {
    // Streams that complete in one pass share the millisecond of their names.
    std::vector<std::string> curl{"curl", "-s", "--parallel", "--parallel-max", "8"};
    std::vector<std::string> bodies;
    for (int i = 0; i < 8; ++i) {
        bodies.push_back(randomBytes(20000 + static_cast<std::size_t>(i), 10 + i));
        const std::string name = "part" + std::to_string(i) + ".bin";
        writeFileContents(www() / name, bodies.back());
        curl.insert(curl.end(),
                    {"-o", (work.path() / name).string(), LocalWebServer::address("/" + name)});
    }
    ASSERT_EQ(runProgram(curl), 0);
    ASSERT_TRUE(eventually([&] { return capture.filesWritten() == 8; })) << capture.filesWritten();
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(output())) {
        written.push_back(fileContents(entry.path()));
    }
    std::sort(written.begin(), written.end());
    std::sort(bodies.begin(), bodies.end());
    EXPECT_TRUE(written == bodies) << written.size() << " files";
}

TEST_F(FileSnifferEndToEnd, ResponseCutShortIsWrittenMarkedAndNotCountedAsWhole) {
    // The server promises more than it sends, then closes.
    LoopbackHttpServer server(
        "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 5000\r\n\r\n" +
        std::string(3000, 'p'));
    runProgram({"curl", "-s", "-o", "/dev/null",
                "http://127.0.0.1:" + std::to_string(server.port()) + "/cut.png"});
    ASSERT_TRUE(eventually([&] { return capture.incompleteFiles() == 1; }));
    EXPECT_EQ(capture.filesWritten(), 0);
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(output())) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].filename().string().ends_with("] (incomplete).png")) << files[0];
    EXPECT_EQ(fileContents(files[0]), std::string(3000, 'p'));
}

TEST_F(FileSnifferEndToEnd, StreamWhoseNumbersWrapIsRebuiltWhole) {
    // The server's numbers start 3000 below the top, so they wrap within the first segments.
    RepairedTcpPair connection(4294964296u, 1000);
    ASSERT_TRUE(connection.connected()) << std::strerror(errno);
    const std::string body = randomBytes(1024 * 1024, 3);
    const std::string response =
        "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    const std::string request = "GET /wrapped.zip HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(::send(connection.second(), request.data(), request.size(), 0),
              static_cast<ssize_t>(request.size()));
    std::thread server(
        [&] { ::send(connection.first(), response.data(), response.size(), MSG_NOSIGNAL); });
    std::string received;
    char buffer[65536];
    while (received.size() < response.size()) {
        const ssize_t count = ::recv(connection.second(), buffer, sizeof buffer, 0);
        ASSERT_GT(count, 0);
        received.append(buffer, static_cast<std::size_t>(count));
    }
    server.join();
    ASSERT_TRUE(eventually([&] { return capture.filesWritten() == 1; }));
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(output())) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".zip");
    EXPECT_TRUE(fileContents(files[0]) == body) << fs::file_size(files[0]) << " bytes";
}

}  // namespace
}  // namespace qhs
