#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filemode/FileCapture.h"
#include "platform/LinuxCaptureSource.h"
#include "support/TempDir.h"

extern char** environ;

namespace qhs {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string ServerAddress = "http://127.0.0.1:8080";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

pid_t spawn(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    return ::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? child
                                                                                        : -1;
}

int runToEnd(std::vector<std::string> arguments) {
    const pid_t child = spawn(std::move(arguments));
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool serverListens() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8080);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return connected;
}

// Real downloads on loopback: nginx serves files, curl fetches them, and the mode captures
// the traffic on 127.0.0.1 and writes the files it rebuilt.
class FileSnifferEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "capturing needs root (run the suite as root)";
        }
        if (runToEnd({"sh", "-c", "command -v nginx && command -v curl"}) != 0) {
            GTEST_SKIP() << "nginx and curl are needed (scripts/install-deps.sh installs them)";
        }
        const std::string w = work.path().string();
        fs::create_directory(www());
        fs::create_directory(output());
        writeFile(work.path() / "nginx.conf",
                  "worker_processes 1;\nuser root;\npid " + w +
                      "/nginx.pid;\nevents {}\n"
                      "http {\n  access_log off;\n  client_body_temp_path " +
                      w +
                      "/body;\n"
                      "  proxy_temp_path " +
                      w + "/proxy;\n  fastcgi_temp_path " + w +
                      "/fcgi;\n"
                      "  uwsgi_temp_path " +
                      w + "/uwsgi;\n  scgi_temp_path " + w +
                      "/scgi;\n"
                      "  types { text/html html; image/png png; application/octet-stream bin; }\n"
                      "  gzip on;\n  gzip_min_length 1;\n"
                      "  server { listen 127.0.0.1:8080; root " +
                      www().string() + "; }\n}\n");
        server = spawn({"nginx", "-e", w + "/error.log", "-p", w, "-c", w + "/nginx.conf", "-g",
                        "daemon off;"});
        ASSERT_TRUE(server > 0 && eventually(serverListens)) << readFile(w + "/error.log");

        SettingsRecord settings = defaultSettings();
        setTextField(settings.interfaceAddress, "127.0.0.1");
        setTextField(settings.fileOutputDirectory, output().string());
        capture.setAckTimeoutMs(300);
        const FileCaptureStart start = capture.start(settings);
        ASSERT_TRUE(start.startThread && start.messages.empty());
    }
    void TearDown() override {
        capture.stop();
        if (server > 0) {
            ::kill(server, SIGTERM);
            ::waitpid(server, nullptr, 0);
        }
    }

    fs::path www() const { return work.path() / "www"; }
    fs::path output() const { return work.path() / "out"; }

    // Downloads with curl and waits for the mode to write one more file; returns what curl
    // received and the file written last.
    std::pair<std::string, fs::path> download(const std::string& path,
                                              std::vector<std::string> options = {}) {
        const std::int32_t before = capture.filesWritten();
        const fs::path copy = work.path() / "curl-copy";
        options.insert(options.begin(), {"curl", "-s", "-o", copy.string()});
        options.push_back(ServerAddress + path);
        EXPECT_EQ(runToEnd(options), 0) << path;
        EXPECT_TRUE(eventually([&] { return capture.filesWritten() == before + 1; })) << path;
        fs::path newest;
        for (const auto& entry : fs::directory_iterator(output())) {
            if (newest.empty() || entry.last_write_time() > fs::last_write_time(newest)) {
                newest = entry.path();
            }
        }
        return {readFile(copy), newest};
    }

    TempDir work;
    pid_t server = -1;
    FileCapture capture{LinuxCaptureSource::create};
};

TEST_F(FileSnifferEndToEnd, DownloadsAreRebuiltByteForByte) {
    const std::string page = "<html><body>" + std::string(2000, 'p') + "</body></html>";
    const std::string image = randomBytes(200 * 1024, 1);
    const std::string archive = randomBytes(3 * 1024 * 1024, 2);
    writeFile(www() / "page.html", page);
    writeFile(www() / "image.png", image);
    writeFile(www() / "archive.bin", archive);

    // An error response is not a file to store.
    EXPECT_EQ(runToEnd({"curl", "-s", "-o", "/dev/null", ServerAddress + "/missing"}), 0);
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(capture.filesWritten(), 0);

    const auto [imageCopy, imageFile] = download("/image.png");
    EXPECT_EQ(imageCopy, image);
    EXPECT_EQ(readFile(imageFile), image);
    EXPECT_EQ(imageFile.filename().string().substr(0, 26), "127.0.0.1 to 127.0.0.1 - [");
    EXPECT_EQ(imageFile.extension(), ".png");

    const auto [archiveCopy, archiveFile] = download("/archive.bin");
    EXPECT_EQ(archiveCopy, archive);
    EXPECT_EQ(readFile(archiveFile), archive);
    EXPECT_EQ(archiveFile.extension(), ".octet-stream");

    // Compressed on the fly, the page comes chunked; the file keeps it compressed.
    const auto [pageCopy, pageFile] = download("/page.html", {"-H", "Accept-Encoding: gzip"});
    EXPECT_NE(pageCopy, page);
    EXPECT_EQ(readFile(pageFile), pageCopy);
    EXPECT_TRUE(pageFile.string().ends_with("].html.gz")) << pageFile;

    // A range comes as 206 and is stored like a 200: the part that was sent.
    const auto [partCopy, partFile] = download("/archive.bin", {"-r", "1000-8999"});
    EXPECT_EQ(partCopy, archive.substr(1000, 8000));
    EXPECT_EQ(readFile(partFile), partCopy);
    EXPECT_EQ(capture.filesWritten(), 4);
}

}  // namespace
}  // namespace qhs
