#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/CommandOutput.h"
#include "support/Eventually.h"
#include "support/FileContents.h"
#include "support/LocalWebServer.h"
#include "support/LoopbackTraffic.h"
#include "support/RawPcap.h"
#include "support/RequireRoot.h"
#include "support/TempDir.h"
#include "support/TestDatagram.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;

constexpr const char* ServerProgram = "/usr/sbin/clickhouse-server";

bool clickHouseInstalled() {
    return fs::exists(ServerProgram) &&
           runProgram({"sh", "-c", "command -v clickhouse-client >/dev/null"}) == 0;
}

// A TCP port on loopback that nothing listens on.
std::uint16_t freeLoopbackPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    const bool bound = ::bind(probe, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                       ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(probe);
    return bound ? ntohs(address.sin_port) : 0;
}

// A ClickHouse server of the test's own on 127.0.0.1: its data, configuration and log in
// `folder`, on a free port; stopped when the object goes, however the test ended.
class ClickHouseServer {
  public:
    explicit ClickHouseServer(const fs::path& folder) : port_(freeLoopbackPort()) {
        const fs::path data = folder / "clickhouse";
        fs::create_directories(data);
        writeFileContents(folder / "config.xml",
                          "<?xml version=\"1.0\"?>\n<yandex>\n"
                          "  <logger><level>warning</level><console>1</console></logger>\n"
                          "  <listen_host>127.0.0.1</listen_host>\n"
                          "  <tcp_port>" +
                              std::to_string(port_) +
                              "</tcp_port>\n"
                              "  <path>" +
                              data.string() + "/</path>\n  <tmp_path>" + data.string() +
                              "/tmp/</tmp_path>\n  <user_files_path>" + data.string() +
                              "/user_files/</user_files_path>\n"
                              "  <format_schema_path>" +
                              data.string() +
                              "/format_schemas/</format_schema_path>\n"
                              "  <users_config>users.xml</users_config>\n"
                              "  <default_profile>default</default_profile>\n"
                              "  <default_database>default</default_database>\n"
                              "  <mark_cache_size>5368709120</mark_cache_size>\n"
                              "</yandex>\n");
        writeFileContents(folder / "users.xml",
                          "<?xml version=\"1.0\"?>\n<yandex>\n"
                          "  <profiles><default></default></profiles>\n"
                          "  <users><default><password></password>"
                          "<networks><ip>127.0.0.1</ip></networks>"
                          "<profile>default</profile><quota>default</quota></default></users>\n"
                          "  <quotas><default></default></quotas>\n"
                          "</yandex>\n");
        log_ = folder / "clickhouse-server.log";
        const std::string program = ServerProgram;
        const std::string configuration = "--config-file=" + (folder / "config.xml").string();
        char* const argv[] = {const_cast<char*>(program.c_str()),
                              const_cast<char*>(configuration.c_str()), nullptr};
        const int logFile = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        process_ = ::fork();
        if (process_ == 0) {
            if (::dup2(logFile, 1) < 0 || ::dup2(logFile, 2) < 0 || ::chdir(folder.c_str()) != 0) {
                ::_exit(126);
            }
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        ::close(logFile);
        // A first start makes its system tables, which takes a few seconds on a busy machine.
        ready_ = process_ > 0 && port_ != 0 &&
                 eventually(
                     [this] {
                         std::this_thread::sleep_for(std::chrono::milliseconds(100));
                         return query("SELECT 1") == "1\n";
                     },
                     std::chrono::seconds(60));
    }
    ~ClickHouseServer() {
        if (process_ <= 0) {
            return;
        }
        ::kill(process_, SIGTERM);
        int status = 0;
        if (!eventually([&] { return ::waitpid(process_, &status, WNOHANG) == process_; },
                        std::chrono::seconds(30))) {
            ::kill(process_, SIGKILL);
            ::waitpid(process_, &status, 0);
        }
    }
    ClickHouseServer(const ClickHouseServer&) = delete;
    ClickHouseServer& operator=(const ClickHouseServer&) = delete;

    bool ready() const { return ready_; }
    std::string log() const { return fileContents(log_); }
    // The client as a command line, for this server.
    std::string client() const { return "clickhouse-client --port " + std::to_string(port_); }
    // What a query prints (its rows as tab-separated lines), or the client's error.
    std::string query(const std::string& sql) const {
        return commandOutput(client() + " --query \"" + sql + "\" 2>&1");
    }

  private:
    std::uint16_t port_;
    fs::path log_;
    pid_t process_ = -1;
    bool ready_ = false;
};

// The README's example line that holds `marker`, without its indent.
std::string readmeLine(const std::string& marker) {
    std::istringstream readme(fileContents(QHS_README));
    for (std::string line; std::getline(readme, line);) {
        if (line.find(marker) != std::string::npos) {
            return line.substr(line.find_first_not_of(' '));
        }
    }
    return {};
}

// The README's statement that starts with `start`, through the line that holds its engine.
std::string readmeStatement(const std::string& start) {
    const std::string readme = fileContents(QHS_README);
    const std::size_t from = readme.find(start);
    if (from == std::string::npos) {
        return {};
    }
    const std::size_t engine = readme.find("ENGINE", from);
    return readme.substr(from, readme.find('\n', engine) - from);
}

// `text` with every `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// A line of the README run by bash (every command of a pipe must succeed): the program built,
// the test's own server, and the other names given as `names`; its errors go to `errors`.
std::string script(const ClickHouseServer& server, std::string line,
                   const std::vector<std::pair<std::string, std::string>>& names,
                   const fs::path& errors) {
    line = replaced(line, "sudo ", "");
    line = replaced(line, "build/src/QuillharbourSnifferV1.5.exe",
                    std::string("'") + QHS_APP_PATH + "'");
    line = replaced(line, "clickhouse-client", server.client());
    for (const auto& [from, to] : names) {
        line = replaced(line, from, to);
    }
    return "exec 2>'" + errors.string() + "'\n" + line + "\n";
}

int runScript(const fs::path& path, const std::string& text) {
    writeFileContents(path, text);
    return runProgram({"bash", "-o", "pipefail", path.string()});
}

// The tables of the README, loaded by its lines: from a capture file made here, whose rows
// must add up to what went into it; from a live capture; from another host (the `host`
// column); and the files rebuilt from the download of examples/download.pcap.
TEST(ClickHouse, TheReadmesTablesAndLinesLoadEveryRecordOfACapture) {
    REQUIRE_ROOT();
    if (!clickHouseInstalled()) {
        GTEST_SKIP() << "clickhouse-server and clickhouse-client are needed "
                        "(scripts/install-deps.sh installs them)";
    }
    TempDir dir;
    ClickHouseServer server(dir.path());
    ASSERT_TRUE(server.ready()) << server.log();
    for (const char* table : {"CREATE TABLE packets (", "CREATE TABLE files ("}) {
        const std::string statement = readmeStatement(table);
        ASSERT_FALSE(statement.empty()) << table;
        writeFileContents(dir.path() / "table.sql", statement);
        EXPECT_EQ(commandOutput(server.client() + " < '" + (dir.path() / "table.sql").string() +
                                "' 2>&1"),
                  "");
    }

    // Datagrams of each kind, two of them longer than the capture kept.
    constexpr std::uint32_t SnapLength = 1000;
    std::vector<test::TestDatagram> sent(6);
    sent[0].withPayload(std::string(100, 'q'));
    sent[1].sourcePort = 80;
    sent[1].destinationPort = 40000;
    sent[1].payload.assign(1400, 'r');
    sent[2].sourcePort = 443;
    sent[2].destinationPort = 51000;
    sent[3].protocol = 17;
    sent[3].sourcePort = 5353;
    sent[3].destinationPort = 53;
    sent[3].payload.assign(30, 's');
    sent[4].protocol = 17;
    sent[4].sourcePort = 53;
    sent[4].destinationPort = 5353;
    sent[4].payload.assign(1200, 't');
    sent[5].protocol = 1;
    sent[5].payload.assign(56, 'u');
    std::vector<std::vector<std::uint8_t>> datagrams;
    std::uint64_t capturedBytes = 0;
    std::uint64_t originalBytes = 0;
    std::uint64_t portSum = 0;
    for (const test::TestDatagram& datagram : sent) {
        datagrams.push_back(datagram.bytes());
        capturedBytes += std::min<std::size_t>(datagrams.back().size(), SnapLength);
        originalBytes += datagrams.back().size();
        if (datagram.protocol != 1) {
            portSum += datagram.sourcePort + datagram.destinationPort;
        }
    }
    const fs::path capture = dir.path() / "capture.pcap";
    writeRawPcap(capture, datagrams, SnapLength);
    const std::vector<std::pair<std::string, std::string>> names = {
        {"capture.pcap", "'" + capture.string() + "'"}};
    const fs::path errors = dir.path() / "errors";

    const std::string fileLoad = readmeLine("-r capture.pcap -json | clickhouse-client");
    ASSERT_EQ(fileLoad,
              "build/src/QuillharbourSnifferV1.5.exe -sniff -r capture.pcap -json | "
              "clickhouse-client --query \"INSERT INTO packets FORMAT JSONEachRow\"");
    ASSERT_EQ(runScript(dir.path() / "file.sh", script(server, fileLoad, names, errors)), 0)
        << fileContents(errors);
    EXPECT_EQ(server.query("SELECT count(), sum(captured_length), sum(original_length), "
                           "sum(source_port + destination_port), min(epoch_ns), max(epoch_ns), "
                           "toUnixTimestamp(min(captured)) FROM packets"),
              std::to_string(sent.size()) + "\t" + std::to_string(capturedBytes) + "\t" +
                  std::to_string(originalBytes) + "\t" + std::to_string(portSum) + "\t" +
                  std::to_string(rawPcapNanoseconds(0)) + "\t" +
                  std::to_string(rawPcapNanoseconds(sent.size() - 1)) + "\t" +
                  std::to_string(rawPcapNanoseconds(0) / 1000000000) + "\n");
    EXPECT_EQ(server.query("SELECT protocol_name, count() FROM packets GROUP BY protocol_name "
                           "ORDER BY protocol_name"),
              "ICMP\t1\nTCP\t3\nUDP\t2\n");

    // Live, on loopback: only the datagrams of one port, so the client's own traffic to the
    // server stays out, and a count that ends the run.
    constexpr std::uint16_t LivePort = 40703;
    const std::string liveLoad = readmeLine("-i eth0 -seconds 60 -json | clickhouse-client");
    ASSERT_FALSE(liveLoad.empty());
    const pid_t live = spawnProgram(
        {"bash", "-o", "pipefail", "-c",
         script(server, liveLoad,
                {{"eth0", "lo"},
                 {" -json |", " -json -c 3 udp port " + std::to_string(LivePort) + " |"}},
                errors)});
    ASSERT_TRUE(eventually([&] {
        return fileContents(errors).find("listening on") != std::string::npos;
    })) << fileContents(errors);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sendLoopbackUdp(LivePort, "live " + std::to_string(i)));
    }
    int status = -1;
    ASSERT_TRUE(eventually([&] { return ::waitpid(live, &status, WNOHANG) == live; },
                           std::chrono::seconds(30)))
        << fileContents(errors);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << fileContents(errors);
    EXPECT_EQ(server.query("SELECT count(), sum(captured_length) FROM packets WHERE "
                           "destination_port = " +
                           std::to_string(LivePort)),
              "3\t" + std::to_string(3 * (20 + 8 + 6)) + "\n");

    // Another host sends the capture again, its name in every line.
    const std::string hostLoad = readmeLine("-json | sed ");
    ASSERT_FALSE(hostLoad.empty());
    ASSERT_EQ(
        runScript(dir.path() / "host.sh", script(server, hostLoad,
                                                 {{"-i eth0 -seconds 60", "-r capture.pcap"},
                                                  {"capture.pcap", "'" + capture.string() + "'"},
                                                  {"db.example", "127.0.0.1"}},
                                                 errors)),
        0)
        << fileContents(errors);
    char hostName[256] = {};
    ASSERT_EQ(::gethostname(hostName, sizeof hostName - 1), 0);
    EXPECT_EQ(server.query("SELECT host, count(), sum(captured_length) FROM packets GROUP BY "
                           "host ORDER BY host"),
              "\t" + std::to_string(sent.size() + 3) + "\t" +
                  std::to_string(capturedBytes + 3 * 34) + "\n" + hostName + "\t" +
                  std::to_string(sent.size()) + "\t" + std::to_string(capturedBytes) + "\n");

    // The files rebuilt: one web page, as big as the file written.
    const fs::path rebuilt = dir.path() / "rebuilt";
    fs::create_directories(rebuilt);
    const std::string filesLoad = readmeLine("-files rebuilt -json | clickhouse-client");
    ASSERT_FALSE(filesLoad.empty());
    ASSERT_EQ(runScript(dir.path() / "files.sh",
                        script(server, filesLoad,
                               {{"capture.pcap", std::string("'") + QHS_EXAMPLE_CAPTURE + "'"},
                                {"rebuilt", "'" + rebuilt.string() + "'"}},
                               errors)),
              0)
        << fileContents(errors);
    std::vector<fs::path> written;
    for (const auto& entry : fs::directory_iterator(rebuilt)) {
        written.push_back(entry.path());
    }
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(server.query("SELECT path, size, content_type, incomplete FROM files"),
              written[0].string() + "\t" + std::to_string(fs::file_size(written[0])) +
                  "\ttext/html\t0\n");
}

}  // namespace
}  // namespace qhs
