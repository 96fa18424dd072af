// What the X11 menu tests run: an Xvfb server of their own, the launcher
// copied into a temporary folder with its configuration file, the X tools
// that act as the user (xdotool) and measure the window (xwininfo), and a
// connection of the test's own that sees windows appear.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::x11test {

// A child process, killed and reaped if it is still running when dropped.
class ChildProcess {
public:
    ChildProcess() = default;
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    // Waits for the exit; the exit status, or nullopt when `limit` passed
    // first (the process then runs on).
    std::optional<int> wait(std::chrono::milliseconds limit);
    // Ends the process now (SIGTERM, then SIGKILL) and reaps it.
    void stop();

private:
    pid_t pid_ = -1;
};

// The environment of this process with DISPLAY set to `display`.
std::vector<std::string> environmentWithDisplay(const std::string& display);

// Starts `argv` (looked up in PATH) with `environment`, standard input from
// /dev/null and, when `output` is given, standard output into that file
// descriptor, and standard error into `errors` likewise. With `newSession`
// the program has no controlling terminal. Throws std::runtime_error naming
// the program when it cannot start.
ChildProcess spawnProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment, int output = -1,
                          int errors = -1, bool newSession = false);

struct ProgramResult {
    int exitStatus = -1;
    std::string output;
};

// Runs `argv` to its end and collects its standard output.
ProgramResult runProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment);

// An Xvfb server on a display number that was free, stopped by its process id.
class XvfbServer {
public:
    // Throws std::runtime_error when the server cannot be started. A server
    // to be stopped goes into a process group of its own (`ownGroup`): the
    // kernel continues the stopped members of a group that loses its last
    // link to the session's other groups, as the tests' group does when the
    // shell that started them ends first.
    XvfbServer(int width, int height, bool ownGroup = false);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;
    const std::string& display() const { return display_; }
    pid_t pid() const { return process_.pid(); }
    // Sends the server `number` (SIGSTOP to make it stop answering).
    void signal(int number) const;
    // Kills the server (SIGKILL), which vanishes as a crashed one does.
    void vanish();

private:
    // The socket file a server that did not end by itself left behind
    // (-displayfd takes no lock file), when nothing listens there any more:
    // the next X server on this display replaces it, but Weston 10, whose
    // Xwayland another suite may start at that moment, ends at it.
    void clearLeftSocket() const;

    ChildProcess process_;
    std::string display_;
};

// The test's own connection: it watches the root window for mapped
// override-redirect windows and reads back what the screen shows.
class XWatcher {
public:
    explicit XWatcher(const std::string& display);
    ~XWatcher();
    XWatcher(const XWatcher&) = delete;
    XWatcher& operator=(const XWatcher&) = delete;

    Display* get() const { return display_; }
    // The next override-redirect window mapped on the screen, or None when
    // none came within `limit`.
    Window waitForPopup(std::chrono::milliseconds limit);
    // Takes the keyboard as a hotkey daemon would; false when it could not.
    bool grabKeyboard();
    void ungrabKeyboard();
    // Sets the screen's resource database (what xrdb would load).
    void setResources(const std::string& text);
    // Adds a RandR monitor marked primary; false when the server did not
    // report it back.
    bool addPrimaryMonitor(int left, int top, int width, int height);
    // Whether `window` is unmapped or gone within `limit`.
    bool waitForGone(Window window, std::chrono::milliseconds limit);

private:
    Display* display_ = nullptr;
};

struct Geometry {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The window's geometry as xwininfo reports it.
Geometry windowGeometry(const std::string& display, Window window);

// Runs xdotool with `arguments` on `display`.
void xdotool(const std::string& display, const std::vector<std::string>& arguments);

// Saves a PNG screenshot of the whole screen (ImageMagick's import).
void saveScreenshot(const std::string& display, const std::filesystem::path& file);

} // namespace velmora::x11test
