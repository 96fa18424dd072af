// The Windows launcher end to end, as its users meet it: the real
// velmora.exe under Wine on an Xvfb server of this test program's own, in
// a temporary folder, picked and dismissed with the pointer and the keyboard
// through xdotool.
//
//   velmora_wine_e2e --wine-run=<wine-run.sh> --wineprefix=<prefix>
//                    --launcher=<velmora.exe> --recorder=<velmora_recorder.exe>
//                    --starter=<velmora_starter.exe> [gtest options]
//
//                    [--screen=<width>x<height>] [--log-pixels=<dpi of the prefix>]
//
// The launcher is started through the starter, so that its command-line
// text is exactly what the test wrote; the recorder stands for a launched
// program and writes down the command line it was given and how the shell
// started it. Programs that nobody here wrote (Wine's Notepad and explorer)
// show that what the shell starts appears on the screen.
#include "menu/menu_session.h"
#include "platform/file_descriptor.h"
#include "tests/matrix/matrix_scenarios.h"
#include "tests/matrix/xev_keys.h"
#include "tests/support/case_name.h"
#include "tests/support/default_file_bytes.h"
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
#include <iterator>
#include <map>
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

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using velmora::test::readFile;
using velmora::test::TempFolder;
using velmora::test::writeFile;

namespace {

struct Settings {
    std::string wineRun;
    std::string winePrefix;
    fs::path launcher;
    fs::path recorder;
    fs::path starter;
    std::string screen = "1024x768";
    int logPixels = 96; // the prefix's resolution (its LogPixels), dots per inch
};
Settings settings;

// Waits on the outside world end after this long at most, so that a fault
// shows as a failure rather than a hang. Nothing is asserted about speed.
constexpr auto PATIENCE = 90s;

using Descriptor = velmora::FileDescriptor;

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
        const auto until = std::chrono::steady_clock::now() + PATIENCE;
        for (;;) {
            if (auto code = poll())
                return code;
            if (std::chrono::steady_clock::now() > until)
                return std::nullopt;
            std::this_thread::sleep_for(20ms);
        }
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
// given, otherwise to /dev/null. Throws when the program cannot be started.
Child spawn(const std::vector<std::string>& argv, int output = -1) {
    std::vector<std::string> arguments = argv;
    const std::vector<char*> args = velmora::test::pointers(arguments);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
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
Result run(const std::vector<std::string>& argv) {
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

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

std::string wineserverProgram() {
    for (const char* candidate : {"/usr/lib/wine/wineserver", "/usr/lib/wine/wineserver64",
                                  "/usr/lib/x86_64-linux-gnu/wine/wineserver"}) {
        if (::access(candidate, X_OK) == 0)
            return candidate;
    }
    return "wineserver";
}

// Stops every Wine process of the prefix, so that the next one starts a
// desktop on this test's X server.
void stopWine() {
    ::setenv("WINEPREFIX", settings.winePrefix.c_str(), 1);
    run({wineserverProgram(), "-k"});
    run({wineserverProgram(), "-w"});
}

// True when a running process names `text` on its command line (Wine shows
// a Windows program's command line there).
bool anyProcessMentions(const std::string& text) {
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
            return true;
    }
    return false;
}

// Starts the prefix's Wine session on this test's X server and waits until
// its first desktop process (explorer.exe) has ended again. Wine ends that
// process a moment after the session's first program when no window is
// left, and a launcher that starts in that moment loses its menu with the
// desktop: it ends with 0 before anyone could pick. Programs started after
// this get a desktop of their own that lasts while they have windows.
void startWineSession() {
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
        // end, which it inherits; the read end stays here.
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        Descriptor readEnd(fds[0]);
        Descriptor writeEnd(fds[1]);
        ::fcntl(readEnd.get(), F_SETFD, FD_CLOEXEC);
        server_ = spawn({"Xvfb", "-displayfd", std::to_string(writeEnd.get()), "-screen", "0",
                         settings.screen + "x24", "-nolisten", "tcp"},
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
        server_.stop();
    }

private:
    // A desktop has a window manager, and on X11 it alone moves the
    // keyboard focus between windows: Wine programs are tested with one.
    void startWindowManager() {
        windowManager_ = spawn({"openbox", "--sm-disable"}, -1);
        const auto until = std::chrono::steady_clock::now() + PATIENCE;
        while (run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).output.find("window id") ==
               std::string::npos) {
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "openbox did not start";
            std::this_thread::sleep_for(50ms);
        }
    }

    Child server_;
    Child windowManager_;
    std::string display_;
};

std::string windowsPath(const fs::path& path) {
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

WindowInfo windowInfo(const std::string& window) {
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

std::string windowName(const std::string& window);

// The X windows whose class (Wine: the program's file name) matches the
// regular expression and whose title holds `title`, mapped or not.
std::vector<std::string> findWindows(const std::string& className, const std::string& title) {
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

std::string windowName(const std::string& window) {
    std::string name = run({"xdotool", "getwindowname", window}).output;
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

// Waits until a window of that class and title can be seen on the screen;
// fails the test, naming what was found instead, when none comes.
std::optional<WindowInfo> waitForShownWindow(const std::string& className,
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
    Launcher(const fs::path& executable, const std::string& arguments) {
        const fs::path commandFile =
            executable.parent_path() / ("command-" + executable.stem().string() + ".txt");
        writeFile(commandFile, "\"" + windowsPath(executable) + "\" " + arguments);
        process_ =
            spawn({settings.wineRun, windowsPath(settings.starter), windowsPath(commandFile)});
    }
    Child& process() { return process_; }

private:
    Child process_;
};

std::vector<std::string> menuWindows() {
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
std::optional<Rect> waitForMenu(Child& launcher) {
    const auto until = std::chrono::steady_clock::now() + PATIENCE;
    while (std::chrono::steady_clock::now() < until) {
        if (auto code = launcher.poll()) {
            ADD_FAILURE() << "the launcher ended with " << *code << " before showing its menu";
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

void click(int x, int y) {
    // No --sync: it waits for a motion that never comes when the pointer
    // is already there. The server handles the move before the click.
    ASSERT_EQ(
        run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"}).exitCode,
        0);
}

struct ScreenSize {
    int width = 0, height = 0;
};

ScreenSize screenSize() {
    const auto by = settings.screen.find('x');
    return {std::atoi(settings.screen.c_str()), std::atoi(settings.screen.c_str() + by + 1)};
}

// Dismisses the menu the way a user does: a click outside it, on the corner
// of the screen farthest from the menu's middle.
void clickOutside(const Rect& menu) {
    const ScreenSize screen = screenSize();
    const bool left = menu.x + menu.width / 2 > screen.width / 2;
    const bool top = menu.y + menu.height / 2 > screen.height / 2;
    click(left ? 0 : screen.width - 1, top ? 0 : screen.height - 1);
}

// The folder of one run: the launcher's copy and, optionally, its
// configuration file.
struct RunFolder {
    TempFolder folder;
    fs::path launcher;
    explicit RunFolder(const std::string& name = "velmora.exe") {
        launcher = folder.path() / name;
        fs::copy_file(settings.launcher, launcher);
    }
    fs::path ini() const {
        fs::path path = launcher;
        std::string text = path.string();
        text.replace(text.size() - 3, 3, "ini");
        return text;
    }
    // Puts a recorder at `relative` and returns its Windows path.
    std::string addRecorder(const fs::path& relative) const {
        const fs::path target = folder.path() / relative;
        fs::create_directories(target.parent_path());
        fs::copy_file(settings.recorder, target);
        return windowsPath(target);
    }
    fs::path record(const fs::path& relative) const {
        return folder.path() / (relative.string() + ".txt");
    }
};

// Three items, each starting a recorder of its own; one lies in a folder
// whose name has blanks, so that "exec" must be passed whole.
const fs::path RECORDERS[] = {"first.exe", "Program Files/second program.exe", "third.exe"};

std::string recorderConfig(const RunFolder& run) {
    return "[1]\r\ntitle=First\r\nexec=" + run.addRecorder(RECORDERS[0]) +
           "\r\n[2]\r\ntitle=Second\r\nexec=" + run.addRecorder(RECORDERS[1]) +
           "\r\n[3]\r\ntitle=Third\r\nexec=" + run.addRecorder(RECORDERS[2]) + "\r\n";
}

// Writes the recorders' configuration into the folder; the launcher to start.
const fs::path& withRecorderConfig(const RunFolder& run) {
    writeFile(run.ini(), recorderConfig(run));
    return run.launcher;
}

// The recorders' menu in a fresh folder, shown by a launcher started with
// `arguments`; `menu` is empty (and the test failed) when none appeared.
struct RecorderMenu {
    explicit RecorderMenu(const std::string& arguments)
        : launcher(withRecorderConfig(folder), arguments), menu(waitForMenu(launcher.process())) {}
    RunFolder folder;
    Launcher launcher;
    std::optional<Rect> menu;
};

// Waits for a recorder's record; false when it never came.
bool waitForRecord(const fs::path& record) {
    const auto until = std::chrono::steady_clock::now() + PATIENCE;
    while (!fs::exists(record) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(50ms);
    return fs::exists(record);
}

bool anyRecord(const RunFolder& run) {
    for (const fs::path& recorder : RECORDERS) {
        if (fs::exists(run.record(recorder)))
            return true;
    }
    return false;
}

// Shows the menu of `config` (written beside a fresh launcher), measures it
// and dismisses it.
std::optional<Rect> measureMenu(const std::string& config) {
    RunFolder folder;
    writeFile(folder.ini(), config);
    Launcher launcher(folder.launcher, "");
    const auto menu = waitForMenu(launcher.process());
    if (menu) {
        clickOutside(*menu);
        EXPECT_EQ(launcher.process().wait(), 0);
    }
    return menu;
}

TEST(WineLauncher, FirstRunWritesTheDefaultFileAndShowsItsThreeItems) {
    RunFolder folder;
    ASSERT_FALSE(fs::exists(folder.ini()));
    Launcher launcher(folder.launcher, "");
    const auto menu = waitForMenu(launcher.process());
    ASSERT_TRUE(menu);

    // Written before the menu was shown.
    EXPECT_EQ(readFile(folder.ini()), velmora::test::DEFAULT_FILE_CRLF);
    EXPECT_EQ(fs::file_size(folder.ini()), 284u);
    // All four placement values 0: the menu's top left corner at the screen's.
    EXPECT_EQ(menu->x, 0);
    EXPECT_EQ(menu->y, 0);

    clickOutside(*menu);
    EXPECT_EQ(launcher.process().wait(), 0);

    // The menu is the one that three items of those titles make, and one
    // item fewer makes a different menu.
    const auto three = measureMenu("[1]\r\ntitle=Internet Explorer\r\n[2]\r\ntitle=Opera\r\n"
                                   "[3]\r\ntitle=NetFront\r\n");
    const auto two = measureMenu("[1]\r\ntitle=Internet Explorer\r\n[2]\r\ntitle=Opera\r\n");
    ASSERT_TRUE(three && two);
    EXPECT_EQ(menu->width, three->width);
    EXPECT_EQ(menu->height, three->height);
    EXPECT_LT(two->height, three->height);
}

// How the second instance is started: the same executable again, or a copy
// under another name in another folder (the mutex's name is the same).
class SecondInstance : public ::testing::TestWithParam<const char*> {};

TEST_P(SecondInstance, ExitsWithOneWhileTheFirstMenuIsOpen) {
    RunFolder first;
    const std::string config = recorderConfig(first);
    writeFile(first.ini(), config);
    Launcher launcher(first.launcher, "first");
    const auto menu = waitForMenu(launcher.process());
    ASSERT_TRUE(menu);

    std::optional<RunFolder> other;
    fs::path secondExecutable = first.launcher;
    if (std::string(GetParam()) != "velmora.exe") {
        other.emplace(GetParam());
        secondExecutable = other->launcher;
    }
    Launcher second(secondExecutable, "second");
    EXPECT_EQ(second.process().wait(), 1);
    EXPECT_EQ(readFile(first.ini()), config) << "the second instance leaves the file alone";
    if (other) {
        EXPECT_FALSE(fs::exists(other->ini())) << "the second instance writes no default file";
    }

    // The first instance and its menu go on undisturbed.
    EXPECT_FALSE(launcher.process().poll());
    const auto still = waitForMenu(launcher.process());
    ASSERT_TRUE(still);
    EXPECT_EQ(still->width, menu->width);
    clickOutside(*still);
    EXPECT_EQ(launcher.process().wait(), 0);
    EXPECT_FALSE(anyRecord(first));
}

INSTANTIATE_TEST_SUITE_P(Starts, SecondInstance,
                         ::testing::Values("velmora.exe", "renamed launcher.exe"),
                         [](const auto& param) {
                             return std::string(param.param) == "velmora.exe" ? "SameExecutable"
                                                                              : "RenamedCopy";
                         });

// The launcher's command-line text, handed to the picked program unchanged.
class Pick : public ::testing::TestWithParam<const char*> {};

TEST_P(Pick, StartsTheItemsProgramWithTheLaunchersCommandLine) {
    const std::string arguments = GetParam();
    RecorderMenu shown(arguments);
    auto& [folder, launcher, menu] = shown;
    ASSERT_TRUE(menu);

    // The middle of the three items.
    click(menu->x + menu->width / 2, menu->y + menu->height / 2);
    EXPECT_EQ(launcher.process().wait(), 0);

    const fs::path record = folder.record(RECORDERS[1]);
    ASSERT_TRUE(waitForRecord(record)) << "the second item's program was not started";
    EXPECT_EQ(readFile(record), arguments);
    // Shown normally, and in the launcher's own current directory (this
    // program's), not in a folder the launcher chose.
    EXPECT_EQ(readFile(folder.folder.path() / (RECORDERS[1].string() + ".startup.txt")),
              "dwFlags=1\nwShowWindow=1\ndirectory=" + windowsPath(fs::current_path()) + "\n")
        << "STARTF_USESHOWWINDOW and SW_SHOWNORMAL are 1";
    EXPECT_FALSE(fs::exists(folder.record(RECORDERS[0])));
    EXPECT_FALSE(fs::exists(folder.record(RECORDERS[2])));
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Pick,
                         ::testing::Values("", "one", "a \"b c\" d",
                                           "\"quoted \\\"inner\\\" text\"  two  blanks  ",
                                           "\xE6\x97\xA5\xE6\x9C\xAC \"\xE3\x83\xA1 x\" /flag:1"));

// Keys typed while the menu is open, wherever the pointer rests.
struct KeyCase {
    const char* name;
    std::vector<std::string> keys;
    int picked; // index into RECORDERS, or -1 for none
};

class Keyboard : public ::testing::TestWithParam<KeyCase> {};

TEST_P(Keyboard, PicksOrDismissesTheMenu) {
    RecorderMenu shown("typed \"pick\"");
    auto& [folder, launcher, menu] = shown;
    ASSERT_TRUE(menu);

    std::vector<std::string> command = {"xdotool", "key"};
    command.insert(command.end(), GetParam().keys.begin(), GetParam().keys.end());
    ASSERT_EQ(run(command).exitCode, 0);
    EXPECT_EQ(launcher.process().wait(), 0);

    if (GetParam().picked < 0) {
        EXPECT_FALSE(anyRecord(folder));
        EXPECT_FALSE(anyProcessMentions(folder.folder.path().filename().string()));
        return;
    }
    const fs::path record = folder.record(RECORDERS[GetParam().picked]);
    ASSERT_TRUE(waitForRecord(record)) << "the picked item's program was not started";
    EXPECT_EQ(readFile(record), "typed \"pick\"");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Keyboard,
    ::testing::Values(KeyCase{"DownReturnPicksTheFirst", {"Down", "Return"}, 0},
                      KeyCase{"DownDownReturnPicksTheSecond", {"Down", "Down", "Return"}, 1},
                      KeyCase{"EscapeDismisses", {"Escape"}, -1},
                      KeyCase{"EscapeAfterMovingDismisses", {"Down", "Down", "Escape"}, -1}),
    velmora::test::CaseName());

TEST(WineLauncher, DismissingTheMenuLaunchesNothing) {
    RecorderMenu shown("some arguments");
    auto& [folder, launcher, menu] = shown;
    ASSERT_TRUE(menu);
    clickOutside(*menu);
    EXPECT_EQ(launcher.process().wait(), 0);
    // The shell creates a program's process before the launcher's call
    // returns: a launched recorder would now be running, or have left its
    // record (or the part of it) behind.
    EXPECT_FALSE(anyRecord(folder));
    EXPECT_FALSE(anyProcessMentions(folder.folder.path().filename().string()));
    for (const auto& entry : fs::recursive_directory_iterator(folder.folder.path()))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

// A one-item menu picked with the pointer: the launcher ends with 0.
void pickTheOnlyItem(const RunFolder& folder, const std::string& exec) {
    writeFile(folder.ini(), "[1]\r\ntitle=The one\r\nexec=" + exec + "\r\n");
    Launcher launcher(folder.launcher, "");
    const auto menu = waitForMenu(launcher.process());
    ASSERT_TRUE(menu);
    click(menu->x + menu->width / 2, menu->y + menu->height / 2);
    EXPECT_EQ(launcher.process().wait(), 0);
}

// What the item opens, and the window (class and title) in which the user
// then sees it: programs that nobody here wrote.
struct ShownCase {
    const char* name;
    // Makes what the item names inside the run's folder; returns "exec".
    std::string (*prepare)(const RunFolder& folder);
    const char* className;
    const char* title;
};

class Shown : public ::testing::TestWithParam<ShownCase> {
protected:
    // Everything the shell started goes with the prefix's programs.
    void TearDown() override { stopWine(); }
};

TEST_P(Shown, ThePickedItemAppearsOnTheScreen) {
    RunFolder folder;
    const std::string exec = GetParam().prepare(folder);
    pickTheOnlyItem(folder, exec);
    const auto window = waitForShownWindow(GetParam().className, GetParam().title);
    ASSERT_TRUE(window);
    EXPECT_GT(window->rect.width, 1);
    EXPECT_GT(window->rect.height, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, Shown,
    ::testing::Values(ShownCase{"Notepad",
                                [](const RunFolder&) {
                                    return std::string("C:\\windows\\notepad.exe");
                                },
                                "^notepad\\.exe$", "Notepad"},
                      // Opened by the program that the .txt association names (Notepad).
                      ShownCase{"TextDocument",
                                [](const RunFolder& folder) {
                                    const fs::path document =
                                        folder.folder.path() / "shopping list.txt";
                                    writeFile(document, "milk\r\nbread\r\n");
                                    return windowsPath(document);
                                },
                                "^notepad\\.exe$", "shopping list"},
                      ShownCase{"Folder",
                                [](const RunFolder& folder) {
                                    const fs::path inner = folder.folder.path() / "holiday photos";
                                    fs::create_directory(inner);
                                    return windowsPath(inner);
                                },
                                "^explorer\\.exe$", "holiday photos"}),
    velmora::test::CaseName());

// Runs the starter's mutex probe: 10 no such mutex, 11 another process owns
// it, 12 or 13 this probe could take it.
int probeInstanceMutex() {
    return run({settings.wineRun, windowsPath(settings.starter), "--probe-mutex",
                "{6286FEE8-242F-4db1-B21A-D8B004526EED}"})
        .exitCode;
}

TEST(WineLauncher, OwnsTheInstanceMutexFromTheStart) {
    RecorderMenu shown("");
    auto& [folder, launcher, menu] = shown;
    ASSERT_TRUE(menu);
    EXPECT_EQ(probeInstanceMutex(), 11) << "another process could take the instance mutex";
    clickOutside(*menu);
    EXPECT_EQ(launcher.process().wait(), 0);
    EXPECT_EQ(probeInstanceMutex(), 10) << "the mutex outlived the launcher";
}

TEST(WineLauncher, AFailedLaunchShowsTheShellsReportAndStillEndsWithZero) {
    RunFolder folder;
    writeFile(folder.ini(), "[1]\r\ntitle=Gone\r\nexec=" +
                                windowsPath(folder.folder.path() / "no such program.exe") + "\r\n");
    Launcher launcher(folder.launcher, "");
    const auto menu = waitForMenu(launcher.process());
    ASSERT_TRUE(menu);
    click(menu->x + menu->width / 2, menu->y + menu->height / 2);

    // The shell reports the failure itself, in a message box of the
    // launcher's process, and the launcher waits for the user to close it.
    const auto report = waitForShownWindow("^velmora\\.exe$", "Error");
    ASSERT_TRUE(report);
    EXPECT_FALSE(launcher.process().poll()) << "the launcher ended under the shell's report";
    // No window manager gives it the focus: the user's click would.
    ASSERT_EQ(run({"xdotool", "windowfocus", report->id, "key", "Return"}).exitCode, 0);
    EXPECT_EQ(launcher.process().wait(), 0);
}

// The real menu's place for each anchor, and for offsets that push it past
// each edge, against the place the core computes for a menu of its size.
struct PlacementCase {
    int xAlign, yAlign, x, y;
};

std::string positionSection(const PlacementCase& c) {
    return "[position]\r\nxAlign=" + std::to_string(c.xAlign) +
           "\r\nyAlign=" + std::to_string(c.yAlign) + "\r\nx=" + std::to_string(c.x) +
           "\r\ny=" + std::to_string(c.y) + "\r\n";
}

std::string caseName(const PlacementCase& c) {
    return "xAlign=" + std::to_string(c.xAlign) + " yAlign=" + std::to_string(c.yAlign) +
           " x=" + std::to_string(c.x) + " y=" + std::to_string(c.y);
}

// The TrackPopupMenuEx flags of the alignment codes.
unsigned int trackFlags(int xAlign, int yAlign) {
    return 0x0100u |
           (xAlign == 1   ? 0x0004u
            : xAlign == 2 ? 0x0008u
                          : 0u) |
           (yAlign == 1   ? 0x0010u
            : yAlign == 2 ? 0x0020u
                          : 0u);
}

const std::string PLACED_ITEMS = "[1]\r\ntitle=Internet Explorer\r\n[2]\r\ntitle=Opera\r\n"
                                 "[3]\r\ntitle=NetFront\r\n";

TEST(WinePlacement, EveryAnchorAndEdgeMatchesPlaceMenuRect) {
    const int screenWidth = screenSize().width;
    const int screenHeight = screenSize().height;
    std::vector<PlacementCase> cases;
    for (int yAlign = 0; yAlign <= 2; ++yAlign) {
        for (int xAlign = 0; xAlign <= 2; ++xAlign)
            cases.push_back({xAlign, yAlign, 0, 0});
    }
    // Past the left, right, top and bottom edges from the centre, and past
    // the far edges from the near anchor.
    cases.insert(cases.end(), {{1, 1, -screenWidth, 0},
                               {1, 1, screenWidth, 0},
                               {1, 1, 0, -screenHeight},
                               {1, 1, 0, screenHeight},
                               {0, 0, screenWidth - 10, screenHeight - 10},
                               {2, 2, 10 - screenWidth, 10 - screenHeight}});
    for (const PlacementCase& c : cases) {
        SCOPED_TRACE(caseName(c));
        const auto menu = measureMenu(PLACED_ITEMS + positionSection(c));
        ASSERT_TRUE(menu);
        // The anchor point and flags as the launcher computes them.
        const unsigned int flags = trackFlags(c.xAlign, c.yAlign);
        const int x = c.x + (c.xAlign == 1 ? screenWidth / 2 : c.xAlign == 2 ? screenWidth : 0);
        const int y = c.y + (c.yAlign == 1 ? screenHeight / 2 : c.yAlign == 2 ? screenHeight : 0);
        const velmora::MenuRect expected = velmora::placeMenuRect(
            flags, x, y, menu->width, menu->height, screenWidth, screenHeight);
        EXPECT_EQ(menu->x, expected.left);
        EXPECT_EQ(menu->y, expected.top);
    }
}

// At 144 dots per inch (Wine's LogPixels) the 1024 x 768 screen is 683 x 512
// logical pixels: the launcher anchors and offsets the menu in those, and
// the point lands at 1.5 times its logical place, rounded to the nearest
// device pixel.
struct ScaledCase {
    PlacementCase position;
    int deviceX, deviceY;
};

TEST(WineHiDpi, OffsetsAndAnchorsAreLogicalPixels) {
    ASSERT_EQ(settings.logPixels, 144) << "the table is for a prefix at 144 dpi";
    ASSERT_EQ(settings.screen, "1024x768") << "the table is for a 1024 x 768 screen";
    // Logical point: 10 x 20; 341 x 256 (683 / 2), the screen's centre; 336 x
    // 486; 673 x 486; 683, half a pixel past the edge, which keeps the menu at it.
    const ScaledCase cases[] = {
        {{0, 0, 10, 20}, 15, 30},      {{1, 1, 0, 0}, 512, 384}, {{1, 2, -5, -26}, 504, 729},
        {{2, 2, -10, -26}, 1010, 729}, {{2, 0, 0, 0}, 1025, 0},
    };
    for (const ScaledCase& c : cases) {
        SCOPED_TRACE(caseName(c.position));
        const auto menu = measureMenu(PLACED_ITEMS + positionSection(c.position));
        ASSERT_TRUE(menu);
        const velmora::MenuRect expected =
            velmora::placeMenuRect(trackFlags(c.position.xAlign, c.position.yAlign), c.deviceX,
                                   c.deviceY, menu->width, menu->height, 1024, 768);
        EXPECT_EQ(menu->x, expected.left);
        EXPECT_EQ(menu->y, expected.top);
    }
}

// ---------------------------------------------------------------------------
// The matrix's Wine column (the table: tests/matrix/matrix_scenarios.h), on
// this program's Xvfb screen with openbox, driven with xdotool
// as the scenarios above are; the other application is xev.

// The words of a command line's arguments part as the runtime splits them
// (blanks part them; double quotes hold blanks in).
std::vector<std::string> splitArguments(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any)
                words.push_back(word);
            word.clear();
            any = false;
        } else {
            word.push_back(c);
            any = true;
        }
    }
    if (any)
        words.push_back(word);
    return words;
}

class WineDriver : public velmora::matrix::DisplayDriver {
public:
    using Rect = velmora::matrix::Rect;

    void start(const fs::path& folder) override { folder_ = folder; }
    Rect workArea() const override { return {0, 0, screenSize().width, screenSize().height}; }

    fs::path install(const fs::path& app, const std::vector<std::string>& titles,
                     const velmora::test::Position& at) override {
        std::string config;
        for (std::size_t i = 1; i <= titles.size(); ++i) {
            const fs::path recorder = app / ("item" + std::to_string(i) + ".exe");
            fs::copy_file(settings.recorder, recorder, fs::copy_options::overwrite_existing);
            fs::remove(record(app, i));
            config += "[" + std::to_string(i) + "]\r\ntitle=" + titles[i - 1] +
                      "\r\nexec=" + windowsPath(recorder) + "\r\n";
        }
        count_ = titles.size();
        writeFile(app / "velmora.ini", config + "[position]\r\nx=" + std::to_string(at.x) +
                                           "\r\ny=" + std::to_string(at.y) +
                                           "\r\nxAlign=" + std::to_string(at.xAlign) +
                                           "\r\nyAlign=" + std::to_string(at.yAlign) + "\r\n");
        fs::copy_file(settings.launcher, app / "velmora.exe", fs::copy_options::overwrite_existing);
        return app / "velmora.exe";
    }
    std::vector<std::string> launched(const fs::path& app,
                                      std::chrono::milliseconds limit) override {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (std::size_t i = 1; i <= count_; ++i) {
                if (const auto text = readFile(record(app, i))) {
                    std::vector<std::string> lines{"item" + std::to_string(i)};
                    for (auto& word : splitArguments(*text))
                        lines.push_back(word);
                    return lines;
                }
            }
            if (std::chrono::steady_clock::now() > until)
                return {};
            std::this_thread::sleep_for(50ms);
        }
    }

    void launch(const fs::path& launcher, const std::vector<std::string>& arguments) override {
        std::string text;
        for (const auto& argument : arguments) {
            const bool blank = argument.find(' ') != std::string::npos;
            text += (text.empty() ? "" : " ") + (blank ? "\"" + argument + "\"" : argument);
        }
        // A scenario does not inherit where the pointer rests from the one
        // before, but finds it in the screen's corner, off every menu of the
        // table.
        xdotool({"mousemove", std::to_string(screenSize().width - 1),
                 std::to_string(screenSize().height - 1)});
        launcher_.emplace(launcher, text);
    }
    Rect waitForMenu() override {
        const auto menu = ::waitForMenu(launcher_->process());
        return menu ? Rect{menu->x, menu->y, menu->width, menu->height} : Rect{};
    }
    std::optional<int> waitForExit() override { return launcher_->process().wait(); }
    // A launcher that still runs is ended with the prefix's programs (its
    // Wine process outlives the starter), and the session starts anew.
    void stopLauncher() override {
        if (launcher_ && !launcher_->process().poll()) {
            stopWine();
            startWineSession();
        }
        launcher_.reset();
    }

    void key(const std::string& keysym) override { xdotool({"key", keysym}); }
    void type(const std::string& text) override { xdotool({"type", text}); }
    void click(int x, int y) override { ::click(x, y); }

    Rect openOtherWindow() override {
        const Rect place{70, 190, 160, 120};
        const Descriptor log(
            ::open((folder_ / "xev.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        other_ =
            spawn(velmora::matrix::xevArguments(place.left, place.top, place.width, place.height),
                  log.get());
        xdotool({"search", "--sync", "--name", "velmora-other", "windowfocus", "--sync"});
        return place;
    }
    std::vector<std::string> otherWindowKeys(std::size_t least,
                                             std::chrono::milliseconds limit) override {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto keys = velmora::matrix::xevKeys(readFile(folder_ / "xev.log").value_or(""));
            if (keys.size() >= least || std::chrono::steady_clock::now() > until)
                return keys;
            std::this_thread::sleep_for(20ms);
        }
    }
    void closeOtherWindow() override { other_.stop(); }

private:
    static fs::path record(const fs::path& app, std::size_t item) {
        return app / ("item" + std::to_string(item) + ".exe.txt");
    }
    static void xdotool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "xdotool");
        if (run(arguments).exitCode != 0)
            throw std::runtime_error("xdotool failed: " + arguments[1]);
    }

    fs::path folder_;
    std::size_t count_ = 0;
    std::optional<Launcher> launcher_;
    Child other_;
};

} // namespace

namespace velmora::matrix {
namespace {
MATRIX_DISPLAY(Wine);
} // namespace

std::unique_ptr<DisplayDriver> makeDriver(DisplayId display) {
    if (display != DisplayId::Wine)
        throw std::logic_error("the Linux displays are played by the Linux matrix program");
    return std::make_unique<WineDriver>();
}
} // namespace velmora::matrix

namespace {} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::map<std::string, std::string> options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos)
            options[arg.substr(2, equals - 2)] = arg.substr(equals + 1);
    }
    settings.wineRun = options["wine-run"];
    settings.winePrefix = options["wineprefix"];
    settings.launcher = options["launcher"];
    settings.recorder = options["recorder"];
    settings.starter = options["starter"];
    if (!options["screen"].empty())
        settings.screen = options["screen"];
    if (!options["log-pixels"].empty())
        settings.logPixels = std::atoi(options["log-pixels"].c_str());
    for (const fs::path& file :
         {fs::path(settings.wineRun), settings.launcher, settings.recorder, settings.starter}) {
        if (file.empty() || !fs::exists(file)) {
            std::fprintf(stderr, "missing or unreadable: '%s' (see the usage at the top)\n",
                         file.c_str());
            return 2;
        }
    }
    ::testing::AddGlobalTestEnvironment(new XServer);
    return RUN_ALL_TESTS();
}
