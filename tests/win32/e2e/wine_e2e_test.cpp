// The Windows launcher end to end, as its users meet it: the real
// velmora.exe under Wine on an Xvfb server of this test program's own, in
// a temporary folder, picked and dismissed with the pointer and the keyboard
// through xdotool.
//
//   velmora_wine_e2e --wine-run=<wine-run.sh> --wineprefix=<prefix>
//                    --launcher=<velmora.exe> --recorder=<velmora_recorder.exe>
//                    --starter=<velmora_starter.exe> [gtest options]
//
// The launcher is started through the starter, so that its command-line
// text is exactly what the test wrote; the recorder stands for a launched
// program and writes down the command line it was given.
#include "tests/support/default_file_bytes.h"

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

namespace {

struct Settings {
    std::string wineRun;
    std::string winePrefix;
    fs::path launcher;
    fs::path recorder;
    fs::path starter;
};
Settings settings;

// Waits on the outside world end after this long at most, so that a fault
// shows as a failure rather than a hang. Nothing is asserted about speed.
constexpr auto PATIENCE = 90s;

// A file descriptor, closed when dropped.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

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
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
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

// An Xvfb server on a display number that it chose itself as free; stopped
// by its process id.
class XServer : public ::testing::Environment {
public:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool"}) {
            ASSERT_TRUE(onPath(tool)) << tool << " is not installed; the Wine end-to-end tests "
                                      << "need it (apt-get install xvfb xdotool)";
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
                         "1024x768x24", "-nolisten", "tcp"},
                        -1);
        writeEnd.reset();
        std::string number;
        char c = 0;
        while (::read(readEnd.get(), &c, 1) == 1 && c != '\n')
            number.push_back(c);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        display_ = ":" + number;
        ::setenv("DISPLAY", display_.c_str(), 1);
        stopWine();
    }
    void TearDown() override {
        stopWine();
        server_.stop();
    }

private:
    Child server_;
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

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// True when a running process names `text` on its command line (Wine shows
// a Windows program's command line there).
bool anyProcessMentions(const std::string& text) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string commandLine = readFile(entry.path() / "cmdline");
        for (char& c : commandLine) {
            if (c == '\0')
                c = ' ';
        }
        if (commandLine.find(text) != std::string::npos)
            return true;
    }
    return false;
}

// A new folder under the system's temporary folder, removed when dropped.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "velmora-wine-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

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

Rect geometry(const std::string& window) {
    const Result shown = run({"xdotool", "getwindowgeometry", "--shell", window});
    std::map<std::string, int> values;
    std::stringstream lines(shown.output);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
    }
    return Rect{values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]};
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
            const Rect rect = geometry(window);
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

// Dismisses the menu the way a user does: a click outside it.
void clickOutside(const Rect& menu) {
    click(menu.x + menu.width + 300, menu.y + menu.height + 300);
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
    RunFolder folder;
    writeFile(folder.ini(), recorderConfig(folder));
    const std::string arguments = GetParam();
    Launcher launcher(folder.launcher, arguments);
    const auto menu = waitForMenu(launcher.process());
    ASSERT_TRUE(menu);

    // The middle of the three items.
    click(menu->x + menu->width / 2, menu->y + menu->height / 2);
    EXPECT_EQ(launcher.process().wait(), 0);

    const fs::path record = folder.record(RECORDERS[1]);
    const auto until = std::chrono::steady_clock::now() + PATIENCE;
    while (!fs::exists(record) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(fs::exists(record)) << "the second item's program was not started";
    EXPECT_EQ(readFile(record), arguments);
    EXPECT_FALSE(fs::exists(folder.record(RECORDERS[0])));
    EXPECT_FALSE(fs::exists(folder.record(RECORDERS[2])));
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Pick,
                         ::testing::Values("", "one", "a \"b c\" d",
                                           "\"quoted \\\"inner\\\" text\"  two  blanks  ",
                                           "\xE6\x97\xA5\xE6\x9C\xAC \"\xE3\x83\xA1 x\" /flag:1"));

// Keys typed while the menu is open; the pointer rests on the menu's border,
// over no item, so that the keys reach the menu and nothing is highlighted
// before them.
struct KeyCase {
    const char* name;
    std::vector<std::string> keys;
    int picked; // index into RECORDERS, or -1 for none
};

class Keyboard : public ::testing::TestWithParam<KeyCase> {};

TEST_P(Keyboard, PicksOrDismissesTheMenu) {
    RunFolder folder;
    writeFile(folder.ini(), recorderConfig(folder));
    Launcher launcher(folder.launcher, "typed \"pick\"");
    const auto menu = waitForMenu(launcher.process());
    ASSERT_TRUE(menu);

    ASSERT_EQ(
        run({"xdotool", "mousemove", std::to_string(menu->x + 1), std::to_string(menu->y + 1)})
            .exitCode,
        0);
    std::vector<std::string> command = {"xdotool", "key", "--delay", "100"};
    command.insert(command.end(), GetParam().keys.begin(), GetParam().keys.end());
    ASSERT_EQ(run(command).exitCode, 0);
    EXPECT_EQ(launcher.process().wait(), 0);

    if (GetParam().picked < 0) {
        EXPECT_FALSE(anyRecord(folder));
        EXPECT_FALSE(anyProcessMentions(folder.folder.path().filename().string()));
        return;
    }
    const fs::path record = folder.record(RECORDERS[GetParam().picked]);
    const auto until = std::chrono::steady_clock::now() + PATIENCE;
    while (!fs::exists(record) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(fs::exists(record)) << "the picked item's program was not started";
    EXPECT_EQ(readFile(record), "typed \"pick\"");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Keyboard,
    ::testing::Values(KeyCase{"DownReturnPicksTheFirst", {"Down", "Return"}, 0},
                      KeyCase{"DownDownReturnPicksTheSecond", {"Down", "Down", "Return"}, 1},
                      KeyCase{"EscapeDismisses", {"Escape"}, -1},
                      KeyCase{"EscapeAfterMovingDismisses", {"Down", "Down", "Escape"}, -1}),
    [](const ::testing::TestParamInfo<KeyCase>& param) { return param.param.name; });

TEST(WineLauncher, DismissingTheMenuLaunchesNothing) {
    RunFolder folder;
    writeFile(folder.ini(), recorderConfig(folder));
    Launcher launcher(folder.launcher, "some arguments");
    const auto menu = waitForMenu(launcher.process());
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

} // namespace

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
