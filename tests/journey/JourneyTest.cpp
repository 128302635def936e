// The program as a new user meets it: copied alone into an empty folder and started on a
// display of its own, with and without a window manager, driven by real key presses and
// clicks, and judged by what the user sees (window titles) and what lands on disk.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <chrono>
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
#include <vector>

#include "Desktop.h"
#include "app/SettingsRecord.h"
#include "support/FileContents.h"
#include "support/LocalWebServer.h"
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
    // the capture capabilities scripts/run.sh gives the built program.
    testing::AssertionResult startProgram() {
        const fs::path program = appFolder_ / ProgramName;
        fs::copy_file(QHS_APP_PATH, program);
        // A change of owner drops file capabilities, so they are set last.
        if (::chown(program.c_str(), desktop().user().uid, desktop().user().gid) != 0) {
            return testing::AssertionFailure() << "cannot hand the program to the user";
        }
        fs::permissions(program, fs::perms(0755));
        if (runCommand({"setcap", "cap_net_raw=p", program.string()},
                       {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"})
                .exitCode != 0) {
            return testing::AssertionFailure() << "setcap failed on " << program.string();
        }
        program_ = desktop().startAsUser({program.string(), "noinstall"}, appFolder_,
                                         dir_.path() / "program.out", dir_.path() / "program.err");
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
    SettingsRecord earlier = defaultSettings();
    setTextField(earlier.interfaceAddress, "127.0.0.1");
    ASSERT_TRUE(saveSettings(earlier, settingsPath().string()));
    ASSERT_EQ(::chown(settingsPath().c_str(), desktop().user().uid, desktop().user().gid), 0);
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(chooseMode(true));
    const auto window = desktop().waitForWindow(WaitingSnifferTitle);
    ASSERT_TRUE(window) << scene();
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
    const std::optional<WindowLayout> layout = desktop().layoutOf(*window, "packet-sniffer");
    ASSERT_TRUE(layout && layout->menuPositions.count("exportCaptureFile"));
    std::vector<std::string> toExport = {"alt+f"};  // opens on its first command
    toExport.insert(toExport.end(), layout->menuPositions.at("exportCaptureFile"), "Down");
    toExport.push_back("Return");
    ASSERT_TRUE(press(*window, toExport));
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

// File Sniffer Mode, started for the first time, rebuilds a download into the user's
// download folder, the one user-dirs.dirs names.
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
    LocalWebServer server(dir_.path(), www);
    ASSERT_TRUE(server.running()) << server.errors();

    ASSERT_TRUE(startProgram());
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
    // Written once the connection has been quiet for the ACK time-out (10 s by default).
    const auto rebuilt = [&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(downloads, error)) {
            if (entry.is_regular_file() && fileContents(entry.path()) == body) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(waitFor(rebuilt, 30s)) << "no rebuilt download in " << downloads.string()
                                       << "; it holds:" << filesIn(downloads) << "; " << scene();

    ASSERT_TRUE(closeAndExitCleanly(*window));
    EXPECT_EQ(textField(savedSettings().fileOutputDirectory), downloads.string() + "/");
    expectNoQtWarnings();
}

INSTANTIATE_TEST_SUITE_P(Desktops, Journey, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithWindowManager" : "WithoutWindowManager";
                         });

}  // namespace
}  // namespace qhs::journey
