#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/PacketFilter.h"
#include "app/SettingsRecord.h"
#include "capture/LinkLayer.h"
#include "capture/PacketIntake.h"
#include "packetmode/CaptureFileExport.h"
#include "packetmode/PacketListSave.h"
#include "platform/CaptureFileReader.h"
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

// The program, run from the command line with its output in files.
class SniffRun {
  public:
    SniffRun(const fs::path& folder, std::vector<std::string> arguments,
             std::vector<std::string> environment = {"PATH=/usr/sbin:/usr/bin:/bin"})
        : out_(folder / "stdout"), err_(folder / "stderr") {
        arguments.insert(arguments.begin(), QHS_APP_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        // No display: the run must not need one.
        std::vector<char*> envp;
        for (std::string& variable : environment) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        ::posix_spawn(&process_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
    }

    bool listening() const { return err().find("listening on") != std::string::npos; }
    void interrupt() const { ::kill(process_, SIGINT); }
    pid_t pid() const { return process_; }
    // The exit code, or -1 when it did not end by itself.
    int wait() {
        int status = 0;
        if (process_ <= 0 || ::waitpid(process_, &status, 0) != process_) {
            return -1;
        }
        process_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // As wait(), but a run still going after `limit` is killed and gives -1.
    int waitWithin(std::chrono::milliseconds limit) {
        int status = 0;
        const bool ended = eventually(
            [&] { return process_ > 0 && ::waitpid(process_, &status, WNOHANG) == process_; },
            limit);
        if (!ended) {
            ::kill(process_, SIGKILL);
            wait();
            return -1;
        }
        process_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string out() const { return fileContents(out_); }
    std::string err() const { return fileContents(err_); }

  private:
    fs::path out_;
    fs::path err_;
    pid_t process_ = 0;
};

// Runs the program to its end: the exit code and standard error.
std::pair<int, std::string> runToEnd(const fs::path& folder, std::vector<std::string> arguments) {
    SniffRun run(folder, std::move(arguments));
    const int code = run.wait();
    return {code, run.err()};
}

std::size_t count(const std::string& text, const std::string& word) {
    std::size_t found = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++found;
    }
    return found;
}

TEST(HeadlessSniff, WrongOptionsMissingFilesAndNoInterfaceEachSayWhatIsWrong) {
    TempDir dir;
    const auto expect = [&](std::vector<std::string> arguments, int code, const std::string& text) {
        arguments.insert(arguments.begin(), "-Sniff");
        const auto [exitCode, err] = runToEnd(dir.path(), arguments);
        EXPECT_EQ(exitCode, code) << arguments[1];
        EXPECT_EQ(err, "QuillharbourSnifferV1.5: " + text + "\n") << arguments[1];
    };
    expect({"-bogus"}, 2, "unknown option \"-bogus\" (see -sniff -help)");
    expect({"-c"}, 2, "option -c needs a value");
    expect({"-c", "0"}, 2, "-c needs a count of 1 or more, not \"0\"");
    expect({"-seconds", "5s"}, 2, "-seconds needs a number of 1 or more, not \"5s\"");
    expect({"-data", "octal"}, 2, "-data takes heading, text, dec or hex, not \"octal\"");
    expect({"-files", "out", "-x"}, 2,
           "-files rebuilds files and takes no packet options (-c, -filters, -data, -x, -A, "
           "-out, -w)");
    expect({"-r", "/no/such/File.pcap"}, 1, "/no/such/File.pcap: No such file or directory.");
    // Outputs are made only once the input is open.
    const fs::path kept = dir.path() / "keep.txt";
    writeFileContents(kept, "mine");
    expect({"-r", "/no/such/File.pcap", "-out", kept.string(), "-w", kept.string()}, 1,
           "/no/such/File.pcap: No such file or directory.");
    EXPECT_EQ(
        runToEnd(dir.path(), {"-sniff", "-i", "no-such-interface", "-out", kept.string()}).first,
        1);
    EXPECT_EQ(fileContents(kept), "mine");
    // Settings that another member of the file's group could have written steer nothing.
    const fs::path shared = dir.path() / "shared.QHS";
    ASSERT_TRUE(saveSettings(defaultSettings(), shared.string()));
    fs::permissions(shared, fs::perms(0664));
    expect({"-settings", shared.string(), "-r", "/no/such/File.pcap"}, 1,
           shared.string() + ": other users can write this settings file; it is not read");
    SniffRun help(dir.path(), {"/SNIFF", "-help"});
    EXPECT_EQ(help.wait(), 0);
    EXPECT_NE(help.out().find("-r FILE"), std::string::npos);
}

class HeadlessCapture : public testing::Test {
  protected:
    HeadlessCapture() {
        SettingsRecord settings = defaultSettings();
        setTextField(settings.interfaceAddress, "127.0.0.1");
        settings.filterAllowUdp = 0;  // the filters leave UDP out
        saveSettings(settings, settingsPath.string());
    }

    // Writes `lines` numbered lines of `text` to www/served.bin and gives them back.
    static std::string serveNumberedLines(const fs::path& www, int lines, std::string_view text) {
        fs::create_directories(www);
        std::string body;
        for (int i = 0; i < lines; ++i) {
            body += "line " + std::to_string(i) + " " + std::string(text) + "\n";
        }
        writeFileContents(www / "served.bin", body);
        return body;
    }

    // tcpdump recording the loopback's incoming frames into `recorded`; its process id.
    static int startTcpdump(const fs::path& recorded, const fs::path& log) {
        return std::stoi(commandOutput("tcpdump -i lo -Q in -n -B 262144 --immediate-mode -U -w '" +
                                       recorded.string() + "' >/dev/null 2>'" + log.string() +
                                       "' & echo $!"));
    }

    // File Sniffer Mode run over a recording with an ACK time-out of 200 ms.
    struct Rebuilt {
        int exitCode = -1;
        std::string out;
        std::string err;
        std::vector<fs::path> files;
    };
    Rebuilt rebuildFrom(const fs::path& recorded) {
        SettingsRecord settings = defaultSettings();
        settings.ackTimeoutMs = 200;
        saveSettings(settings, settingsPath.string());
        const fs::path files = dir.path() / "Rebuilt Files";
        fs::create_directories(files);
        SniffRun run(dir.path(), {"-sniff", "-r", recorded.string(), "-files", files.string(),
                                  "-settings", settingsPath.string()});
        Rebuilt rebuilt;
        rebuilt.exitCode = run.wait();
        rebuilt.out = run.out();
        rebuilt.err = run.err();
        for (const auto& entry : fs::directory_iterator(files)) {
            rebuilt.files.push_back(entry.path());
        }
        return rebuilt;
    }

    TempDir dir;
    fs::path settingsPath = dir.path() / "sniff.QHS";
};

TEST_F(HeadlessCapture, LiveRecordsAreTheSavedListsWithTheSettingsFiltersAndEndAtTheCount) {
    REQUIRE_ROOT();
    const fs::path records = dir.path() / "records.txt";
    const fs::path packets = dir.path() / "packets.pcap";
    SniffRun run(dir.path(), {"sniff", "-settings", settingsPath.string(), "-filters", "-c", "4",
                              "-x", "-out", records.string(), "-w", packets.string()});
    ASSERT_TRUE(eventually([&] { return run.listening(); })) << run.err();
    ASSERT_TRUE(sendLoopbackUdp(40700, "left out by the filters"));
    ASSERT_TRUE(pingLoopback(1));  // a request and its reply
    ASSERT_TRUE(pingLoopback(2));
    ASSERT_EQ(run.wait(), 0) << run.err();
    EXPECT_EQ(run.err(),
              "listening on 127.0.0.1\n5 packets received, 4 accepted, 0 dropped by "
              "the system\n");
    const std::string written = fileContents(records);
    EXPECT_EQ(count(written, "ICMP"), 4u);
    EXPECT_EQ(count(written, " UDP "), 0u);

    // The same packets saved from a list give the same bytes, but for the milliseconds taken.
    SettingsRecord settings = defaultSettings();
    settings.saveIncludeData = 1;
    settings.saveDataText = 0;
    settings.saveDataDec = 0;
    settings.saveDataHex = 1;
    const PublishedSettings published(settings);
    PacketSnifferState state;
    PacketTable table;
    PacketFilter filter;
    PacketCaptureContext context{state, table, filter, published, {}};
    CaptureFileReader reader(packets.string());
    ASSERT_TRUE(reader.isOpen()) << reader.fault();
    ASSERT_EQ(loadCaptureFrames(reader, context, {}).stored, 4u);
    const fs::path saved = dir.path() / "saved.txt";
    std::atomic<bool> cancel{false};
    ASSERT_EQ(writePacketListFile(saved.string(), table, settings, cancel).status,
              SaveStatus::Saved);
    const std::string expected = fileContents(saved);
    const std::string ending = "4 Packets listed in ";
    ASSERT_NE(written.rfind(ending), std::string::npos);
    EXPECT_EQ(written.substr(0, written.rfind(ending)), expected.substr(0, expected.rfind(ending)));
}

TEST_F(HeadlessCapture, CtrlCEndsALiveCaptureCleanlyWithTheSummary) {
    REQUIRE_ROOT();
    SniffRun run(dir.path(), {"-sniff", "-settings", settingsPath.string(), "-A"});
    ASSERT_TRUE(eventually([&] { return run.listening(); })) << run.err();
    ASSERT_TRUE(sendLoopbackUdp(40701, "seen before the interrupt"));
    ASSERT_TRUE(eventually([&] { return run.out().find("seen before") != std::string::npos; }));
    run.interrupt();
    EXPECT_EQ(run.wait(), 0);
    // The datagram and, as nothing listens on its port, the "port unreachable" answer.
    EXPECT_NE(run.err().find(" accepted, 0 dropped by the system\n"), std::string::npos)
        << run.err();
}

TEST_F(HeadlessCapture, NoPermissionAndNoInterfaceAreTheirOwnFailures) {
    REQUIRE_ROOT();
    EXPECT_EQ(runToEnd(dir.path(), {"-sniff", "-i", "10.255.255.1"}),
              std::make_pair(1, std::string("QuillharbourSnifferV1.5: no interface that is up "
                                            "owns the address \"10.255.255.1\"\n")));
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(10);
        }
        TempDir own;
        const auto [code, err] = runToEnd(own.path(), {"-sniff", "-i", "127.0.0.1"});
        ::_exit(code == 1 && err.find("no permission to capture") != std::string::npos ? 0 : 11);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// tcpdump records a download from nginx; the program reads the file, lists its packets and
// rebuilds the downloaded file from it.
TEST_F(HeadlessCapture, ACaptureFileByTcpdumpIsListedAndItsDownloadRebuilt) {
    REQUIRE_ROOT();
    if (!LocalWebServer::available()) {
        GTEST_SKIP() << "nginx and curl are needed (scripts/install-deps.sh installs them)";
    }
    const fs::path www = dir.path() / "www";
    const std::string body = serveNumberedLines(www, 20000, "of the served file");
    LocalWebServer server(dir.path(), www);
    ASSERT_TRUE(server.running()) << server.errors();
    const fs::path recorded = dir.path() / "download.pcap";
    const fs::path log = dir.path() / "tcpdump.log";
    const int tcpdump = startTcpdump(recorded, log);
    ASSERT_TRUE(
        eventually([&] { return fileContents(log).find("listening on") != std::string::npos; }));
    ASSERT_EQ(runProgram({"curl", "-s", "-o", (dir.path() / "fetched").string(),
                          LocalWebServer::address("/served.bin")}),
              0);
    // Loopback keeps the order: once the fence is in the file, so is the whole download.
    const std::string fence = "fence-after-the-download";
    ASSERT_TRUE(sendLoopbackUdp(40702, fence));
    ASSERT_TRUE(
        eventually([&] { return fileContents(recorded).find(fence) != std::string::npos; }));
    ::kill(tcpdump, SIGINT);
    ASSERT_TRUE(eventually([&] { return ::kill(tcpdump, 0) != 0; }));

    SniffRun listed(dir.path(), {"-sniff", "-r", recorded.string()});
    ASSERT_EQ(listed.wait(), 0) << listed.err();
    EXPECT_GT(count(listed.out(), " TCP "), 10u);
    EXPECT_NE(listed.err().find(" accepted, 0 dropped by the system"), std::string::npos);

    const Rebuilt rebuilt = rebuildFrom(recorded);
    ASSERT_EQ(rebuilt.exitCode, 0) << rebuilt.err;
    const std::vector<fs::path>& written = rebuilt.files;
    ASSERT_EQ(written.size(), 1u) << rebuilt.out;
    EXPECT_TRUE(fileContents(written[0]) == body)
        << written[0] << ": " << fs::file_size(written[0]) << " bytes of " << body.size() << "; "
        << fileContents(log) << rebuilt.err;
    EXPECT_EQ(rebuilt.out, written[0].string() + "\n");
    EXPECT_NE(rebuilt.err.find(", 1 files written"), std::string::npos) << rebuilt.err;
}

// Real IPv6 on ::1, captured live beside tcpdump: an echo and its reply, UDP, a TCP exchange,
// a datagram with hop-by-hop options in two fragments put in through a packet socket, and a
// download from nginx on [::1] by curl -6. The program's file lists as tcpdump's does, its
// records name the fields after the extension headers, and the download is rebuilt byte for
// byte from tcpdump's recording, named by its IPv6 addresses.
TEST_F(HeadlessCapture, Ipv6OnLoopbackIsCapturedAsTcpdumpCapturesItAndItsDownloadRebuilt) {
    REQUIRE_ROOT();
    if (!LocalWebServer::available()) {
        GTEST_SKIP() << "nginx and curl are needed (scripts/install-deps.sh installs them)";
    }
    const fs::path www = dir.path() / "www";
    const std::string body = serveNumberedLines(www, 30000, "of the file served over IPv6");
    LocalWebServer server(dir.path(), www, true);
    ASSERT_TRUE(server.running()) << server.errors();

    const fs::path recorded = dir.path() / "tcpdump.pcap";
    const fs::path log = dir.path() / "tcpdump.log";
    const int tcpdump = startTcpdump(recorded, log);
    const fs::path ours = dir.path() / "ours.pcap";
    const fs::path oursFolder = dir.path() / "ours";
    fs::create_directories(oursFolder);
    SniffRun run(oursFolder, {"-sniff", "-i", "lo", "-json", "-w", ours.string()});
    ASSERT_TRUE(eventually([&] {
        return run.listening() && fileContents(log).find("listening on") != std::string::npos;
    })) << run.err();

    ASSERT_TRUE(pingLoopback6(1));
    ASSERT_TRUE(sendLoopbackUdp6(40712, "over IPv6"));
    ASSERT_TRUE(exchangeLoopbackTcp6(40713, "GET / HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"));
    // UDP from port 5000 to 40714 after hop-by-hop options (PadN), in fragments at 0 and 32.
    const std::string data =
        "first fragment: 24 bytes"
        "and the second one";
    // Built at their full sizes: GCC 12 warns falsely on inserting into a short vector.
    std::vector<std::uint8_t> udp(8 + data.size(), 0);
    const std::uint8_t udpHeader[] = {0x13, 0x88, 0x9F,
                                      0x0A, 0,    static_cast<std::uint8_t>(udp.size())};
    for (std::size_t index = 0; index < sizeof udpHeader; ++index) {
        udp[index] = udpHeader[index];
    }
    for (std::size_t index = 0; index < data.size(); ++index) {
        udp[8 + index] = static_cast<std::uint8_t>(data[index]);
    }
    const auto fragment = [&](std::size_t from, std::size_t to, bool more) {
        std::vector<std::uint8_t> datagram(56 + (to - from), 0);
        const std::size_t payloadLength = datagram.size() - 40;
        datagram[0] = 0x60;
        datagram[4] = static_cast<std::uint8_t>(payloadLength >> 8);
        datagram[5] = static_cast<std::uint8_t>(payloadLength);
        datagram[6] = 0;  // hop-by-hop options
        datagram[7] = 64;
        datagram[23] = datagram[39] = 1;  // ::1 to ::1
        const std::uint8_t headers[] = {44,
                                        0,
                                        1,
                                        4,
                                        0,
                                        0,
                                        0,
                                        0,  // hop-by-hop: PadN of 4
                                        17,
                                        0,
                                        static_cast<std::uint8_t>(from >> 5),
                                        static_cast<std::uint8_t>((from << 3) | (more ? 1 : 0)),
                                        0,
                                        0,
                                        0x51,
                                        0x7E};  // fragment, id 0x517E
        for (std::size_t index = 0; index < sizeof headers; ++index) {
            datagram[40 + index] = headers[index];
        }
        for (std::size_t index = from; index < to; ++index) {
            datagram[56 + index - from] = udp[index];
        }
        return datagram;
    };
    ASSERT_TRUE(injectLoopbackDatagram(fragment(0, 32, true), ETH_P_IPV6));
    ASSERT_TRUE(injectLoopbackDatagram(fragment(32, udp.size(), false), ETH_P_IPV6));
    ASSERT_EQ(runProgram({"curl", "-6", "-s", "-o", (dir.path() / "fetched").string(),
                          LocalWebServer::address6("/served.bin")}),
              0);
    // Loopback keeps the order: once the fence is in both files, so is everything before it.
    const std::string fence = "fence-after-the-ipv6-traffic";
    ASSERT_TRUE(sendLoopbackUdp(40702, fence));
    ASSERT_TRUE(eventually([&] {
        return fileContents(recorded).find(fence) != std::string::npos &&
               fileContents(ours).find(fence) != std::string::npos;
    }));
    ::kill(tcpdump, SIGINT);
    run.interrupt();
    ASSERT_TRUE(eventually([&] { return ::kill(tcpdump, 0) != 0; }));
    ASSERT_EQ(run.wait(), 0) << run.err();

    // The same IPv6 datagrams, as tcpdump lists them, from its Ethernet frames and our raw IP.
    const auto listed = [](const fs::path& file) {
        return commandOutput("tcpdump -n -t -r '" + file.string() + "' ip6 2>/dev/null");
    };
    const std::string reference = listed(recorded);
    EXPECT_GT(count(reference, "IP6 ::1."), 20u) << reference;
    EXPECT_EQ(count(reference, "ICMP6, echo"), 2u) << reference;
    EXPECT_EQ(count(reference, "frag (0|32)"), 1u) << reference;
    EXPECT_EQ(listed(ours), reference);
    EXPECT_NE(run.err().find(" packets received, "), std::string::npos) << run.err();
    EXPECT_EQ(run.err().find("skipped"), std::string::npos) << run.err();

    // The records name the upper layer after the extension headers; a later fragment has no
    // ports.
    const std::string records = run.out();
    EXPECT_GE(count(records, R"("protocol":58,"protocol_name":"ICMPv6")"), 2u) << records;
    EXPECT_NE(records.find(R"("source":"::1","destination":"::1","source_port":5000,)"
                           R"("destination_port":40714)"),
              std::string::npos)
        << records;
    EXPECT_NE(records.find(R"("protocol":17,"protocol_name":"UDP","captured_length":74,)"),
              std::string::npos)
        << records;
    EXPECT_NE(records.find(R"("source_port":0,"destination_port":0,"tcp_sequence":0)"),
              std::string::npos)
        << records;
    EXPECT_NE(records.find(R"("destination_port":40713,"tcp_sequence":)"), std::string::npos);

    const Rebuilt rebuilt = rebuildFrom(recorded);
    ASSERT_EQ(rebuilt.exitCode, 0) << rebuilt.err;
    const std::vector<fs::path>& written = rebuilt.files;
    ASSERT_EQ(written.size(), 1u) << rebuilt.out << rebuilt.err;
    EXPECT_TRUE(fileContents(written[0]) == body)
        << written[0] << ": " << fs::file_size(written[0]) << " bytes of " << body.size();
    EXPECT_EQ(written[0].filename().string().rfind("::1 to ::1 - [", 0), 0u) << written[0];
    EXPECT_NE(rebuilt.err.find(", 1 files written"), std::string::npos) << rebuilt.err;

    // An interface with only an IPv6 address is listed with it and captured on by its name.
    ASSERT_EQ(runProgram({"ip", "tuntap", "add", "mode", "tun", "qhs-six"}), 0);
    ASSERT_EQ(runProgram({"ip", "addr", "add", "fd00::5/64", "dev", "qhs-six", "nodad"}), 0);
    ASSERT_EQ(runProgram({"ip", "link", "set", "qhs-six", "up"}), 0);
    SniffRun list(dir.path(), {"-sniff", "-D"});
    EXPECT_EQ(list.wait(), 0);
    EXPECT_NE(list.out().find("qhs-six [Up] fd00::5"), std::string::npos) << list.out();
    SniffRun onlyIpv6(dir.path(), {"-sniff", "-i", "qhs-six", "-seconds", "1"});
    EXPECT_EQ(onlyIpv6.wait(), 0) << onlyIpv6.err();
    EXPECT_EQ(onlyIpv6.err().rfind("listening on qhs-six\n", 0), 0u) << onlyIpv6.err();
    ASSERT_EQ(runProgram({"ip", "tuntap", "del", "mode", "tun", "qhs-six"}), 0);
}

// Read from a file, File Sniffer runs on the capture's own time: the download of a capture
// moved back to 14 July 2003 by editcap is named at that time, and the run ends with the file
// instead of waiting out the ACK time-out (10 s); with -json its record names the stream and
// the file's size and type. With its folder missing, it says so on standard error at once and
// fails.
TEST_F(HeadlessCapture, ACaptureFileRebuildsOnItsOwnTimeAndAMissingFolderIsAFailure) {
    const std::string firstStamp =
        commandOutput(std::string("tshark -r '") + QHS_EXAMPLE_CAPTURE +
                      "' -c 1 -T fields -e frame.time_epoch 2>/dev/null");
    ASSERT_FALSE(firstStamp.empty()) << "tshark is needed (scripts/install-deps.sh installs it)";
    // 2003-07-14 12:00:00 UTC.
    const long long shift = 1058184000LL - std::stoll(firstStamp);
    const fs::path moved = dir.path() / "2003.pcap";
    ASSERT_EQ(
        runProgram({"editcap", "-t", std::to_string(shift), QHS_EXAMPLE_CAPTURE, moved.string()}),
        0);
    const fs::path files = dir.path() / "files";
    fs::create_directories(files);
    const std::vector<std::string> environment = {"PATH=/usr/sbin:/usr/bin:/bin", "TZ=UTC"};

    const auto started = std::chrono::steady_clock::now();
    SniffRun rebuilt(dir.path(),
                     {"-sniff", "-settings", settingsPath.string(), "-r", moved.string(), "-files",
                      files.string()},
                     environment);
    ASSERT_EQ(rebuilt.waitWithin(std::chrono::seconds(30)), 0) << rebuilt.err();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    // The last datagram came within a second of the first; the ACK time-out follows it.
    EXPECT_EQ(
        rebuilt.out().rfind(files.string() + "/127.0.0.1 to 127.0.0.1 - [2003.07.14 - 12.00.1", 0),
        0u)
        << rebuilt.out();
    EXPECT_NE(rebuilt.err().find(", 1 files written\n"), std::string::npos) << rebuilt.err();

    // With -json the file is a record: the stream's ends and the media type as tshark reads
    // them from the response, and the size of the file written.
    const fs::path recorded = dir.path() / "recorded";
    fs::create_directories(recorded);
    SniffRun records(dir.path(),
                     {"-sniff", "-settings", settingsPath.string(), "-r", moved.string(), "-files",
                      recorded.string(), "-json"},
                     environment);
    ASSERT_EQ(records.waitWithin(std::chrono::seconds(30)), 0) << records.err();
    std::istringstream response(commandOutput(
        "tshark -r '" + moved.string() +
        "' -Y http.response -T fields -e ip.dst -e tcp.dstport -e ip.src -e tcp.srcport -e "
        "http.content_type 2>/dev/null"));
    std::string client, clientPort, server, serverPort, contentType;
    ASSERT_TRUE(response >> client >> clientPort >> server >> serverPort >> contentType);
    const fs::path written = fs::directory_iterator(recorded)->path();
    EXPECT_EQ(records.out(), "{\"path\":\"" + written.string() +
                                 "\",\"size\":" + std::to_string(fs::file_size(written)) +
                                 ",\"client\":\"" + client + "\",\"client_port\":" + clientPort +
                                 ",\"server\":\"" + server + "\",\"server_port\":" + serverPort +
                                 ",\"content_type\":\"" + contentType +
                                 "\",\"incomplete\":false}\n");

    // -q: the file and no line.
    const fs::path quiet = dir.path() / "quiet";
    fs::create_directories(quiet);
    SniffRun quietRun(dir.path(),
                      {"-sniff", "-settings", settingsPath.string(), "-r", moved.string(), "-files",
                       quiet.string(), "-q"},
                      environment);
    ASSERT_EQ(quietRun.waitWithin(std::chrono::seconds(30)), 0) << quietRun.err();
    EXPECT_EQ(quietRun.out(), "");
    EXPECT_EQ(fileContents(fs::directory_iterator(quiet)->path()), fileContents(written));

    SniffRun missing(dir.path(),
                     {"-sniff", "-settings", settingsPath.string(), "-r", moved.string(), "-files",
                      "/nonexistent/dir"},
                     environment);
    EXPECT_EQ(missing.waitWithin(std::chrono::seconds(30)), 1) << missing.err();
    EXPECT_EQ(missing.err(),
              "QuillharbourSnifferV1.5: /nonexistent/dir: No such file or "
              "directory\n10 packets received, 0 dropped by the system, 0 files "
              "written, 1 could not be written\n");
    EXPECT_EQ(missing.out(), "");
}

// The program, started as an ordinary user with standard output on `output` (a terminal).
pid_t startAsNobody(const std::string& program, std::vector<std::string> arguments, int output,
                    const fs::path& errors) {
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    char path[] = "PATH=/usr/bin:/bin";
    char* envp[] = {path, nullptr};
    const int errorFile = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t groups[] = {65534};
        if (::dup2(output, 1) < 0 || ::dup2(errorFile, 2) < 0 || ::setgroups(1, groups) != 0 ||
            ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(126);
        }
        ::execve(argv[0], argv.data(), envp);
        ::_exit(127);
    }
    ::close(errorFile);
    return child;
}

// The capability lines of every thread of a process that holds any.
std::string capabilitiesHeld(pid_t process) {
    std::string held;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(process) + "/task")) {
        std::istringstream status(fileContents(task.path() / "status"));
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("Cap", 0) == 0 && line.rfind("CapBnd", 0) != 0 &&
                line.find(":\t0000000000000000") == std::string::npos) {
                held += task.path().filename().string() + " " + line + "\n";
            }
        }
    }
    return held;
}

// An ordinary user captures through the file capability of a copy of the program; once the
// capture is open the run holds no capability at all, in any thread, and what a datagram
// carries reaches the terminal without its control bytes.
TEST_F(HeadlessCapture, AUserCapturingHoldsNoCapabilityOnceListeningAndTheTerminalGetsNoEscapes) {
    REQUIRE_ROOT();
    fs::permissions(dir.path(), fs::perms(0755));
    const fs::path program = dir.path() / "QuillharbourSnifferV1.5.exe";
    fs::copy_file(QHS_APP_PATH, program);
    fs::permissions(program, fs::perms(0755));
    ASSERT_EQ(commandOutput("setcap cap_net_raw=p '" + program.string() + "' 2>&1"), "");

    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal), 0);
    ASSERT_EQ(::unlockpt(terminal), 0);
    const int screen = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(screen, 0);
    const fs::path errors = dir.path() / "stderr";
    const pid_t run =
        startAsNobody(program.string(), {"-sniff", "-i", "127.0.0.1", "-A"}, screen, errors);
    ::close(screen);
    ASSERT_TRUE(eventually([&] {
        return fileContents(errors).find("listening on") != std::string::npos;
    })) << fileContents(errors);
    EXPECT_EQ(capabilitiesHeld(run), "");

    const std::string hostile =
        "\x1b]0;owned\x07\x1b[2J\x7f\x9b"
        "end-of-hostile";
    ASSERT_TRUE(sendLoopbackUdp(40703, hostile));
    std::string shown;
    ASSERT_TRUE(eventually([&] {
        char buffer[4096];
        pollfd readable{terminal, POLLIN, 0};
        while (::poll(&readable, 1, 0) == 1) {
            const ssize_t count = ::read(terminal, buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            shown.append(buffer, static_cast<std::size_t>(count));
        }
        return shown.find("end-of-hostile") != std::string::npos;
    })) << shown;
    EXPECT_NE(shown.find(".]0;owned..[2J..end-of-hostile"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
    EXPECT_EQ(shown.find('\x07'), std::string::npos);
    ::kill(run, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(run, &status, 0), run);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << fileContents(errors);
    ::close(terminal);
}

// Run as root, the outputs named on the command line never go through a link another user
// planted in a folder all can write; run through sudo, they are the invoking user's.
TEST_F(HeadlessCapture, RootNeverWritesThroughAPlantedLinkAndThroughSudoWritesAsTheUser) {
    REQUIRE_ROOT();
    fs::permissions(dir.path(), fs::perms(0755));
    const fs::path secret = dir.path() / "secret";
    writeFileContents(secret, "root's own\n");
    fs::permissions(secret, fs::perms(0600));
    const fs::path shared = dir.path() / "shared";  // as /tmp is
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms(01777));
    const fs::path planted = shared / "planted";
    fs::create_symlink(secret, planted);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);

    const std::vector<std::string> asRoot = {"PATH=/usr/bin:/bin"};
    std::vector<std::string> throughSudo = asRoot;
    throughSudo.insert(throughSudo.end(), {"SUDO_UID=65534", "SUDO_GID=65534", "SUDO_USER=nobody"});
    for (const auto& environment : {asRoot, throughSudo}) {
        for (const char* option : {"-out", "-w"}) {
            SniffRun run(dir.path(),
                         {"-sniff", "-r", QHS_EXAMPLE_CAPTURE, option, planted.string()},
                         environment);
            EXPECT_EQ(run.wait(), 1) << option << ": " << run.err();
            EXPECT_EQ(fileContents(secret), "root's own\n") << option;
        }
    }

    const fs::path records = shared / "records.txt";
    const fs::path packets = shared / "packets.pcap";
    SniffRun run(
        dir.path(),
        {"-sniff", "-r", QHS_EXAMPLE_CAPTURE, "-out", records.string(), "-w", packets.string()},
        throughSudo);
    ASSERT_EQ(run.wait(), 0) << run.err();
    for (const fs::path& output : {records, packets}) {
        struct stat facts {};
        ASSERT_EQ(::stat(output.c_str(), &facts), 0) << output;
        EXPECT_EQ(facts.st_uid, 65534u) << output;
        EXPECT_EQ(facts.st_gid, 65534u) << output;
    }
}

// The datagrams of a capture file, each with its time stamp, in file order.
std::vector<std::pair<std::int64_t, std::string>> datagramsOf(const fs::path& path) {
    std::vector<std::pair<std::int64_t, std::string>> datagrams;
    CaptureFileReader reader(path.string());
    CaptureFrame frame;
    while (reader.next(frame) == FrameRead::Frame) {
        if (const auto part = ipInFrame(frame.linkType, frame.bytes, frame.length)) {
            datagrams.emplace_back(
                frame.arrivalNanoseconds,
                std::string(frame.bytes + part->offset, frame.bytes + part->offset + part->length));
        }
    }
    return datagrams;
}

// The options a tcpdump user types, and what is refused before anything is read or written.
TEST(HeadlessSniff, TcpdumpStyleOptionsAndRefusedCombinations) {
    TempDir dir;
    SniffRun version(dir.path(), {"-sniff", "--version"});
    EXPECT_EQ(version.wait(), 0);
    EXPECT_EQ(version.out(), "Quillharbour Sniffer 1.5\n");
    for (const char* help : {"-h", "--help"}) {
        SniffRun shown(dir.path(), {"-sniff", help});
        EXPECT_EQ(shown.wait(), 0) << help;
        EXPECT_NE(shown.out().find("--interface"), std::string::npos) << help;
    }
    const auto expect = [&](std::vector<std::string> arguments, int code, const std::string& text) {
        arguments.insert(arguments.begin(), "-sniff");
        const auto [exitCode, err] = runToEnd(dir.path(), arguments);
        EXPECT_EQ(exitCode, code) << arguments[1];
        EXPECT_EQ(err, "QuillharbourSnifferV1.5: " + text + "\n") << arguments[1];
    };
    expect({"--count=0"}, 2, "-c needs a count of 1 or more, not \"0\"");
    expect({"--quiet=yes"}, 2, "option --quiet takes no value");
    expect({"-r", QHS_EXAMPLE_CAPTURE, "--interface", "lo"}, 2,
           "-r reads a capture file and takes no interface (-i)");
    expect({"-r", QHS_EXAMPLE_CAPTURE, "-f", "udp", "tcp"}, 2,
           "give the filter expression once: with -f or after the options, not both");
    // libpcap's own words, before any output is made.
    const fs::path records = dir.path() / "records.txt";
    expect({"-r", QHS_EXAMPLE_CAPTURE, "-out", records.string(), "udp", "prot", "53"}, 2,
           "can't parse filter expression: syntax error");
    EXPECT_FALSE(fs::exists(records));

    // An output that is the input, under any name, leaves it whole.
    const fs::path input = dir.path() / "input.pcap";
    fs::copy_file(QHS_EXAMPLE_CAPTURE, input);
    const fs::path linked = dir.path() / "linked.pcap";
    fs::create_hard_link(input, linked);
    const std::string before = fileContents(input);
    for (const char* option : {"-w", "--out", "--files"}) {
        expect({"-r", input.string(), option, linked.string()}, 2,
               linked.string() + " is the capture file read with -r; it is not overwritten");
    }
    EXPECT_EQ(fileContents(input), before);

    // The key log belongs to File Sniffer Mode alone; with -files either form is taken.
    const fs::path keyLog = dir.path() / "keys.log";
    writeFileContents(keyLog, "");
    expect({"-r", QHS_EXAMPLE_CAPTURE, "-keylog", keyLog.string()}, 2,
           "-keylog decrypts the downloads of -files and needs it");
    expect({"-r", QHS_EXAMPLE_CAPTURE, "--keylog=" + keyLog.string(), "-q"}, 2,
           "-keylog decrypts the downloads of -files and needs it");
    expect({"-files", dir.path().string(), "--keylog"}, 2, "option --keylog needs a value");
    const fs::path settings = dir.path() / "sniff.QHS";
    ASSERT_TRUE(saveSettings(defaultSettings(), settings.string()));
    for (const std::string given : {"-keylog", "--keylog=", "--keylog"}) {
        const fs::path files = dir.path() / ("files" + given);
        fs::create_directory(files);
        std::vector<std::string> arguments{
            "-sniff", "-r",           QHS_EXAMPLE_CAPTURE, "-q",
            "-files", files.string(), "-settings",         settings.string()};
        if (given.back() == '=') {
            arguments.push_back(given + keyLog.string());
        } else {
            arguments.insert(arguments.end(), {given, keyLog.string()});
        }
        SniffRun run(dir.path(), arguments);
        EXPECT_EQ(run.wait(), 0) << given << run.err();
        // A plain HTTP download: nothing was left encrypted, so the summary says nothing of it.
        EXPECT_NE(run.err().find(", 1 files written\n"), std::string::npos) << given << run.err();
    }
}

// A packet whose time a pcap file cannot hold (after 2106) ends a -w run, named, with the
// packets before it written; a file named *.pcapng keeps every time.
TEST(HeadlessSniff, TimesPastWhatPcapHoldsEndTheRunUnlessThePcapFileIsPcapng) {
    TempDir dir;
    PacketTable table;
    const std::vector<std::uint8_t> datagram = makeDatagram(17, 40, 5000, 53);
    for (const std::int64_t stamp :
         {rawPcapNanoseconds(0), std::int64_t{4'294'967'301'250'000'000}, rawPcapNanoseconds(2)}) {
        table.lock().store().append(CapturedPacket::copyOf(datagram.data(), 40), "t", stamp);
    }
    const fs::path input = dir.path() / "input.pcapng";
    std::atomic<bool> cancel{false};
    ASSERT_EQ(writeCaptureFile(input.string(), table, defaultSettings(), cancel).status,
              SaveStatus::Saved);

    const fs::path pcap = dir.path() / "out.pcap";
    SniffRun refused(dir.path(), {"-sniff", "-r", input.string(), "-q", "-w", pcap.string()});
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_EQ(refused.err().rfind("QuillharbourSnifferV1.5: " + pcap.string() +
                                      ": packet 2 has the time 2106-02-07T06:28:21.250000000Z, "
                                      "which a pcap file cannot hold (1970 to 2106): name a "
                                      ".pcapng file to keep it\n",
                                  0),
              0u)
        << refused.err();
    EXPECT_EQ(datagramsOf(pcap).size(), 1u);

    const fs::path pcapng = dir.path() / "out.pcapng";
    SniffRun kept(dir.path(), {"-sniff", "-r", input.string(), "-q", "-w", pcapng.string()});
    EXPECT_EQ(kept.wait(), 0) << kept.err();
    EXPECT_EQ(commandOutput("tshark -r '" + pcapng.string() +
                            "' -T fields -e frame.time_epoch 2>/dev/null"),
              "1700000000.250000000\n4294967301.250000000\n1700000002.250000000\n");
}

// The options named in a line of option text, each from its first dash to "=" or a blank.
std::set<std::string> optionNames(const std::string& text) {
    static const std::regex option(R"((?:^|[\s,|])(--?[A-Za-z?][A-Za-z-]*))");
    std::set<std::string> names;
    for (auto match = std::sregex_iterator(text.begin(), text.end(), option);
         match != std::sregex_iterator(); ++match) {
        names.insert((*match)[1]);
    }
    return names;
}

// The manual page documents exactly the options the help lists, and renders without a
// warning.
TEST(HeadlessSniff, TheManualPageHasEveryOptionOfTheHelp) {
    TempDir dir;
    SniffRun help(dir.path(), {"-sniff", "--help"});
    ASSERT_EQ(help.wait(), 0);
    // The help's option column: lines indented by two, up to the gap before the description
    // (the usage line aside).
    std::set<std::string> helped;
    std::istringstream helpLines(help.out());
    for (std::string line; std::getline(helpLines, line);) {
        if (line.rfind("  ", 0) == 0 && line.size() > 2 && line[2] != ' ' &&
            line.rfind("  -sniff ", 0) != 0) {
            helped.merge(optionNames(line.substr(2, line.find("  ", 2) - 2)));
        }
    }
    ASSERT_GE(helped.size(), 20u) << help.out();

    // The manual's: the tag line after each .TP of its OPTIONS section, roff taken away.
    std::set<std::string> documented;
    std::istringstream manLines(fileContents(QHS_MAN_PAGE));
    bool inOptions = false;
    bool tagNext = false;
    for (std::string line; std::getline(manLines, line);) {
        if (line.rfind(".SH", 0) == 0) {
            inOptions = line == ".SH OPTIONS";
        } else if (inOptions && line == ".TP") {
            tagNext = true;
        } else if (tagNext) {
            tagNext = false;
            line = std::regex_replace(line, std::regex(R"(^\.[A-Z]+ |\\f[BIRP]|")"), "");
            line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
            documented.merge(optionNames(line));
        }
    }
    for (const std::string& name : helped) {
        EXPECT_TRUE(documented.count(name)) << name << " is not in the manual's OPTIONS";
    }
    // The help says every option also has a long form with two dashes.
    for (const std::string& name : documented) {
        EXPECT_TRUE(helped.count(name) || helped.count(name.substr(1)))
            << name << " is in the manual but not in the help";
    }
    EXPECT_EQ(commandOutput("groff -man -ww -z '" QHS_MAN_PAGE "' 2>&1; echo $?"), "0\n");
}

// The same expression takes the same packets from a capture file as tcpdump does.
TEST(HeadlessSniff, AFilterExpressionTakesFromAFileWhatTcpdumpTakes) {
    TempDir dir;
    const std::string expression = "src port 8080 or tcp[tcpflags] & tcp-push != 0";
    const fs::path theirs = dir.path() / "theirs.pcap";
    ASSERT_EQ(commandOutput("tcpdump -r '" QHS_EXAMPLE_CAPTURE "' -w '" + theirs.string() + "' '" +
                            expression + "' 2>/dev/null; echo $?"),
              "0\n");
    const fs::path ours = dir.path() / "ours.pcap";
    SniffRun run(dir.path(),
                 {"-sniff", "--read=" QHS_EXAMPLE_CAPTURE, "-q", "--write", ours.string(), "src",
                  "port", "8080", "or", "tcp[tcpflags]", "&", "tcp-push", "!=", "0"});
    ASSERT_EQ(run.wait(), 0) << run.err();
    const auto expected = datagramsOf(theirs);
    EXPECT_EQ(expected.size(), 5u);
    EXPECT_EQ(datagramsOf(ours), expected);
    EXPECT_EQ(run.err(), "5 packets received, 5 accepted, 0 dropped by the system\n");
}

// A live capture by interface name with a filter in the kernel: what it leaves out is never
// received. On every interface at once a loopback datagram comes once, as on lo.
TEST_F(HeadlessCapture, InterfacesByNameAndAFilterInTheKernel) {
    REQUIRE_ROOT();
    SniffRun list(dir.path(), {"-sniff", "-D"});
    EXPECT_EQ(list.wait(), 0);
    EXPECT_EQ(list.out(), "1.lo [Up] 127.0.0.1 ::1\n");

    for (const char* interface : {"lo", "any"}) {
        SniffRun run(dir.path(), {"-sniff", "-settings", settingsPath.string(), "-i", interface,
                                  "-c", "2", "-A", "udp", "port", "40710"});
        ASSERT_TRUE(eventually([&] { return run.listening(); })) << run.err();
        ASSERT_TRUE(pingLoopback(3));
        ASSERT_TRUE(sendLoopbackUdp(40711, "another port"));
        ASSERT_TRUE(sendLoopbackUdp(40710, "first taken"));
        ASSERT_TRUE(sendLoopbackUdp(40710, "second taken"));
        ASSERT_EQ(run.wait(), 0) << interface << ": " << run.err();
        EXPECT_EQ(run.err(), "listening on " + std::string(interface) +
                                 "\n2 packets received, 2 accepted, 0 dropped by the system\n");
        EXPECT_NE(run.out().find("first taken"), std::string::npos) << interface;
        EXPECT_NE(run.out().find("second taken"), std::string::npos) << interface;
    }

    EXPECT_EQ(runToEnd(dir.path(), {"-sniff", "-i", "eth9"}),
              std::make_pair(1, std::string("QuillharbourSnifferV1.5: no interface that is up "
                                            "is named \"eth9\"\n")));
    EXPECT_EQ(runToEnd(dir.path(), {"-sniff", "-i", "lo", "udp", "prot", "53"}),
              std::make_pair(2, std::string("QuillharbourSnifferV1.5: can't parse filter "
                                            "expression: syntax error\n")));
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

std::vector<std::vector<std::uint8_t>> udpDatagrams(int count, std::size_t payloadBytes) {
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (int i = 0; i < count; ++i) {
        test::TestDatagram udp;
        udp.protocol = 17;
        udp.sourcePort = static_cast<std::uint16_t>(5000 + i);
        udp.payload.assign(payloadBytes, static_cast<std::uint8_t>('a' + i % 26));
        datagrams.push_back(udp.bytes());
    }
    return datagrams;
}

// A file is read once and written as it is read: lines for text tools on standard output, the
// original length of cut packets in the pcap written, every whole packet of a damaged file
// before its damage is named, and a capture on standard input.
TEST_F(HeadlessCapture, AFileIsStreamedOnceWithItsOriginalLengthsAndItsDamageAfterItsPackets) {
    const fs::path whole = dir.path() / "whole.pcap";
    writeRawPcap(whole, udpDatagrams(5, 200), 96);
    const fs::path written = dir.path() / "written.pcap";
    SniffRun run(dir.path(), {"-sniff", "-r", whole.string(), "-w", written.string()});
    ASSERT_EQ(run.wait(), 0) << run.err();
    const std::string out = run.out();
    EXPECT_EQ(out.find('\r'), std::string::npos);
    EXPECT_EQ(count(out, "\n"), 5u) << out;
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.rfind(" UDP   96", 0), 0u) << out;
    // Each packet is written cut to 96 bytes of its 228, and says so.
    const std::string pcap = fileContents(written);
    ASSERT_EQ(pcap.size(), 24u + 5 * (16 + 96));
    for (std::size_t record = 24; record < pcap.size(); record += 16 + 96) {
        std::uint32_t lengths[2];
        std::memcpy(lengths, pcap.data() + record + 8, sizeof lengths);
        EXPECT_EQ(lengths[0], 96u);
        EXPECT_EQ(lengths[1], 228u);
    }
    EXPECT_EQ(count(commandOutput("tcpdump -n -r '" + written.string() + "' 2>/dev/null"),
                    "10.0.0.1.500"),
              5u);

    const fs::path damaged = dir.path() / "damaged.pcap";
    writeRawPcap(damaged, udpDatagrams(4, 100), 65535, 30);
    SniffRun cut(dir.path(), {"-sniff", "-r", damaged.string()});
    EXPECT_EQ(cut.wait(), 1);
    EXPECT_EQ(count(cut.out(), " UDP "), 3u) << cut.out();
    EXPECT_NE(cut.err().find(damaged.string() + ": "), std::string::npos) << cut.err();

    const std::string piped = commandOutput("'" + std::string(QHS_APP_PATH) + "' -sniff -r - < '" +
                                            whole.string() + "' 2>/dev/null");
    EXPECT_EQ(piped, out);
}

// A live capture's pcap file grows as packets arrive, and every way of ending the run (a hang
// up, a reader of standard output that leaves) leaves it whole; a lost interface is a failure.
TEST_F(HeadlessCapture, ALiveCaptureIsWrittenAsItArrivesAndEndsCleanlyOrSaysItWasLost) {
    REQUIRE_ROOT();
    const fs::path packets = dir.path() / "live.pcap";
    SniffRun run(dir.path(), {"-sniff", "-i", "127.0.0.1", "-q", "-w", packets.string()});
    ASSERT_TRUE(eventually([&] { return run.listening(); })) << run.err();
    ASSERT_TRUE(sendLoopbackUdp(40710, "written-while-running"));
    EXPECT_TRUE(eventually([&] {
        return fileContents(packets).find("written-while-running") != std::string::npos;
    })) << "the pcap file is flushed within a second";
    ::kill(run.pid(), SIGHUP);
    EXPECT_EQ(run.wait(), 0) << run.err();
    EXPECT_EQ(count(commandOutput("tcpdump -n -r '" + packets.string() + "' 2>/dev/null"),
                    "UDP, length 21"),
              1u);

    const fs::path piped = dir.path() / "piped.pcap";
    std::atomic<bool> ended{false};
    std::thread sender([&] {
        while (!ended) {
            sendLoopbackUdp(40711, "to-a-reader-that-leaves");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const std::string status = commandOutput(
        "bash -c \"'" + std::string(QHS_APP_PATH) + "' -sniff -i 127.0.0.1 -w '" + piped.string() +
        "' 2>/dev/null | head -c 10 >/dev/null; echo \\${PIPESTATUS[0]}\"");
    ended = true;
    sender.join();
    EXPECT_EQ(status, "0\n");
    EXPECT_GE(count(commandOutput("tcpdump -n -r '" + piped.string() + "' 2>&1"), "UDP"), 1u);

    ASSERT_EQ(runProgram({"ip", "tuntap", "add", "mode", "tun", "qhs-gone"}), 0);
    ASSERT_EQ(runProgram({"ip", "addr", "add", "10.77.0.1/24", "dev", "qhs-gone"}), 0);
    ASSERT_EQ(runProgram({"ip", "link", "set", "qhs-gone", "up"}), 0);
    // In either mode.
    const fs::path files = dir.path() / "files";
    fs::create_directories(files);
    SniffRun lost(dir.path(), {"-sniff", "-i", "10.77.0.1"});
    SniffRun lostFiles(files, {"-sniff", "-i", "10.77.0.1", "-files", files.string()});
    ASSERT_TRUE(eventually([&] { return lost.listening() && lostFiles.listening(); }))
        << lost.err() << lostFiles.err();
    ASSERT_EQ(runProgram({"ip", "tuntap", "del", "mode", "tun", "qhs-gone"}), 0);
    for (SniffRun* run : {&lost, &lostFiles}) {
        EXPECT_EQ(run->wait(), 1);
        EXPECT_NE(run->err().find("QuillharbourSnifferV1.5: the capture on 10.77.0.1 ended: "),
                  std::string::npos)
            << run->err();
    }
}

// The sha256 of each file, as sha256sum gives it; a gzip-coded file also by its decoded bytes.
std::multiset<std::string> sha256Of(const std::vector<fs::path>& files, bool decodeGzip = false) {
    std::multiset<std::string> sums;
    for (const fs::path& file : files) {
        std::string quoted = "'";
        quoted += file.string();
        quoted += "'";
        sums.insert(commandOutput("sha256sum < " + quoted + " | cut -c1-64"));
        if (decodeGzip && file.extension() == ".gz") {
            sums.insert(commandOutput("gzip -dc < " + quoted + " | sha256sum | cut -c1-64"));
        }
    }
    return sums;
}

// HTTPS downloads by curl from nginx, recorded by tcpdump, rebuilt from the client's key log:
// TLS 1.2 and 1.3 with each kind of AEAD cipher, HTTP/1.1 (several files on a connection, a
// gzip-coded chunked page) and HTTP/2, a 50 MB body. Every file is the served one, every
// object tshark exports from the same recording is among them, and a connection whose key
// is not in the log writes nothing and is counted.
TEST_F(HeadlessCapture, HttpsDownloadsAreRebuiltFromATcpdumpRecordingWithTheClientsKeyLog) {
    REQUIRE_ROOT();
    if (!LocalWebServer::available()) {
        GTEST_SKIP() << "nginx and curl are needed (scripts/install-deps.sh installs them)";
    }
    const fs::path www = dir.path() / "www";
    fs::create_directories(www);
    std::string large(50'000'000, '\0');
    std::uint32_t state = 12345;
    for (char& c : large) {
        state = state * 1103515245 + 12345;
        c = static_cast<char>(state >> 24);
    }
    writeFileContents(www / "large.bin", large);
    std::string page;
    for (int i = 0; i < 4000; ++i) {
        page += "<p>line " + std::to_string(i) + " of the page</p>\n";
    }
    writeFileContents(www / "page.html", page);
    writeFileContents(www / "picture.png", std::string(3000, 'p') + "\x89PNG\r\n");
    writeFileContents(www / "small.bin", "a small file\n");
    LocalWebServer server(dir.path(), www, false, true);
    ASSERT_TRUE(server.running()) << server.errors();

    const fs::path recorded = dir.path() / "https.pcap";
    const fs::path log = dir.path() / "tcpdump.log";
    const fs::path keys = dir.path() / "keys.log";
    const int tcpdump = startTcpdump(recorded, log);
    ASSERT_TRUE(
        eventually([&] { return fileContents(log).find("listening on") != std::string::npos; }));
    const fs::path fetched = dir.path() / "fetched";
    fs::create_directories(fetched);
    int fetches = 0;
    // curl with its key log; each path is saved as curl got it (a gzip-coded page stays coded).
    const auto fetch = [&](std::vector<std::string> options, const std::vector<std::string>& paths,
                           bool logKeys = true) {
        std::vector<std::string> command = {
            "env",  logKeys ? "SSLKEYLOGFILE=" + keys.string() : "SSLKEYLOGFILE=",
            "curl", "-sfk",
            "-H",   "Accept-Encoding: gzip"};
        command.insert(command.end(), options.begin(), options.end());
        for (const std::string& path : paths) {
            command.push_back("-o");
            command.push_back((fetched / std::to_string(++fetches)).string());
            command.push_back(LocalWebServer::secureAddress(path));
        }
        return runProgram(command);
    };
    ASSERT_EQ(fetch({"--http1.1", "--tlsv1.3", "--tls13-ciphers", "TLS_AES_128_GCM_SHA256"},
                    {"/page.html", "/picture.png", "/small.bin"}),
              0);
    ASSERT_EQ(fetch({"--http1.1", "--tlsv1.2", "--tls-max", "1.2", "--ciphers",
                     "ECDHE-ECDSA-AES256-GCM-SHA384"},
                    {"/large.bin", "/page.html"}),
              0);
    ASSERT_EQ(fetch({"--http2", "--tlsv1.3", "--tls13-ciphers", "TLS_CHACHA20_POLY1305_SHA256"},
                    {"/large.bin", "/small.bin", "/page.html"}),
              0);
    ASSERT_EQ(fetch({"--http2", "--tlsv1.2", "--tls-max", "1.2", "--ciphers",
                     "ECDHE-ECDSA-CHACHA20-POLY1305"},
                    {"/picture.png"}),
              0);
    // Not in the key log: counted, nothing written.
    ASSERT_EQ(fetch({"--http1.1"}, {"/small.bin"}, false), 0);
    const std::string fence = "fence-after-the-https-downloads";
    ASSERT_TRUE(sendLoopbackUdp(40716, fence));
    ASSERT_TRUE(eventually([&] { return fileContents(recorded).find(fence) != std::string::npos; },
                           std::chrono::seconds(30)));
    ::kill(tcpdump, SIGINT);
    ASSERT_TRUE(eventually([&] { return ::kill(tcpdump, 0) != 0; }));

    const fs::path files = dir.path() / "Rebuilt Files";
    fs::create_directories(files);
    SniffRun run(dir.path(), {"-sniff", "-r", recorded.string(), "-files", files.string(),
                              "-keylog", keys.string(), "-settings", settingsPath.string()});
    ASSERT_EQ(run.wait(), 0) << run.err();
    std::vector<fs::path> written;
    for (const auto& entry : fs::directory_iterator(files)) {
        written.push_back(entry.path());
    }
    std::vector<fs::path> fetchedFiles;
    for (int i = 1; i <= fetches - 1; ++i) {
        fetchedFiles.push_back(fetched / std::to_string(i));
    }
    // Every download but the one without its key, byte for byte as curl got it.
    EXPECT_EQ(sha256Of(written), sha256Of(fetchedFiles)) << run.out();
    EXPECT_NE(run.err().find(", 9 files written, 1 encrypted without a key\n"), std::string::npos)
        << run.err();
    std::size_t gzipped = 0;
    for (const fs::path& file : written) {
        EXPECT_EQ(file.filename().string().rfind("127.0.0.1 to 127.0.0.1 - [", 0), 0u) << file;
        if (file.extension() == ".gz") {
            ++gzipped;
            EXPECT_EQ(commandOutput("gzip -dc < '" + file.string() + "'"), page);
            EXPECT_EQ(file.stem().extension(), ".html");
        }
    }
    EXPECT_EQ(gzipped, 3u);

    // tshark's objects (HTTP/1.1 only; it decodes gzip) are all among ours.
    const fs::path exported = dir.path() / "tshark";
    fs::create_directories(exported);
    ASSERT_EQ(runProgram({"tshark", "-Q", "-r", recorded.string(), "-o",
                          "tls.keylog_file:" + keys.string(), "--export-objects",
                          "http," + exported.string()}),
              0);
    std::vector<fs::path> objects;
    for (const auto& entry : fs::directory_iterator(exported)) {
        objects.push_back(entry.path());
    }
    std::string exportedNames;
    for (const fs::path& object : objects) {
        exportedNames += " " + object.filename().string();
    }
    // tshark 4.0 gives the first connection's three; the 50 MB one it often leaves out.
    EXPECT_GE(objects.size(), 3u) << exportedNames;
    const std::multiset<std::string> ours = sha256Of(written, true);
    for (const std::string& sum : sha256Of(objects)) {
        EXPECT_EQ(ours.count(sum) > 0, true) << sum;
    }
}

}  // namespace
}  // namespace qhs
