#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qhs::journey {

using std::chrono::milliseconds;
using Environment = std::vector<std::string>;

// Who runs a program: root (the test itself) or the ordinary user of the session, with a
// second group when they have one (the capture group).
struct RunAs {
    uid_t uid = 0;
    gid_t gid = 0;
    gid_t otherGroup = static_cast<gid_t>(-1);
};

// A program started in a process group of its own, which the object ends with it.
class ChildProcess {
  public:
    struct Options {
        std::vector<std::string> arguments;  // the first one is found on PATH
        Environment environment;
        std::filesystem::path folder = "/";
        RunAs user;
        std::filesystem::path output = "/dev/null";  // standard output and error go there
        std::filesystem::path errors = "/dev/null";
        int passedFd = -1;  // kept open in the child under the same number
    };

    ChildProcess() = default;
    explicit ChildProcess(const Options& options);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The exit code once it has ended by itself within `limit` (-1 for a signal); nothing
    // when it still runs.
    std::optional<int> waitForExit(milliseconds limit);
    bool running();
    // Ends the whole process group.
    void kill();

  private:
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

// A program run to its end: exit code (-1 when it did not end in time or by a signal) and
// standard output.
struct CommandResult {
    int exitCode = -1;
    std::string output;
};
CommandResult runCommand(const std::vector<std::string>& arguments, const Environment& environment,
                         RunAs user = {}, milliseconds limit = std::chrono::seconds(10));

// Polls `condition` at modest intervals until it holds or `limit` has passed.
bool waitFor(const std::function<bool()>& condition, milliseconds limit);

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int centreX() const { return x + width / 2; }
    int centreY() const { return y + height / 2; }
};

// Where the controls of one of the program's windows are, at a given size of the window.
struct WindowLayout {
    std::map<int, Rect> controls;              // by controlId
    std::map<std::string, int> menuPositions;  // command objectName -> place in its menu
};

// A display of its own (Xvfb), with or without a window manager (openbox), and an ordinary
// user's session on it: the user ("nobody" unless named) with a home, a runtime folder and a
// UTF-8 locale, as a desktop login gives them. Input arrives as real X events (xdotool,
// XTEST). The session's programs run in the user's first supplementary group too.
class Desktop {
  public:
    Desktop(const std::filesystem::path& work, bool windowManager,
            const std::string& userName = "nobody");
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Empty when the display (and the window manager) came up; else what went wrong.
    const std::string& problem() const { return problem_; }
    bool windowManager() const { return windowManager_; }
    const std::string& display() const { return display_; }
    RunAs user() const { return user_; }
    // Folders of the session user.
    const std::filesystem::path& home() const { return home_; }
    std::filesystem::path userFolder(const std::string& name) const;
    // What a program of the session starts with.
    Environment sessionEnvironment() const;
    ChildProcess startAsUser(const std::vector<std::string>& arguments,
                             const std::filesystem::path& folder,
                             const std::filesystem::path& output,
                             const std::filesystem::path& errors,
                             const Environment& extraEnvironment = {}) const;

    // Windows, by a regular expression on the title.
    std::optional<unsigned long> findWindow(const std::string& titlePattern) const;
    std::optional<unsigned long> waitForWindow(const std::string& titlePattern,
                                               milliseconds limit = std::chrono::seconds(10)) const;
    bool waitUntilGone(unsigned long window, milliseconds limit = std::chrono::seconds(5)) const;
    std::string title(unsigned long window) const;
    std::optional<Rect> size(unsigned long window) const;
    // The program windows on show (those of the window manager aside).
    std::vector<unsigned long> shownWindows() const;
    // The titles of every window on show, for failure messages.
    std::string shownTitles() const;

    // Input. The window is activated first (with a window manager as a user's click on it
    // does; without one it takes the keyboard focus).
    bool focus(unsigned long window) const;
    bool keys(const std::vector<std::string>& keys) const;
    bool type(const std::string& text) const;
    // A click at a spot of the window, which must not be covered by another one.
    bool click(unsigned long window, int x, int y) const;
    // Clicks the centre of the control with `controlId`, as the program lays it out now.
    bool clickControl(unsigned long window, const std::string& windowName, int controlId) const;
    // The layout of the program's window `windowName` at the size of `window`.
    std::optional<WindowLayout> layoutOf(unsigned long window, const std::string& windowName) const;
    // Saves a picture of the whole screen.
    bool screenshot(const std::filesystem::path& file) const;

  private:
    CommandResult xdotool(const std::vector<std::string>& arguments) const;
    Environment displayEnvironment() const;

    bool windowManager_;
    std::filesystem::path session_;
    std::filesystem::path home_;
    std::filesystem::path runtime_;
    std::filesystem::path tools_;
    RunAs user_;
    std::string userName_;
    std::string display_;
    std::string problem_;
    ChildProcess server_;
    ChildProcess manager_;
};

// The lines of a program's standard error that are warnings of Qt.
std::vector<std::string> qtWarnings(const std::string& errors);

}  // namespace qhs::journey
