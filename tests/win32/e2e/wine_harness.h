// What the Wine end-to-end scenarios share: the settings given on the command
// line, child processes, the Xvfb server with its window manager, the Wine
// session, the launcher started with an exact command line, and reading
// windows off the screen.
#pragma once

#include "platform/file_descriptor.h"
#include "tests/support/spawn_args.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velmora::winetest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using velmora::test::readFile;
using velmora::test::TempFolder;
using velmora::test::writeFile;

struct Settings {
    std::string wineRun;
    std::string winePrefix;
    fs::path launcher;
    fs::path recorder;
    fs::path starter;
    std::string screen = "1024x768";
    int logPixels = 96; // the prefix's resolution (its LogPixels), dots per inch
};
inline Settings settings;

// Waits on the outside world end after this long at most, so that a fault
// shows as a failure rather than a hang. Nothing is asserted about speed.
constexpr auto PATIENCE = 90s;

using Descriptor = velmora::FileDescriptor;

// Polls until `poll` gives an exit code; nullopt when none came within
// PATIENCE.
template <typename Poll> std::optional<int> waitForEnd(Poll poll) {
    const auto until = std::chrono::steady_clock::now() + PATIENCE;
    for (;;) {
        if (auto code = poll())
            return code;
        if (std::chrono::steady_clock::now() > until)
            return std::nullopt;
        std::this_thread::sleep_for(20ms);
    }
}

// A child process; killed and reaped if it still runs when dropped.
class Child {
public:
    Child() = default;
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(Child&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
    Child& operator=(Child&& other) noexcept {
        if (this != &other) {
            stop();
            pid_ = other.pid_;
            other.pid_ = -1;
        }
        return *this;
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    pid_t pid() const { return pid_; }
    // The exit code, or nullopt when the process has not ended yet.
    std::optional<int> poll() {
        if (pid_ < 0)
            return exitCode_;
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done != pid_)
            return std::nullopt;
        pid_ = -1;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exitCode_;
    }
    // Waits for the end; nullopt when it did not come within PATIENCE.
    std::optional<int> wait() {
        return waitForEnd([this] { return poll(); });
    }
    // Asks the process to end (SIGTERM), as a session ends its X server;
    // killed when it does not end in time.
    void end() {
        if (pid_ >= 0)
            ::kill(pid_, SIGTERM);
        if (!wait())
            stop();
    }
    void stop() {
        if (pid_ < 0)
            return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

// Starts `argv` (looked up in PATH); standard output goes to `output` when
// given, otherwise to /dev/null; standard error to the file `errors` when
// named, with `extra` added to the environment. Throws when the program
// cannot be started.
inline Child spawn(const std::vector<std::string>& argv, int output = -1,
                   const std::string& errors = "", const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments = argv;
    const std::vector<char*> args = velmora::test::pointers(arguments);
    std::vector<std::string> environment(extra);
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.emplace_back(*entry);
    const std::vector<char*> envp = velmora::test::pointers(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!errors.empty())
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    return Child(pid);
}

struct Result {
    int exitCode = -1;
    std::string output;
};

// Runs `argv` to its end and collects its standard output.
inline Result run(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    Descriptor readEnd(fds[0]);
    Descriptor writeEnd(fds[1]);
    Child child = spawn(argv, writeEnd.get());
    writeEnd.reset();
    Result result;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(readEnd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        result.output.append(chunk, static_cast<std::size_t>(n));
    }
    const auto code = child.wait();
    if (!code)
        throw std::runtime_error(argv[0] + " did not end");
    result.exitCode = *code;
    return result;
}

inline bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

inline std::string wineserverProgram() {
    for (const char* candidate : {"/usr/lib/wine/wineserver", "/usr/lib/wine/wineserver64",
                                  "/usr/lib/x86_64-linux-gnu/wine/wineserver"}) {
        if (::access(candidate, X_OK) == 0)
            return candidate;
    }
    return "wineserver";
}

// Stops every Wine process of the prefix, so that the next one starts a
// desktop on this test's X server.
inline void stopWine() {
    ::setenv("WINEPREFIX", settings.winePrefix.c_str(), 1);
    run({wineserverProgram(), "-k"});
    run({wineserverProgram(), "-w"});
}

// True when a running process names `text` on its command line (Wine shows
// a Windows program's command line there).
inline std::vector<std::string> processesMentioning(const std::string& text) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string commandLine = readFile(entry.path() / "cmdline").value_or("");
        for (char& c : commandLine) {
            if (c == '\0')
                c = ' ';
        }
        if (commandLine.find(text) != std::string::npos)
            found.push_back(name + " " + commandLine);
    }
    return found;
}

// The processes that ended but were not waited for (their parent gone, as
// Wine's background programs' is): the name each ran.
inline std::string endedProcesses() {
    std::string found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue; // not a process: /proc/net/stat, for one, is a folder
        const std::string stat = readFile(entry.path() / "stat").value_or("");
        const std::size_t close = stat.rfind(')');
        if (close != std::string::npos && stat.compare(close + 1, 3, " Z ") == 0)
            found += " " + stat.substr(0, close + 1);
    }
    return found.empty() ? "none" : found;
}

inline bool anyProcessMentions(const std::string& text) {
    return !processesMentioning(text).empty();
}

// Starts the prefix's Wine session on this test's X server and waits until
// its first desktop process (explorer.exe) has ended again. Wine ends that
// process a moment after the session's first program when no window is
// left, and a launcher that starts in that moment loses its menu with the
// desktop: it ends with 0 before anyone could pick. Programs started after
// this get a desktop of their own that lasts while they have windows.
inline void startWineSession() {
    run({settings.wineRun, "cmd", "/c", "exit"});
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (anyProcessMentions("explorer.exe") && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(100ms);
}

// An Xvfb server on a display number that it chose itself as free; stopped
// by its process id.
class XServer : public ::testing::Environment {
public:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "xwininfo", "xprop", "openbox"}) {
            ASSERT_TRUE(onPath(tool)) << tool << " is not installed; the Wine end-to-end tests "
                                      << "need it (apt-get install xvfb xdotool x11-utils openbox)";
        }
        ASSERT_TRUE(onPath("wine")) << "wine is not installed (apt-get install wine wine64)";
        // Xvfb writes the number of the display it found free to the write
        // end, which it inherits; the read end stays here. -noreset: a server
        // resets when its last client leaves and closes every connection
        // still in its set-up. Here the first xprop poll can be that last
        // client while openbox is still connecting, and openbox then ends
        // with 1 (seen in CI; reproduced with a raw connection held open
        // across an xprop). A desktop's server always has its session
        // connected, so it never resets under a starting window manager.
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        Descriptor readEnd(fds[0]);
        Descriptor writeEnd(fds[1]);
        ::fcntl(readEnd.get(), F_SETFD, FD_CLOEXEC);
        server_ = spawn({"Xvfb", "-displayfd", std::to_string(writeEnd.get()), "-screen", "0",
                         settings.screen + "x24", "-nolisten", "tcp", "-noreset"},
                        -1);
        writeEnd.reset();
        std::string number;
        char c = 0;
        while (::read(readEnd.get(), &c, 1) == 1 && c != '\n')
            number.push_back(c);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        display_ = ":" + number;
        ::setenv("DISPLAY", display_.c_str(), 1);
        startWindowManager();
        stopWine();
        startWineSession();
    }
    void TearDown() override {
        stopWine();
        windowManager_.stop();
        // Killed, Xvfb would leave its display's socket file (-displayfd
        // takes no lock file), at which Weston 10 ends when it picks that
        // display for its Xwayland in a later run.
        server_.end();
    }

private:
    // A desktop has a window manager, and on X11 it alone moves the
    // keyboard focus between windows: Wine programs are tested with one.
    void startWindowManager() {
        windowManager_ = spawn({"openbox", "--sm-disable"}, -1);
        const auto until = std::chrono::steady_clock::now() + PATIENCE;
        while (run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).output.find("window id") ==
               std::string::npos) {
            const auto ended = windowManager_.poll();
            ASSERT_FALSE(ended) << "openbox ended with " << *ended << " on " << display_;
            ASSERT_LT(std::chrono::steady_clock::now(), until)
                << "openbox did not start on " << display_ << "; the root window has:\n"
                << run({"xprop", "-root"}).output << "the X display sockets:\n"
                << run({"sh", "-c", "ss -xlp | grep X11-unix"}).output;
            std::this_thread::sleep_for(50ms);
        }
    }

    Child server_;
    Child windowManager_;
    std::string display_;
};

inline std::string windowsPath(const fs::path& path) {
    std::string text = "Z:" + fs::absolute(path).string();
    for (char& c : text) {
        if (c == '/')
            c = '\\';
    }
    return text;
}

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

// A window as xwininfo reports it: where it lies on the screen and whether
// it can be seen ("IsViewable": it and all its ancestors are mapped).
struct WindowInfo {
    std::string id;
    Rect rect;
    std::string mapState;
    bool viewable() const { return mapState == "IsViewable"; }
};

inline WindowInfo windowInfo(const std::string& window) {
    const Result shown = run({"xwininfo", "-id", window});
    std::map<std::string, std::string> values;
    std::stringstream lines(shown.output);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(": ");
        if (colon == std::string::npos)
            continue;
        const auto start = line.find_first_not_of(' ');
        values[line.substr(start, colon - start)] = line.substr(colon + 2);
    }
    WindowInfo info;
    info.id = window;
    info.rect = Rect{std::atoi(values["Absolute upper-left X"].c_str()),
                     std::atoi(values["Absolute upper-left Y"].c_str()),
                     std::atoi(values["Width"].c_str()), std::atoi(values["Height"].c_str())};
    info.mapState = values["Map State"];
    return info;
}

inline std::string windowName(const std::string& window);

// The X windows whose class (Wine: the program's file name) matches the
// regular expression and whose title holds `title`, mapped or not.
inline std::vector<std::string> findWindows(const std::string& className,
                                            const std::string& title) {
    const Result found = run({"xdotool", "search", "--classname", className});
    std::vector<std::string> ids;
    std::stringstream lines(found.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && windowName(line).find(title) != std::string::npos)
            ids.push_back(line);
    }
    return ids;
}

inline std::string windowName(const std::string& window) {
    std::string name = run({"xdotool", "getwindowname", window}).output;
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

// Waits until a window of that class and title can be seen on the screen;
// fails the test, naming what was found instead, when none comes.
inline std::optional<WindowInfo> waitForShownWindow(const std::string& className,
                                                    const std::string& title) {
    const auto until = std::chrono::steady_clock::now() + PATIENCE;
    std::string seen;
    while (std::chrono::steady_clock::now() < until) {
        seen.clear();
        for (const std::string& window : findWindows(className, title)) {
            const WindowInfo info = windowInfo(window);
            if (info.viewable())
                return info;
            seen += " '" + windowName(window) + "' (" + info.mapState + ")";
        }
        std::this_thread::sleep_for(200ms);
    }
    ADD_FAILURE() << "no window of class " << className << " with \"" << title << "\" in its title"
                  << " is shown; found:" << (seen.empty() ? " none" : seen);
    return std::nullopt;
}

// The launcher, started with an exact command line.
class Launcher {
public:
    // `executable` is the launcher's copy; `arguments` the text after its
    // quoted name on the command line.
    Launcher(const fs::path& executable, const std::string& arguments)
        : log_(executable.parent_path() / ("wine-" + executable.stem().string() + ".log")),
          command_(executable.parent_path() / ("command-" + executable.stem().string() + ".txt")) {
        writeFile(command_, "\"" + windowsPath(executable) + "\" " + arguments);
        start();
    }
    // The exit code, or nullopt while the launcher runs (or runs again, see
    // LOADER_FAILURE).
    std::optional<int> poll() {
        const auto code = process_.poll();
        if (!code || !wineLoaderFailed() || restarts_ == MAX_RESTARTS)
            return code;
        ++restarts_;
        std::fprintf(stderr, "note: Wine's loader failed in this run (%s); started again\n",
                     LOADER_FAILURE);
        start();
        return std::nullopt;
    }
    // Waits for the end; nullopt when it did not come within PATIENCE.
    std::optional<int> wait() {
        return waitForEnd([this] { return poll(); });
    }
    // The end of what Wine wrote about the launcher's processes.
    std::string wineLog() const {
        const std::string text = readFile(log_).value_or("");
        constexpr std::size_t tail = 6000;
        return text.size() > tail ? "..." + text.substr(text.size() - tail) : text;
    }

private:
    // Debian's Wine 8.0 loader has no preloader to keep the address of
    // Windows' shared user data (0x7ffe0000) free, and this machine's kernel
    // (6.18) starts the brk heap anywhere up to about 1 GiB above the loader
    // at 0x7d000000 (seen: 184 to 646 MiB). About once in several thousand
    // process starts (3 in some 25,000 measured) the heap lies there, and
    // Wine ends that process with 1 before any of its code ran. When it is
    // the starter, the launcher never ran; when it is the desktop process
    // (explorer.exe) that the launcher's first window starts, the launcher
    // can show nothing and ends with 0, as on any end without a pick. Neither
    // says anything of the launcher, and a user's second press succeeds, so
    // the run is made again. Wine names the failure, and only it, this way.
    static constexpr const char* LOADER_FAILURE = "failed to map the shared user data";
    static constexpr int MAX_RESTARTS = 3;

    bool wineLoaderFailed() const {
        return readFile(log_).value_or("").find(LOADER_FAILURE) != std::string::npos;
    }
    void start() {
        std::error_code ignored;
        fs::remove(log_, ignored);
        // Wine's own account of the launcher's processes, read when the
        // launcher ends before its menu was seen.
        process_ = spawn({settings.wineRun, windowsPath(settings.starter), windowsPath(command_)},
                         -1, log_.string(), {"VELMORA_WINEDEBUG=err+all,warn+menu,+process"});
    }

    fs::path log_;
    fs::path command_;
    Child process_;
    int restarts_ = 0;
};

inline std::vector<std::string> menuWindows() {
    const Result found =
        run({"xdotool", "search", "--onlyvisible", "--classname", "^velmora\\.exe$"});
    std::vector<std::string> ids;
    std::stringstream lines(found.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty())
            ids.push_back(line);
    }
    return ids;
}

// Waits until the launcher's menu is on the screen and returns where. Fails
// the test when the launcher ends first or the menu does not come.
inline std::optional<Rect> waitForMenu(Launcher& launcher) {
    const auto until = std::chrono::steady_clock::now() + PATIENCE;
    while (std::chrono::steady_clock::now() < until) {
        if (auto code = launcher.poll()) {
            std::string running;
            for (const std::string& process : processesMentioning(".exe"))
                running += "\n  " + process;
            ADD_FAILURE() << "the launcher ended with " << *code << " before showing its menu; "
                          << "Windows programs still running:" << running
                          << "\nended ones: " << endedProcesses()
                          << "\nWine's log of the launcher:\n"
                          << launcher.wineLog();
            return std::nullopt;
        }
        for (const std::string& window : menuWindows()) {
            const Rect rect = windowInfo(window).rect;
            if (rect.width > 1 && rect.height > 1)
                return rect;
        }
        std::this_thread::sleep_for(100ms);
    }
    ADD_FAILURE() << "no menu appeared";
    return std::nullopt;
}

inline void click(int x, int y) {
    // No --sync: it waits for a motion that never comes when the pointer
    // is already there. The server handles the move before the click.
    ASSERT_EQ(
        run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"}).exitCode,
        0);
}

struct ScreenSize {
    int width = 0, height = 0;
};

inline ScreenSize screenSize() {
    const auto by = settings.screen.find('x');
    return {std::atoi(settings.screen.c_str()), std::atoi(settings.screen.c_str() + by + 1)};
}

// Dismisses the menu the way a user does: a click outside it, on the corner
// of the screen farthest from the menu's middle.
inline void clickOutside(const Rect& menu) {
    const ScreenSize screen = screenSize();
    const bool left = menu.x + menu.width / 2 > screen.width / 2;
    const bool top = menu.y + menu.height / 2 > screen.height / 2;
    click(left ? 0 : screen.width - 1, top ? 0 : screen.height - 1);
}

} // namespace velmora::winetest
