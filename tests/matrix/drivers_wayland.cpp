// The Wayland displays: headless sway (wtype types, swaymsg moves and
// clicks, grim sees), Weston in a window of an X server, and the desktops KWin and GNOME Shell
// (their own remote-control interfaces). The other application is the desktops suite's recorder
// window on all of them. GoogleTest (through the placement table) before the X headers.
#include <gtest/gtest.h>

#include "tests/desktops/desktop_session.h"
#include "tests/matrix/native_driver.h"
#include "tests/matrix/xdotool_driver.h"
#include "tests/support/placement_cases.h"
#include "tests/wayland/wayland_session.h"

#include <fcntl.h>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace velmora::matrix {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> launcherArgv(const fs::path& launcher,
                                      const std::vector<std::string>& arguments);

namespace {

// The menu's frame colour, by which a screenshot finds it.
constexpr std::uint32_t MENU_BORDER = 0x8C8C8C;

// The menu's frame once two screenshots in a row agree on it: the rows
// that hold a run of the frame's grey at least 40 pixels long (GNOME's
// anti-aliased clock has stray pixels of that grey).
template <class Shot> Rect waitForFrame(Shot screenshot) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    Rect previous;
    while (std::chrono::steady_clock::now() < deadline) {
        const Rect found = screenshot().bounds(MENU_BORDER, 40);
        if (!found.empty() && found.left == previous.left && found.top == previous.top &&
            found.width == previous.width && found.height == previous.height)
            return found;
        previous = found;
        std::this_thread::sleep_for(30ms);
    }
    return {};
}

// Waits for at least `least` keys of `window`.
std::vector<std::string> recorderKeys(const desktops::RecorderWindow& window, std::size_t least,
                                      std::chrono::milliseconds limit) {
    std::vector<std::string> keys;
    test::waitFor(
        [&] {
            keys = window.keys();
            return keys.size() >= least;
        },
        limit);
    return keys;
}

// The recorder window started as a client of a compositor, once it has the
// keyboard.
std::unique_ptr<desktops::RecorderWindow>
openRecorder(const fs::path& folder, const std::vector<std::string>& environment) {
    const fs::path log = folder / "other.events";
    { std::ofstream create(log); }
    test::giveToUser(log);
    auto window = std::make_unique<desktops::RecorderWindow>(
        x11test::spawnProcess(test::asUser({VELMORA_DESKTOP_RECORDER, log.string(), "other"}),
                              environment),
        log);
    if (!window->waitFor("focus", 10s))
        throw std::runtime_error("the other window never had the keyboard focus");
    return window;
}

// Where the recorder window shows, once it does.
template <class Shot> Rect shownRecorder(Shot screenshot) {
    Rect shown;
    test::waitFor(
        [&] {
            shown = screenshot().bounds(desktops::RecorderWindow::COLOR);
            return !shown.empty();
        },
        10s);
    if (shown.empty())
        throw std::runtime_error("the other window never showed");
    return shown;
}

// Headless sway with one output of 240 x 320 at scale 1, a keyboard and a
// pointer in its seat. sway tiles the other window over the whole output.
class SwayDriver : public NativeDriver {
public:
    void start(const fs::path& folder) override {
        folder_ = folder;
        compositor_ =
            wltest::Compositor::sway(folder, test::SCREEN_WIDTH, test::SCREEN_HEIGHT, 1, true);
        compositor_->plugPointer();
    }
    Rect workArea() const override { return {0, 0, test::SCREEN_WIDTH, test::SCREEN_HEIGHT}; }

    void launch(const fs::path& launcher, const std::vector<std::string>& arguments) override {
        const int errors = ::open((folder_ / "launcher.log").c_str(),
                                  O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        launcher_ = x11test::spawnProcess(test::asUser(launcherArgv(launcher, arguments)),
                                          compositor_->clientEnvironment(), -1, errors, true);
        ::close(errors);
    }
    Rect waitForMenu() override {
        return waitForFrame([&] { return compositor_->screenshot(); });
    }
    std::optional<int> waitForExit() override { return launcher_.wait(30s); }
    void stopLauncher() override { launcher_.stop(); }

    void key(const std::string& keysym) override { compositor_->type({"-k", keysym}); }
    void type(const std::string& text) override { compositor_->type({text}); }
    void click(int x, int y) override {
        compositor_->movePointer(x, y);
        compositor_->click();
    }

    Rect openOtherWindow() override {
        other_ = openRecorder(folder_, compositor_->clientEnvironment());
        return shownRecorder([&] { return compositor_->screenshot(); });
    }
    std::vector<std::string> otherWindowKeys(std::size_t least,
                                             std::chrono::milliseconds limit) override {
        return recorderKeys(*other_, least, limit);
    }
    void closeOtherWindow() override { other_.reset(); }

private:
    fs::path folder_;
    std::unique_ptr<wltest::Compositor> compositor_;
    x11test::ChildProcess launcher_;
    std::unique_ptr<desktops::RecorderWindow> other_;
};

// Weston with Xwayland, run in a window of an Xvfb screen of its own (its
// X11 backend): what xdotool types and clicks there reaches Weston's seat
// as a user's keyboard and mouse would, and the screen shows what Weston
// drew. (Headless Weston takes no input from outside.) The launcher has
// both WAYLAND_DISPLAY and Xwayland's DISPLAY, as a Weston user's programs
// do. Weston's panel keeps the top 32 pixels.
class WestonDriver : public XdotoolDriver {
public:
    void start(const fs::path& folder) override {
        folder_ = folder;
        // One row more than Weston's window: Weston's X11 backend follows
        // the pointer only once it has entered its window, and a pointer
        // that was inside from the start (a screen of the window's size)
        // never moves for Weston, whose clicks then all land in its top-left
        // corner, on the panel's terminal launcher. A user's pointer comes
        // into the window from outside: here from that row, to rest in the
        // bottom-left corner, where no menu of the scenarios lies (and where
        // the host, which has no window manager, sends the keys on to it).
        host_ = std::make_unique<x11test::XvfbServer>(test::SCREEN_WIDTH, test::SCREEN_HEIGHT + 1);
        compositor_ = wltest::Compositor::weston(folder, test::SCREEN_WIDTH, test::SCREEN_HEIGHT,
                                                 true, host_->display());
        waitForPanel();
        xdotool({"mousemove", "0", std::to_string(test::SCREEN_HEIGHT)});
        xdotool({"mousemove", "2", std::to_string(test::SCREEN_HEIGHT - 2)});
    }
    Rect workArea() const override { return {0, 32, test::SCREEN_WIDTH, test::SCREEN_HEIGHT - 32}; }

    void launch(const fs::path& launcher, const std::vector<std::string>& arguments) override {
        const int errors = ::open((folder_ / "launcher.log").c_str(),
                                  O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        launcher_ = x11test::spawnProcess(test::asUser(launcherArgv(launcher, arguments)),
                                          compositor_->clientEnvironment(true), -1, errors, true);
        ::close(errors);
    }
    Rect waitForMenu() override {
        return waitForFrame([&] { return screenshot(); });
    }

    Rect openOtherWindow() override {
        other_ = openRecorder(folder_, compositor_->clientEnvironment(true));
        return shownRecorder([&] { return screenshot(); });
    }
    std::vector<std::string> otherWindowKeys(std::size_t least,
                                             std::chrono::milliseconds limit) override {
        return recorderKeys(*other_, least, limit);
    }
    void closeOtherWindow() override { other_.reset(); }

private:
    test::Image screenshot() const {
        const auto shot = x11test::runProgram(
            {"import", "-display", host_->display(), "-window", "root", "-depth", "8", "ppm:-"},
            x11test::environmentWithDisplay(host_->display()));
        if (shot.exitStatus != 0)
            throw std::runtime_error("import could not take a screenshot");
        return test::parsePpm(shot.output);
    }
    std::string inputDisplay() const override { return host_->display(); }
    // A user's Weston shows its panel before any hotkey can start the
    // launcher. Its desktop-shell client draws the panel a while after the
    // compositor is up, a second or more on a busy machine (seen in CI), and
    // a menu maximised over the whole output before that lies under it.
    // Ready: the panel, dark, over the lighter desktop.
    void waitForPanel() const {
        const auto red = [](std::uint32_t color) { return (color >> 16) & 0xFF; };
        const bool drawn = test::waitFor(
            [&] {
                const test::Image shot = screenshot();
                return red(shot.at(200, test::SCREEN_HEIGHT - 20)) > 100 &&
                       red(shot.at(200, 28)) < 70;
            },
            30s);
        if (!drawn)
            throw std::runtime_error("Weston's panel was not drawn");
    }

    fs::path folder_;
    std::unique_ptr<x11test::XvfbServer> host_;
    std::unique_ptr<wltest::Compositor> compositor_;
    std::unique_ptr<desktops::RecorderWindow> other_;
};

// KWin or GNOME Shell, headless, one output of 640 x 480 at scale 1 (the
// size the desktops suite knows them at). GNOME keeps its top bar (32
// pixels at scale 1) out of the work area.
class DesktopDriver : public NativeDriver {
public:
    explicit DesktopDriver(desktops::DesktopKind kind) : kind_(kind) {}

    void start(const fs::path& folder) override {
        folder_ = folder;
        fs::create_directory(folder / "desktop");
        desktop_ = desktops::DesktopSession::start(kind_, folder / "desktop", WIDTH, HEIGHT);
    }
    Rect workArea() const override {
        return kind_ == desktops::DesktopKind::Gnome ? Rect{0, 32, WIDTH, HEIGHT - 32}
                                                     : Rect{0, 0, WIDTH, HEIGHT};
    }

    void launch(const fs::path& launcher, const std::vector<std::string>& arguments) override {
        launcher_ =
            desktop_->startClient(launcherArgv(launcher, arguments), folder_ / "launcher.log");
    }
    Rect waitForMenu() override {
        return waitForFrame([&] { return desktop_->screenshot(); });
    }
    std::optional<int> waitForExit() override { return launcher_.wait(30s); }
    void stopLauncher() override { launcher_.stop(); }

    void key(const std::string& keysym) override { desktop_->key(keysym); }
    void type(const std::string& text) override { desktop_->type(text); }
    void click(int x, int y) override {
        desktop_->movePointer(x, y);
        desktop_->click();
    }

    Rect openOtherWindow() override {
        other_ = desktop_->openRecorder("other" + std::to_string(++others_));
        return desktop_->screenshot().bounds(desktops::RecorderWindow::COLOR);
    }
    std::vector<std::string> otherWindowKeys(std::size_t least,
                                             std::chrono::milliseconds limit) override {
        return recorderKeys(*other_, least, limit);
    }
    void closeOtherWindow() override { other_.reset(); }

private:
    static constexpr int WIDTH = 640;
    static constexpr int HEIGHT = 480;

    desktops::DesktopKind kind_;
    fs::path folder_;
    std::unique_ptr<desktops::DesktopSession> desktop_;
    x11test::ChildProcess launcher_;
    std::unique_ptr<desktops::RecorderWindow> other_;
    int others_ = 0;
};

} // namespace

std::unique_ptr<DisplayDriver> makeSwayDriver() {
    return std::make_unique<SwayDriver>();
}
std::unique_ptr<DisplayDriver> makeWestonDriver() {
    return std::make_unique<WestonDriver>();
}
std::unique_ptr<DisplayDriver> makeDesktopDriver(desktops::DesktopKind kind) {
    return std::make_unique<DesktopDriver>(kind);
}

} // namespace velmora::matrix
