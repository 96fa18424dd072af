#include "desktop_session.h"

#include "tests/support/test_files.h"
#include "tests/support/test_user.h"
#include "tests/support/x_display_locks.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velmora::desktops {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::giveToUser;
using test::parsePpm;
using test::runningAsRoot;
using test::waitFor;

namespace {

constexpr const char* SOCKET = "wayland-velmora";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// This process's environment without what names a display, a bus or a
// session (an activation token is the outer desktop's); as root also
// without root's own PATH, whose folders the user may not enter.
std::vector<std::string> baseEnvironment() {
    static const char* const dropped[] = {"DISPLAY=",
                                          "WAYLAND_DISPLAY=",
                                          "WAYLAND_SOCKET=",
                                          "XDG_RUNTIME_DIR=",
                                          "DBUS_SESSION_BUS_ADDRESS=",
                                          "DBUS_SYSTEM_BUS_ADDRESS=",
                                          "XAUTHORITY=",
                                          "SWAYSOCK=",
                                          "I3SOCK=",
                                          "HOME=",
                                          "XDG_SESSION_TYPE=",
                                          "XDG_CURRENT_DESKTOP=",
                                          "XDG_ACTIVATION_TOKEN=",
                                          "DESKTOP_STARTUP_ID="};
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        bool keep = !(runningAsRoot() && startsWith(*entry, "PATH="));
        for (const char* prefix : dropped)
            keep = keep && !startsWith(*entry, prefix);
        if (keep)
            environment.emplace_back(*entry);
    }
    if (runningAsRoot())
        environment.emplace_back("PATH=/usr/local/bin:/usr/bin:/bin");
    return environment;
}

// The environment entries of process `pid` ("" when it cannot be read).
std::string environmentOf(const std::string& pid) {
    return test::readText(fs::path("/proc") / pid / "environ");
}

bool inSession(const std::string& pid, const std::string& runtimeEntry) {
    const std::string entries = environmentOf(pid);
    for (std::size_t at = 0; at < entries.size();) {
        const std::size_t end = std::min(entries.find('\0', at), entries.size());
        if (entries.compare(at, end - at, runtimeEntry) == 0)
            return true;
        at = end + 1;
    }
    return false;
}

fs::path findProgram(const std::string& name) {
    std::istringstream path(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin");
    for (std::string folder; std::getline(path, folder, ':');) {
        const fs::path candidate = fs::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    throw std::runtime_error(name + " is not installed");
}

std::pair<FileDescriptor, FileDescriptor> makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    return {FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

// Starts `argv` with its standard input and output on pipes, its errors
// into `errors`.
ChildProcess spawnPiped(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment, int input, int output,
                        int errors) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, errors, 2);
    std::vector<std::string> args = argv;
    std::vector<std::string> env = environment;
    std::vector<char*> argp;
    for (auto& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    return ChildProcess(pid);
}

// A private system bus: the shell asks it for logind, accounts and the
// like, and goes on without them, but not without a bus to ask.
void writeSystemBusConfig(const fs::path& file, const fs::path& socket) {
    std::ofstream out(file);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>system</type>\n  <listen>unix:path="
        << socket.string()
        << "</listen>\n  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
           "  </policy>\n</busconfig>\n";
}

std::string number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

using Steps = std::vector<std::vector<std::string>>;

// The scale of mutter's virtual monitor, as GNOME's display settings save
// it for the user ("Meta-0" is the virtual monitor as mutter names it).
void writeMonitorConfig(const fs::path& home, int width, int height, int scale) {
    const fs::path folder = home / ".config";
    fs::create_directories(folder);
    {
        std::ofstream out(folder / "monitors.xml");
        out << "<monitors version=\"2\">\n  <configuration>\n    <logicalmonitor>\n"
            << "      <x>0</x>\n      <y>0</y>\n      <scale>" << scale << "</scale>\n"
            << "      <primary>yes</primary>\n      <monitor>\n        <monitorspec>\n"
            << "          <connector>Meta-0</connector>\n          <vendor>MetaVendor</vendor>\n"
            << "          <product>MetaVirtualMonitor</product>\n"
            << "          <serial>0x00</serial>\n        </monitorspec>\n        <mode>\n"
            << "          <width>" << width << "</width>\n          <height>" << height
            << "</height>\n          <rate>60.000</rate>\n        </mode>\n      </monitor>\n"
            << "    </logicalmonitor>\n  </configuration>\n</monitors>\n";
    }
    giveToUser(folder);
    giveToUser(folder / "monitors.xml");
}

// KWin's own steps after the session bus, the compositor last; adds what it needs to `environment`.
Steps kwinSteps(const fs::path& folder, int width, int height, double scale,
                std::vector<std::string>& environment) {
    // Debian's kwin_wayland carries the file capability CAP_SYS_RESOURCE,
    // which a process started by setpriv may not take: exec then fails.
    // A copy has no capabilities.
    const fs::path kwin = folder / "kwin_wayland";
    fs::copy_file(findProgram("kwin_wayland"), kwin);
    environment.push_back("KWIN_WAYLAND_NO_PERMISSION_CHECKS=1");
    environment.push_back("KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1");
    return {{kwin.string(), "--virtual", "--width", std::to_string(width), "--height",
             std::to_string(height), "--scale", number(scale), "--xwayland", "--socket", SOCKET,
             "--no-lockscreen"}};
}

// GNOME's own steps after the session bus: a system bus, then the shell.
Steps gnomeSteps(const fs::path& folder, int width, int height, double scale,
                 std::vector<std::string>& environment) {
    const int whole = static_cast<int>(scale);
    if (whole != scale || whole < 1)
        throw std::runtime_error("GNOME sessions run at whole scales only");
    const fs::path config = folder / "system-bus.conf";
    const fs::path systemBus = folder / "runtime" / "system_bus_socket";
    writeSystemBusConfig(config, systemBus);
    environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + systemBus.string());
    // Without GDM the shell has no lock screen and says so in a banner
    // across the top at a user's first login only; this user has logged in
    // before.
    const fs::path home = folder / "home";
    const fs::path shellData = home / ".local/share/gnome-shell";
    fs::create_directories(shellData);
    { std::ofstream shown(shellData / "lock-warning-shown"); }
    for (const fs::path& p :
         {home / ".local", home / ".local/share", shellData, shellData / "lock-warning-shown"})
        giveToUser(p);
    writeMonitorConfig(home, width * whole, height * whole, whole);
    return {{"dbus-daemon", "--config-file=" + config.string(), "--fork", "--nopidfile"},
            {"gnome-shell", "--headless", "--wayland", "--wayland-display", SOCKET,
             "--virtual-monitor",
             std::to_string(width * whole) + "x" + std::to_string(height * whole)}};
}

} // namespace

const char* kindName(DesktopKind kind) {
    return kind == DesktopKind::KWin ? "kwin" : "gnome";
}

std::vector<std::string> RecorderWindow::events() const {
    std::vector<std::string> lines;
    std::istringstream text(test::readText(log_));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

bool RecorderWindow::waitFor(const std::string& line, std::chrono::milliseconds limit) const {
    return desktops::waitFor(
        [&] {
            for (const auto& event : events())
                if (event == line)
                    return true;
            return false;
        },
        limit);
}

std::vector<std::string> RecorderWindow::keys() const {
    std::vector<std::string> names;
    for (const auto& event : events())
        if (startsWith(event, "key "))
            names.push_back(event.substr(4));
    return names;
}

namespace {
// gnome-shell 43, ended by SIGTERM, leaves the lock and socket files of the
// X displays it took behind (their locks name its process, gone by then);
// Weston 10's Xwayland, started next, takes such a lock as stale but then
// gives up at the socket file. An X server clears a stale display of its
// own as it starts; a session clears the ones it left, those locked since
// `since` by a process that is gone.
void removeStaleXDisplays(fs::file_time_type since) {
    std::error_code error;
    for (const auto& lock : test::xDisplayLocks()) {
        const auto written = fs::last_write_time(lock.file, error);
        if (error || written < since || lock.owner <= 0 ||
            ::kill(static_cast<pid_t>(lock.owner), 0) == 0 || errno != ESRCH)
            continue;
        fs::remove("/tmp/.X11-unix/X" + lock.number, error);
        fs::remove(lock.file, error);
    }
}
} // namespace

std::unique_ptr<DesktopSession> DesktopSession::start(DesktopKind kind, const fs::path& folder,
                                                      int width, int height, double scale) {
    std::unique_ptr<DesktopSession> s(new DesktopSession);
    s->kind_ = kind;
    s->folder_ = folder;
    s->runtime_ = folder / "runtime";
    s->socket_ = SOCKET;
    const fs::path home = folder / "home";
    fs::create_directories(s->runtime_);
    fs::create_directories(home);
    fs::permissions(s->runtime_, fs::perms::owner_all);
    giveToUser(folder);
    giveToUser(s->runtime_);
    giveToUser(home);

    auto environment = baseEnvironment();
    environment.push_back("HOME=" + home.string());
    environment.push_back("XDG_RUNTIME_DIR=" + s->runtime_.string());
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (s->runtime_ / "bus").string());
    // The session bus at $XDG_RUNTIME_DIR/bus, where a user's login session
    // has it; --fork returns once it takes connections.
    Steps steps{{"dbus-daemon", "--session",
                 "--address=unix:path=" + (s->runtime_ / "bus").string(), "--fork", "--nopidfile"}};
    const Steps desktop = kind == DesktopKind::KWin
                              ? kwinSteps(folder, width, height, scale, environment)
                              : gnomeSteps(folder, width, height, scale, environment);
    steps.insert(steps.end(), desktop.begin(), desktop.end());
    s->started_ = fs::file_time_type::clock::now();
    const auto started = Clock::now();
    s->launch(steps, environment);
    s->connectDriver(width, height);
    s->findXDisplay();
    s->startupTime_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    return s;
}

void DesktopSession::launch(const std::vector<std::vector<std::string>>& steps,
                            const std::vector<std::string>& environment) {
    std::vector<std::string> argv{VELMORA_DESKTOP_LAUNCHER};
    for (const auto& step : steps) {
        if (argv.size() > 1)
            argv.emplace_back(";");
        const auto user = asUser(step);
        argv.insert(argv.end(), user.begin(), user.end());
    }
    const FileDescriptor log(
        ::open((folder_ / "desktop.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    launcher_ = x11test::spawnProcess(argv, environment, log.get(), log.get());
    const bool up = waitFor(
        [&] { return fs::exists(runtime_ / socket_) || launcher_.wait(0ms).has_value(); }, 60s);
    if (!up || !fs::exists(runtime_ / socket_))
        throw std::runtime_error(std::string(kindName(kind_)) + " did not start:\n" +
                                 test::readText(folder_ / "desktop.log"));
}

void DesktopSession::connectDriver(int width, int height) {
    auto [inRead, inWrite] = makePipe();
    auto [outRead, outWrite] = makePipe();
    const FileDescriptor log(
        ::open((folder_ / "driver.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    driver_ = spawnPiped(asUser({VELMORA_DESKTOP_DRIVER, kindName(kind_), std::to_string(width),
                                 std::to_string(height)}),
                         clientEnvironment(), inRead.get(), outWrite.get(), log.get());
    driverIn_ = std::move(inWrite);
    driverOut_ = std::move(outRead);
    const std::string answer = readLine(60s);
    if (answer != "ready")
        throw std::runtime_error(std::string(kindName(kind_)) + " takes no input: " + answer +
                                 test::readText(folder_ / "driver.log") + "\n" +
                                 test::readText(folder_ / "desktop.log"));
}

void DesktopSession::findXDisplay() {
    // Xwayland's display is the one whose lock file names a process of
    // this session (the compositor, or Xwayland itself).
    const std::string runtimeEntry = "XDG_RUNTIME_DIR=" + runtime_.string();
    const auto find = [&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/tmp", error)) {
            const std::string name = entry.path().filename().string();
            if (!startsWith(name, ".X") || name.size() < 8 ||
                name.compare(name.size() - 5, 5, "-lock") != 0)
                continue;
            std::istringstream text(test::readText(entry.path()));
            std::string pid;
            text >> pid;
            if (!pid.empty() && inSession(pid, runtimeEntry)) {
                xDisplay_ = ":" + name.substr(2, name.size() - 7);
                return true;
            }
        }
        return false;
    };
    if (!waitFor(find, 20s))
        throw std::runtime_error(std::string(kindName(kind_)) + " started no Xwayland:\n" +
                                 test::readText(folder_ / "desktop.log"));
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(runtime_, error)) {
        const std::string name = entry.path().filename().string();
        if (startsWith(name, ".mutter-Xwaylandauth.") || startsWith(name, "xauth_"))
            xAuthority_ = entry.path().string();
    }
}

DesktopSession::~DesktopSession() {
    stop();
}

std::vector<std::string> DesktopSession::clientEnvironment() const {
    auto environment = baseEnvironment();
    environment.push_back("HOME=" + (folder_ / "home").string());
    environment.push_back("XDG_RUNTIME_DIR=" + runtime_.string());
    environment.push_back("WAYLAND_DISPLAY=" + socket_);
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (runtime_ / "bus").string());
    environment.push_back("XDG_SESSION_TYPE=wayland");
    environment.push_back(std::string("XDG_CURRENT_DESKTOP=") +
                          (kind_ == DesktopKind::KWin ? "KDE" : "GNOME"));
    if (!xDisplay_.empty())
        environment.push_back("DISPLAY=" + xDisplay_);
    if (!xAuthority_.empty())
        environment.push_back("XAUTHORITY=" + xAuthority_);
    return environment;
}

std::vector<std::string> DesktopSession::asUser(std::vector<std::string> argv) const {
    return test::asUser(std::move(argv));
}

x11test::ProgramResult DesktopSession::runClient(const std::vector<std::string>& argv) const {
    return x11test::runProgram(asUser(argv), clientEnvironment());
}

ChildProcess DesktopSession::startClient(const std::vector<std::string>& argv, const fs::path& log,
                                         const std::vector<std::string>& extra) const {
    const FileDescriptor out(::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    auto environment = clientEnvironment();
    environment.insert(environment.end(), extra.begin(), extra.end());
    return x11test::spawnProcess(asUser(argv), environment, out.get(), out.get());
}

std::string DesktopSession::readLine(std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd wait{driverOut_.get(), POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&wait, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[4096];
        const ssize_t n = ready > 0 ? ::read(driverOut_.get(), buffer, sizeof buffer) : 0;
        if (n <= 0)
            return "(no answer from the driver)";
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string DesktopSession::command(const std::string& line) const {
    const std::string text = line + "\n";
    if (!writeAll(driverIn_.get(), text.data(), text.size()))
        throw std::runtime_error("the driver is gone");
    const std::string answer = readLine(30s);
    if (answer != "ok")
        throw std::runtime_error(line + ": " + answer);
    return answer;
}

void DesktopSession::key(const std::string& keysym) const {
    command("key " + keysym);
}

void DesktopSession::keyDown(const std::string& keysym) const {
    command("down " + keysym);
}

void DesktopSession::keyUp(const std::string& keysym) const {
    command("up " + keysym);
}

void DesktopSession::type(const std::string& text) const {
    command("text " + text);
}

void DesktopSession::movePointer(int x, int y) const {
    command("move " + std::to_string(x) + " " + std::to_string(y));
}

void DesktopSession::click(int button) const {
    command("click " + std::to_string(button));
}

Image DesktopSession::screenshot() const {
    const fs::path file = runtime_ / "screenshot.ppm";
    command("screenshot " + file.string());
    Image image = parsePpm(test::readText(file));
    fs::remove(file);
    return image;
}

void DesktopSession::awaitOverview(bool shown) const {
    command(std::string("overview ") + (shown ? "shown" : "hidden"));
}

std::unique_ptr<RecorderWindow> DesktopSession::openRecorder(const std::string& name) const {
    const fs::path log = folder_ / (name + ".events");
    { std::ofstream create(log); }
    giveToUser(log);
    auto window = std::make_unique<RecorderWindow>(
        startClient({VELMORA_DESKTOP_RECORDER, log.string(), name}, folder_ / (name + ".log")),
        log);
    if (!window->waitFor("focus", 10s))
        throw std::runtime_error(
            name + " never had the keyboard focus: " + test::readText(folder_ / (name + ".log")));
    // GNOME gives a new window the focus as it maps it, then animates it in
    // (about a quarter of a second): it is there once a screenshot shows it
    // whole.
    const bool shown = waitFor(
        [&] {
            const Rect bounds = screenshot().bounds(RecorderWindow::COLOR);
            return bounds.width >= RecorderWindow::WIDTH && bounds.height >= RecorderWindow::HEIGHT;
        },
        10s);
    if (!shown)
        throw std::runtime_error(name + " never showed on the screen");
    return window;
}

void DesktopSession::stop() {
    driverIn_.reset();
    if (!driver_.wait(5s))
        driver_.stop();
    if (launcher_.pid() > 0) {
        ::kill(launcher_.pid(), SIGTERM);
        // The launcher gives the session a grace time before it kills.
        if (!launcher_.wait(20s))
            launcher_.stop();
        removeStaleXDisplays(started_);
    }
}

std::vector<pid_t> DesktopSession::processesLeft() const {
    const std::string runtimeEntry = "XDG_RUNTIME_DIR=" + runtime_.string();
    std::vector<pid_t> left;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            inSession(name, runtimeEntry))
            left.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return left;
}

} // namespace velmora::desktops
