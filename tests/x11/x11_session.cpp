#include "x11_session.h"
#include "tests/support/spawn_args.h"
#include "tests/support/x11_events.h"

#include "platform/file_descriptor.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include <spawn.h>

extern char** environ;

namespace velmora::x11test {

using test::pointers;

namespace {

using Clock = std::chrono::steady_clock;

using Fd = FileDescriptor;

std::pair<Fd, Fd> makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    return {Fd(ends[0]), Fd(ends[1])};
}

// Reads from `fd` until end of file or until `stop` says the text is enough.
template <typename Stop> std::string readUntil(int fd, std::chrono::milliseconds limit, Stop stop) {
    std::string text;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || stop(text))
            return text;
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return text;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = std::exchange(other.pid_, -1);
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    stop();
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit) {
    if (pid_ < 0)
        return std::nullopt;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 && errno != EINTR) {
            pid_ = -1;
            return std::nullopt;
        }
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ChildProcess::stop() {
    if (pid_ < 0)
        return;
    ::kill(pid_, SIGTERM);
    ::kill(pid_, SIGCONT); // a stopped process holds the first signal until then
    if (wait(std::chrono::seconds(5)))
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::vector<std::string> environmentWithDisplay(const std::string& display) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "DISPLAY=", 8) != 0)
            environment.emplace_back(*entry);
    }
    environment.push_back("DISPLAY=" + display);
    return environment;
}

ChildProcess spawnProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment, int output, int errors,
                          bool newSession) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    if (errors >= 0)
        posix_spawn_file_actions_adddup2(&actions, errors, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (newSession)
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::vector<std::string> args = argv;
    std::vector<std::string> env = environment;
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, args[0].c_str(), &actions, &attributes,
                                   pointers(args).data(), pointers(env).data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    return ChildProcess(pid);
}

ProgramResult runProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    auto [readEnd, writeEnd] = makePipe();
    ChildProcess child = spawnProcess(argv, environment, writeEnd.get());
    writeEnd.reset();
    ProgramResult result;
    result.output = readUntil(readEnd.get(), std::chrono::seconds(30),
                              [](const std::string&) { return false; });
    const auto status = child.wait(std::chrono::seconds(30));
    if (!status)
        throw std::runtime_error(argv[0] + " did not finish");
    result.exitStatus = *status;
    return result;
}

XvfbServer::XvfbServer(int width, int height, bool ownGroup) {
    // -displayfd has the server take the first free display number itself and
    // write it to the given descriptor once it accepts connections.
    auto [readEnd, writeEnd] = makePipe();
    const int childEnd = 3;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), childEnd);
    std::vector<std::string> args{
        "Xvfb",      "-displayfd", std::to_string(childEnd),
        "-screen",   "0",          std::to_string(width) + "x" + std::to_string(height) + "x24",
        "-nolisten", "tcp",        "-noreset"};
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry)
        env.emplace_back(*entry);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    }
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, "Xvfb", &actions, &attributes, pointers(args).data(),
                                   pointers(env).data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error(std::string("cannot start Xvfb (install the xvfb package): ") +
                                 std::strerror(error));
    process_ = ChildProcess(pid);
    writeEnd.reset();
    const std::string number =
        readUntil(readEnd.get(), std::chrono::seconds(30),
                  [](const std::string& text) { return text.find('\n') != std::string::npos; });
    if (number.empty() || number.find('\n') == std::string::npos)
        throw std::runtime_error("Xvfb did not report a display number");
    display_ = ":" + number.substr(0, number.find('\n'));
}

XvfbServer::~XvfbServer() {
    process_.stop();
    clearLeftSocket();
}

void XvfbServer::signal(int number) const {
    ::kill(process_.pid(), number);
}

void XvfbServer::vanish() {
    signal(SIGKILL);
    static_cast<void>(process_.wait(std::chrono::seconds(30)));
    clearLeftSocket();
}

void XvfbServer::clearLeftSocket() const {
    if (display_.empty())
        return;
    const std::string path = "/tmp/.X11-unix/X" + display_.substr(1);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const FileDescriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (probe.get() >= 0 &&
        ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED)
        ::unlink(path.c_str());
}

XWatcher::XWatcher(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    if (display_ == nullptr)
        throw std::runtime_error("cannot connect to " + display);
    const Window root = DefaultRootWindow(display_);
    XSelectInput(display_, root, SubstructureNotifyMask);
    // A desktop colour, so that screenshots show the menu against something.
    XSetWindowBackground(display_, root, 0x3A6EA5);
    XClearWindow(display_, root);
    XSync(display_, False);
}

bool XWatcher::grabKeyboard() {
    const int result = XGrabKeyboard(display_, DefaultRootWindow(display_), False, GrabModeAsync,
                                     GrabModeAsync, CurrentTime);
    XSync(display_, False);
    return result == GrabSuccess;
}

void XWatcher::ungrabKeyboard() {
    XUngrabKeyboard(display_, CurrentTime);
    XSync(display_, False);
}

void XWatcher::setResources(const std::string& text) {
    XChangeProperty(display_, DefaultRootWindow(display_), XA_RESOURCE_MANAGER, XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<int>(text.size()));
    XSync(display_, False);
}

bool XWatcher::addPrimaryMonitor(int left, int top, int width, int height) {
    const Window root = DefaultRootWindow(display_);
    XRRMonitorInfo* monitor = XRRAllocateMonitor(display_, 0);
    if (monitor == nullptr)
        return false;
    monitor->name = XInternAtom(display_, "VELMORA-TEST", False);
    monitor->primary = True;
    monitor->automatic = False;
    monitor->x = left;
    monitor->y = top;
    monitor->width = width;
    monitor->height = height;
    monitor->mwidth = width / 4;
    monitor->mheight = height / 4;
    XRRSetMonitor(display_, root, monitor);
    XRRFreeMonitors(monitor);
    XSync(display_, False);
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display_, root, True, &count);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& m = monitors[i];
        found = found ||
                (m.primary && m.x == left && m.y == top && m.width == width && m.height == height);
    }
    XRRFreeMonitors(monitors);
    return found;
}

XWatcher::~XWatcher() {
    XCloseDisplay(display_);
}

Window XWatcher::waitForPopup(std::chrono::milliseconds limit) {
    XEvent event;
    if (test::nextXEvent(display_, Clock::now() + limit, event, [](const XEvent& e) {
            return e.type == MapNotify && e.xmap.override_redirect;
        }))
        return event.xmap.window;
    return None;
}

bool XWatcher::waitForGone(Window window, std::chrono::milliseconds limit) {
    XEvent event;
    return test::nextXEvent(display_, Clock::now() + limit, event, [window](const XEvent& e) {
        return (e.type == UnmapNotify && e.xunmap.window == window) ||
               (e.type == DestroyNotify && e.xdestroywindow.window == window);
    });
}

Geometry windowGeometry(const std::string& display, Window window) {
    const ProgramResult result =
        runProgram({"xwininfo", "-display", display, "-id", std::to_string(window)},
                   environmentWithDisplay(display));
    if (result.exitStatus != 0)
        throw std::runtime_error("xwininfo failed (install x11-utils)");
    Geometry geometry;
    std::istringstream lines(result.output);
    std::string line;
    auto field = [&line](const char* name, int& value) {
        const auto at = line.find(name);
        if (at != std::string::npos)
            value = std::atoi(line.c_str() + at + std::strlen(name));
    };
    while (std::getline(lines, line)) {
        field("Absolute upper-left X:", geometry.left);
        field("Absolute upper-left Y:", geometry.top);
        field("Width:", geometry.width);
        field("Height:", geometry.height);
    }
    return geometry;
}

void xdotool(const std::string& display, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const ProgramResult result = runProgram(argv, environmentWithDisplay(display));
    if (result.exitStatus != 0)
        throw std::runtime_error("xdotool failed (install xdotool)");
}

void saveScreenshot(const std::string& display, const std::filesystem::path& file) {
    std::filesystem::create_directories(file.parent_path());
    const ProgramResult result =
        runProgram({"import", "-display", display, "-window", "root", file.string()},
                   environmentWithDisplay(display));
    if (result.exitStatus != 0)
        throw std::runtime_error("import failed (install imagemagick)");
}

} // namespace velmora::x11test
