#include "Desktop.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>
#include <utility>

#include "support/FileContents.h"

namespace qhs::journey {

namespace fs = std::filesystem;

namespace {

constexpr const char* RootPath =
    "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// The strings as the NULL-ended array exec takes; built before fork, so the child only
// calls what is safe there.
std::vector<char*> pointers(const std::vector<std::string>& strings) {
    std::vector<char*> array;
    for (const std::string& text : strings) {
        array.push_back(const_cast<char*>(text.c_str()));
    }
    array.push_back(nullptr);
    return array;
}

// In the child after fork: the process group, the given descriptors, the user, the program.
[[noreturn]] void becomeProgram(char* const* argv, char* const* envp, const char* folder,
                                RunAs user, int output, int errors, int passedFd) {
    ::setpgid(0, 0);
    const int nothing = ::open("/dev/null", O_RDONLY);
    if (nothing < 0 || output < 0 || errors < 0 || ::dup2(nothing, 0) < 0 ||
        ::dup2(output, 1) < 0 || ::dup2(errors, 2) < 0) {
        ::_exit(126);
    }
    if (passedFd >= 0) {
        ::fcntl(passedFd, F_SETFD, 0);
    }
    if (::chdir(folder) != 0) {
        ::_exit(126);
    }
    if (user.uid != 0) {
        const gid_t groups[] = {user.gid, user.otherGroup};
        const std::size_t count = user.otherGroup != static_cast<gid_t>(-1) ? 2 : 1;
        if (::setgroups(count, groups) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) {
            ::_exit(126);
        }
    }
    ::execvpe(argv[0], argv, envp);
    ::_exit(127);
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

void giveTo(const fs::path& path, RunAs user, fs::perms permissions) {
    fs::create_directories(path);
    fs::permissions(path, permissions);
    if (::chown(path.c_str(), user.uid, user.gid) != 0) {
        std::perror(path.c_str());
    }
}

}  // namespace

ChildProcess::ChildProcess(const Options& options) {
    std::vector<std::string> arguments = options.arguments;
    const std::vector<char*> argv = pointers(arguments);
    const std::vector<char*> envp = pointers(options.environment);
    const std::string folder = options.folder.string();
    const int output =
        ::open(options.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errors =
        ::open(options.errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = ::fork();
    if (pid_ == 0) {
        becomeProgram(argv.data(), envp.data(), folder.c_str(), options.user, output, errors,
                      options.passedFd);
    }
    if (pid_ > 0) {
        ::setpgid(pid_, pid_);
    }
    ::close(output);
    ::close(errors);
}

ChildProcess::~ChildProcess() {
    kill();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), exitCode_(other.exitCode_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        kill();
        pid_ = std::exchange(other.pid_, -1);
        exitCode_ = other.exitCode_;
    }
    return *this;
}

std::optional<int> ChildProcess::waitForExit(milliseconds limit) {
    waitFor([this] { return !running(); }, limit);
    return exitCode_;
}

bool ChildProcess::running() {
    if (pid_ <= 0 || exitCode_) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) {
        return true;
    }
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // Whatever it started in its group goes with it.
    ::kill(-pid_, SIGKILL);
    return false;
}

void ChildProcess::kill() {
    if (pid_ > 0 && !exitCode_) {
        ::kill(-pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exitCode_ = -1;
    }
    pid_ = -1;
}

CommandResult runCommand(const std::vector<std::string>& arguments, const Environment& environment,
                         RunAs user, milliseconds limit) {
    const std::vector<char*> argv = pointers(arguments);
    const std::vector<char*> envp = pointers(environment);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return {};
    }
    const int errors = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t child = ::fork();
    if (child == 0) {
        becomeProgram(argv.data(), envp.data(), "/", user, pipeFds[1], errors, -1);
    }
    ::close(pipeFds[1]);
    ::close(errors);
    CommandResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ended = false;
    while (!ended && child > 0) {
        const auto left =
            std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{pipeFds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t count = ::read(pipeFds[0], buffer, sizeof buffer);
        ended = count <= 0;
        result.output.append(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
    }
    ::close(pipeFds[0]);
    if (child > 0) {
        if (!ended) {
            ::kill(-child, SIGKILL);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        result.exitCode = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

bool waitFor(const std::function<bool()>& condition, milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(50));
    }
    return true;
}

Desktop::Desktop(const fs::path& work, bool windowManager, const std::string& userName)
    : windowManager_(windowManager),
      session_(work / "session"),
      home_(session_ / "home"),
      runtime_(session_ / "runtime"),
      tools_(session_ / "tools") {
    userName_ = userName;
    if (const passwd* entry = ::getpwnam(userName.c_str())) {
        gid_t groups[8];
        int count = 8;
        ::getgrouplist(userName.c_str(), entry->pw_gid, groups, &count);
        gid_t other = static_cast<gid_t>(-1);
        for (int i = 0; i < std::min(count, 8); ++i) {
            if (groups[i] != entry->pw_gid) {
                other = groups[i];
                break;
            }
        }
        user_ = RunAs{entry->pw_uid, entry->pw_gid, other};
    } else {
        problem_ = "there is no user \"" + userName + "\"";
        return;
    }
    fs::permissions(work, fs::perms(0755));
    giveTo(session_, user_, fs::perms(0755));
    giveTo(home_, user_, fs::perms(0755));
    giveTo(runtime_, user_, fs::perms(0700));
    giveTo(tools_, user_, fs::perms(0755));
    fs::copy_file(JOURNEY_WINDOW_MAP_PATH, tools_ / "journey_window_map");

    int displayPipe[2];
    if (::pipe2(displayPipe, O_CLOEXEC) != 0) {
        problem_ = "no pipe for the display number";
        return;
    }
    // Only the abstract socket, which belongs to this network namespace: the display is the
    // test's own, and no socket file in /tmp/.X11-unix is shared with other displays.
    ChildProcess::Options server;
    server.arguments = {"Xvfb",      "-displayfd", std::to_string(displayPipe[1]),
                        "-screen",   "0",          "1280x1024x24",
                        "-nolisten", "tcp",        "-nolisten",
                        "unix"};
    server.environment = {RootPath};
    server.errors = work / "xvfb.log";
    server.passedFd = displayPipe[1];
    server_ = ChildProcess(server);
    ::close(displayPipe[1]);
    std::string number;
    pollfd readable{displayPipe[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && ::poll(&readable, 1, 10000) == 1) {
        char buffer[16];
        const ssize_t count = ::read(displayPipe[0], buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        number.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(displayPipe[0]);
    if (number.find('\n') == std::string::npos) {
        problem_ = "Xvfb gave no display number";
        return;
    }
    display_ = ":" + trimmed(number);

    if (windowManager_) {
        manager_ = startAsUser({"openbox"}, home_, work / "openbox.log", work / "openbox.log");
        const bool managing = waitFor(
            [this] {
                return runCommand({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"},
                                  displayEnvironment())
                           .output.find("window id") != std::string::npos;
            },
            // A loaded machine (the journeys run beside other tests) may start it slowly.
            std::chrono::seconds(30));
        if (!managing) {
            problem_ =
                "openbox did not take over the display: " + fileContents(work / "openbox.log");
        }
    }
}

Desktop::~Desktop() {
    manager_.kill();
    server_.kill();
}

fs::path Desktop::userFolder(const std::string& name) const {
    const fs::path folder = session_ / name;
    giveTo(folder, user_, fs::perms(0755));
    return folder;
}

Environment Desktop::sessionEnvironment() const {
    Environment environment = {"DISPLAY=" + display_,
                               "HOME=" + home_.string(),
                               "USER=" + userName_,
                               "LOGNAME=" + userName_,
                               "LANG=C.UTF-8",
                               "XDG_RUNTIME_DIR=" + runtime_.string(),
                               "PATH=/usr/local/bin:/usr/bin:/bin"};
    // No session bus, as on a bare X server, said outright: Qt does not then have libdbus
    // fork a child to start one.
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=disabled:");
    // A sanitized build's program runs under the test run's sanitizer settings.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    return environment;
}

Environment Desktop::displayEnvironment() const {
    return {"DISPLAY=" + display_, RootPath};
}

ChildProcess Desktop::startAsUser(const std::vector<std::string>& arguments, const fs::path& folder,
                                  const fs::path& output, const fs::path& errors,
                                  const Environment& extraEnvironment) const {
    ChildProcess::Options options;
    options.arguments = arguments;
    options.environment = sessionEnvironment();
    options.environment.insert(options.environment.end(), extraEnvironment.begin(),
                               extraEnvironment.end());
    options.folder = folder;
    options.user = user_;
    options.output = output;
    options.errors = errors;
    return ChildProcess(options);
}

CommandResult Desktop::xdotool(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command = {"xdotool"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runCommand(command, displayEnvironment());
}

std::optional<unsigned long> Desktop::findWindow(const std::string& titlePattern) const {
    const CommandResult found = xdotool({"search", "--onlyvisible", "--name", titlePattern});
    const std::vector<std::string> ids = linesOf(found.output);
    if (found.exitCode != 0 || ids.empty()) {
        return std::nullopt;
    }
    return std::stoul(ids.front());
}

std::optional<unsigned long> Desktop::waitForWindow(const std::string& titlePattern,
                                                    milliseconds limit) const {
    std::optional<unsigned long> window;
    waitFor([&] { return (window = findWindow(titlePattern)).has_value(); }, limit);
    return window;
}

bool Desktop::waitUntilGone(unsigned long window, milliseconds limit) const {
    return waitFor(
        [&] {
            const std::vector<unsigned long> shown = shownWindows();
            return std::find(shown.begin(), shown.end(), window) == shown.end();
        },
        limit);
}

std::string Desktop::title(unsigned long window) const {
    return trimmed(xdotool({"getwindowname", std::to_string(window)}).output);
}

std::optional<Rect> Desktop::size(unsigned long window) const {
    const CommandResult geometry =
        xdotool({"getwindowgeometry", "--shell", std::to_string(window)});
    Rect rect;
    for (const std::string& line : linesOf(geometry.output)) {
        if (line.rfind("WIDTH=", 0) == 0) {
            rect.width = std::stoi(line.substr(6));
        } else if (line.rfind("HEIGHT=", 0) == 0) {
            rect.height = std::stoi(line.substr(7));
        }
    }
    if (geometry.exitCode != 0 || rect.width <= 0 || rect.height <= 0) {
        return std::nullopt;
    }
    return rect;
}

std::vector<unsigned long> Desktop::shownWindows() const {
    // Every client window has a class; the window manager's frames have none.
    std::vector<unsigned long> windows;
    for (const std::string& id :
         linesOf(xdotool({"search", "--onlyvisible", "--class", "."}).output)) {
        windows.push_back(std::stoul(id));
    }
    return windows;
}

std::string Desktop::shownTitles() const {
    std::string titles;
    for (const unsigned long window : shownWindows()) {
        const std::string name = title(window);
        if (name != "Openbox") {
            titles += (titles.empty() ? "\"" : ", \"") + name + "\"";
        }
    }
    return "windows on show: " + (titles.empty() ? std::string("none") : titles);
}

bool Desktop::focus(unsigned long window) const {
    const std::string id = std::to_string(window);
    if (windowManager_) {
        return xdotool({"windowactivate", "--sync", id}).exitCode == 0;
    }
    return xdotool({"windowraise", id, "windowfocus", "--sync", id}).exitCode == 0;
}

bool Desktop::keys(const std::vector<std::string>& keys) const {
    std::vector<std::string> command = {"key", "--delay", "80"};
    command.insert(command.end(), keys.begin(), keys.end());
    return xdotool(command).exitCode == 0;
}

bool Desktop::type(const std::string& text) const {
    return xdotool({"type", "--delay", "40", text}).exitCode == 0;
}

bool Desktop::click(unsigned long window, int x, int y) const {
    return xdotool({"mousemove", "--window", std::to_string(window), "--sync", std::to_string(x),
                    std::to_string(y), "click", "1"})
               .exitCode == 0;
}

bool Desktop::clickControl(unsigned long window, const std::string& windowName,
                           int controlId) const {
    const std::optional<WindowLayout> layout = layoutOf(window, windowName);
    if (!layout || layout->controls.count(controlId) == 0) {
        return false;
    }
    const Rect& control = layout->controls.at(controlId);
    return click(window, control.centreX(), control.centreY());
}

std::optional<WindowLayout> Desktop::layoutOf(unsigned long window,
                                              const std::string& windowName) const {
    const std::optional<Rect> shown = size(window);
    if (!shown) {
        return std::nullopt;
    }
    const CommandResult map =
        runCommand({(tools_ / "journey_window_map").string(), "controls", windowName,
                    std::to_string(shown->width), std::to_string(shown->height)},
                   sessionEnvironment(), user_);
    if (map.exitCode != 0) {
        return std::nullopt;
    }
    WindowLayout layout;
    for (const std::string& line : linesOf(map.output)) {
        std::istringstream fields(line);
        std::string first;
        std::string name;
        fields >> first;
        if (first == "menu") {
            std::string menu;
            int position = 0;
            fields >> menu >> position >> name;
            layout.menuPositions[name] = position;
            continue;
        }
        Rect rect;
        fields >> name >> rect.x >> rect.y >> rect.width >> rect.height;
        layout.controls[std::stoi(first)] = rect;
    }
    return layout;
}

bool Desktop::screenshot(const fs::path& file) const {
    const fs::path shot = userFolder("shots") / "screen.png";
    const bool taken =
        runCommand({(tools_ / "journey_window_map").string(), "screenshot", shot.string()},
                   sessionEnvironment(), user_)
            .exitCode == 0;
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    return taken && fs::copy_file(shot, file, fs::copy_options::overwrite_existing, error);
}

std::vector<std::string> qtWarnings(const std::string& errors) {
    // Qt's own categories ("qt.qpa.xcb: ..."), its classes ("QWidget::setMinimumSize: ...",
    // "QObject::connect: ...", "QXcbConnection: ...") and its notes about the platform.
    static const std::regex qtMessage(
        R"(^qt\.|\bQ[A-Z][A-Za-z0-9]*(::[A-Za-z0-9_~]+)*:|\bQ(Object|Widget|Layout|Thread|Timer|BasicTimer|SocketNotifier|Painter|Pixmap|Window)\b|propagateSizeHints|^Detected locale)");
    std::vector<std::string> warnings;
    for (const std::string& line : linesOf(errors)) {
        if (std::regex_search(line, qtMessage)) {
            warnings.push_back(line);
        }
    }
    return warnings;
}

}  // namespace qhs::journey
