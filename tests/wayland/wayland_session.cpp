#include "wayland_session.h"

#include "tests/support/x_display_locks.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velmora::wltest {

using test::parsePpm;
using test::waitFor;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// This process's environment without what names a display or a compositor.
std::vector<std::string> cleanEnvironment() {
    static const char* const dropped[] = {"DISPLAY=",  "WAYLAND_DISPLAY=", "WAYLAND_SOCKET=",
                                          "SWAYSOCK=", "XDG_RUNTIME_DIR=", "I3SOCK="};
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        bool keep = true;
        for (const char* prefix : dropped)
            keep = keep && std::strncmp(*entry, prefix, std::strlen(prefix)) != 0;
        if (keep)
            environment.emplace_back(*entry);
    }
    return environment;
}

// The first entry of `folder` whose name starts with `prefix` and does not
// end with `unwanted`, or "".
std::string findEntry(const fs::path& folder, const std::string& prefix,
                      const std::string& unwanted = "\x01") {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 &&
            (name.size() < unwanted.size() ||
             name.compare(name.size() - unwanted.size(), unwanted.size(), unwanted) != 0))
            return name;
    }
    return "";
}

} // namespace

ProgramResult run(const std::vector<std::string>& argv,
                  const std::vector<std::string>& environment) {
    return x11test::runProgram(argv, environment);
}

std::unique_ptr<Compositor> Compositor::sway(const fs::path& folder, int width, int height,
                                             int scale, bool keyboard) {
    std::unique_ptr<Compositor> c(new Compositor);
    c->runtime_ = folder / "runtime";
    fs::create_directories(c->runtime_);
    fs::permissions(c->runtime_, fs::perms::owner_all);
    giveToUser(c->runtime_);
    const fs::path config = folder / "sway.config";
    {
        std::ofstream out(config);
        out << "xwayland disable\n"
            << "output * resolution " << width * scale << "x" << height * scale << " scale "
            << scale << "\n"
            << "focus_follows_mouse no\n";
    }
    auto environment = cleanEnvironment();
    environment.push_back("XDG_RUNTIME_DIR=" + c->runtime_.string());
    environment.push_back("HOME=" + folder.string());
    environment.push_back("WLR_BACKENDS=headless");
    environment.push_back("WLR_RENDERER=pixman");
    environment.push_back("WLR_LIBINPUT_NO_DEVICES=1");
    const int log =
        ::open((folder / "sway.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    try {
        c->process_ =
            x11test::spawnProcess(asUser({"sway", "-c", config.string()}), environment, log, log);
    } catch (...) {
        ::close(log);
        throw;
    }
    ::close(log);
    const bool up = waitFor(
        [&] {
            c->socket_ = findEntry(c->runtime_, "wayland-", ".lock");
            const std::string ipc = findEntry(c->runtime_, "sway-ipc.");
            if (!ipc.empty())
                c->swaySocket_ = (c->runtime_ / ipc).string();
            return !c->socket_.empty() && !c->swaySocket_.empty();
        },
        30s);
    if (!up || c->process_.wait(0ms))
        throw std::runtime_error("headless sway did not start: " +
                                 test::readText(folder / "sway.log"));
    // Ready once a screenshot shows the output at its configured size.
    const bool shown = waitFor(
        [&] {
            try {
                const Image shot = c->screenshot();
                return shot.width == width * scale && shot.height == height * scale;
            } catch (const std::exception&) {
                return false;
            }
        },
        30s);
    if (!shown)
        throw std::runtime_error("headless sway's output never showed at " + std::to_string(width) +
                                 "x" + std::to_string(height) + " scale " + std::to_string(scale));
    if (keyboard)
        c->plugKeyboard();
    return c;
}

std::unique_ptr<Compositor> Compositor::weston(const fs::path& folder, int width, int height,
                                               bool xwayland, const std::string& xHost) {
    std::unique_ptr<Compositor> c(new Compositor);
    c->runtime_ = folder / "runtime";
    fs::create_directories(c->runtime_);
    fs::permissions(c->runtime_, fs::perms::owner_all);
    giveToUser(c->runtime_);
    c->socket_ = "wayland-velmora";
    const fs::path log = folder / "weston.log";
    { std::ofstream touch(log); }
    giveToUser(log);
    auto environment = cleanEnvironment();
    environment.push_back("XDG_RUNTIME_DIR=" + c->runtime_.string());
    environment.push_back("HOME=" + folder.string());
    std::vector<std::string> argv{"weston",
                                  "--backend=headless-backend.so",
                                  "--socket=" + c->socket_,
                                  "--width=" + std::to_string(width),
                                  "--height=" + std::to_string(height),
                                  "--idle-time=0",
                                  "--log=" + log.string()};
    if (xwayland)
        argv.push_back("--xwayland");
    if (!xHost.empty()) {
        argv[1] = "--backend=x11-backend.so";
        argv.push_back("--use-pixman");
        environment.push_back("DISPLAY=" + xHost);
    }
    // Weston gives its Xwayland up when the first X display whose abstract
    // socket is free still has a socket file it may not replace (an X
    // server of another test starting or ending at that moment): it is
    // started again then, a few times.
    for (int attempt = 1;; ++attempt) {
        c->process_ = x11test::spawnProcess(asUser(argv), environment);
        const bool up = waitFor([&] { return fs::exists(c->runtime_ / c->socket_); }, 30s);
        if (!up || c->process_.wait(0ms))
            throw std::runtime_error("headless Weston did not start: " + test::readText(log));
        if (!xwayland)
            return c;
        // Weston takes the X display itself: its lock file holds Weston's
        // process id once the display's sockets are its own. (Its log, which
        // names the display too, is written late.)
        const std::string pid = std::to_string(c->process_.pid());
        const auto findDisplay = [&] {
            for (const auto& lock : test::xDisplayLocks()) {
                if (std::to_string(lock.owner) == pid)
                    return ":" + lock.number;
            }
            return std::string();
        };
        const bool named = waitFor([&] { return !findDisplay().empty(); }, 5s);
        std::this_thread::sleep_for(300ms); // a lock whose socket failed is removed again
        c->xDisplay_ = findDisplay();
        if (named && !c->xDisplay_.empty())
            return c;
        c->process_.stop();
        fs::remove(c->runtime_ / c->socket_);
        if (attempt == 3)
            throw std::runtime_error("Weston's Xwayland did not start: " + test::readText(log));
    }
}

Compositor::~Compositor() {
    keyboard_.stop();
    pointer_.stop();
    process_.stop();
}

std::vector<std::string> Compositor::clientEnvironment(bool withX) const {
    auto environment = cleanEnvironment();
    environment.push_back("XDG_RUNTIME_DIR=" + runtime_.string());
    environment.push_back("WAYLAND_DISPLAY=" + socket_);
    if (!swaySocket_.empty())
        environment.push_back("SWAYSOCK=" + swaySocket_);
    if (withX && !xDisplay_.empty())
        environment.push_back("DISPLAY=" + xDisplay_);
    return environment;
}

Image Compositor::screenshot() const {
    const ProgramResult result = run({"grim", "-t", "ppm", "-"}, clientEnvironment());
    if (result.exitStatus != 0)
        throw std::runtime_error("grim failed");
    return parsePpm(result.output);
}

// A seat without a keyboard (headless sway's) gains one only when wtype
// creates its virtual keyboard, and loses it when wtype ends: a client learns
// of it, and can ask for its keys, only a round trip later, and wtype may by
// then have typed everything and gone (no client can see those keys). A
// user's seat has its keyboard all along; so has this one: a virtual
// keyboard that wtype keeps while it sleeps, plugged in before any test.
void Compositor::plugKeyboard() {
    keyboard_ = x11test::spawnProcess({"wtype", "-s", "86400000"}, clientEnvironment());
    const bool plugged = waitFor(
        [&] {
            return swaymsg({"-t", "get_inputs"}).find("\"keyboard\"") != std::string::npos;
        },
        10s);
    if (!plugged)
        throw std::runtime_error("the keyboard could not be plugged in");
}

void Compositor::type(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{"wtype"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (run(argv, clientEnvironment()).exitStatus != 0)
        throw std::runtime_error("wtype failed");
}

void Compositor::plugPointer() {
    const auto [readEnd, writeEnd] = [] {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        return std::pair<int, int>(ends[0], ends[1]);
    }();
    pointer_ = x11test::spawnProcess({VELMORA_POINTER_DEVICE}, clientEnvironment(), writeEnd);
    ::close(writeEnd);
    std::string output;
    pollfd wait{readEnd, POLLIN, 0};
    while (output.find("ready") == std::string::npos && ::poll(&wait, 1, 10000) > 0) {
        char buffer[64];
        const ssize_t n = ::read(readEnd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(readEnd);
    if (output.find("ready") == std::string::npos)
        throw std::runtime_error("the pointer device could not be plugged in");
}

std::string Compositor::swaymsg(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{"swaymsg", "-s", swaySocket_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ProgramResult result = run(argv, clientEnvironment());
    if (result.exitStatus != 0)
        throw std::runtime_error("swaymsg failed");
    return std::move(result.output);
}

void Compositor::movePointer(int x, int y) const {
    swaymsg({"seat", "seat0", "cursor", "set", std::to_string(x), std::to_string(y)});
}

void Compositor::click(const std::string& button) const {
    swaymsg({"seat", "seat0", "cursor", "press", button});
    swaymsg({"seat", "seat0", "cursor", "release", button});
}

void Compositor::wheel(bool down) const {
    swaymsg({"seat", "seat0", "cursor", "press", down ? "button5" : "button4"});
}

void Compositor::addOutputToTheRight(int width, int height, int scale) const {
    swaymsg({"create_output"});
    swaymsg({"output", "HEADLESS-1", "position", "0", "0"});
    swaymsg({"output", "HEADLESS-2", "resolution",
             std::to_string(width * scale) + "x" + std::to_string(height * scale), "scale",
             std::to_string(scale), "position", std::to_string(width), "0"});
    swaymsg({"focus", "output", "HEADLESS-2"});
}

void Compositor::rescale(int width, int height, int scale) const {
    swaymsg({"output", "HEADLESS-1", "resolution",
             std::to_string(width * scale) + "x" + std::to_string(height * scale), "scale",
             std::to_string(scale)});
}

void Compositor::kill() {
    if (process_.pid() > 0)
        ::kill(process_.pid(), SIGKILL);
    process_.wait(10s);
}

} // namespace velmora::wltest
