// Real desktops, started headless and driven as a user would: KDE Plasma's
// KWin and GNOME Shell, each with its own session bus (and GNOME with a
// private system bus), Xwayland and runtime folder. When the tests run as
// root (CI) everything in the session runs as the unprivileged user
// "nobody", since the compositors refuse root. Every process of a session
// runs under one launcher that is their subreaper, so that stopping the
// session leaves none behind.
//
// The user's hands are the desktops' own remote-control interfaces (KWin's
// fake input protocol, mutter's RemoteDesktop D-Bus API), its eyes their
// screenshot interfaces; a small driver program speaks them.
#pragma once

#include "platform/file_descriptor.h"
#include "tests/support/screen_image.h"
#include "tests/x11/x11_session.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace velmora::desktops {

using x11test::ChildProcess;

enum class DesktopKind { KWin, Gnome };

// "kwin" or "gnome".
const char* kindName(DesktopKind kind);

using test::Image;
using test::Rect;

// "Another application": a plain Wayland window of one colour that records
// the keys and clicks it is given (see key_recorder.cpp).
class RecorderWindow {
public:
    // The colour it fills itself with.
    static constexpr std::uint32_t COLOR = 0x12AB34;
    // Its size in logical pixels, unless the desktop gives it another.
    static constexpr int WIDTH = 160;
    static constexpr int HEIGHT = 120;

    RecorderWindow(ChildProcess process, std::filesystem::path log)
        : process_(std::move(process)), log_(std::move(log)) {}
    // The lines it wrote so far: "focus", "key a", "button 272 10 20"...
    std::vector<std::string> events() const;
    // Whether `line` was written within `limit`.
    bool waitFor(const std::string& line, std::chrono::milliseconds limit) const;
    // The keys it was given ("key ..." lines), names only.
    std::vector<std::string> keys() const;

private:
    ChildProcess process_;
    std::filesystem::path log_;
};

class DesktopSession {
public:
    // Starts the desktop with one output of `width` x `height` logical
    // pixels at `scale` in `folder` (which must exist and be empty) and
    // returns once it takes input and shows its desktop. KWin takes any
    // scale (1.5...); GNOME whole ones, set as the user's saved display
    // settings would. Throws std::runtime_error saying what failed, with
    // the desktop's log.
    static std::unique_ptr<DesktopSession> start(DesktopKind kind,
                                                 const std::filesystem::path& folder, int width,
                                                 int height, double scale = 1);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    DesktopKind kind() const { return kind_; }
    // From the start to the moment the desktop took input.
    std::chrono::milliseconds startupTime() const { return startupTime_; }

    // What a client of the desktop has: XDG_RUNTIME_DIR, WAYLAND_DISPLAY,
    // DBUS_SESSION_BUS_ADDRESS, and DISPLAY (with XAUTHORITY when the
    // desktop's Xwayland wants one) for Xwayland.
    std::vector<std::string> clientEnvironment() const;
    const std::string& xDisplay() const { return xDisplay_; }
    // `argv` as the session's user runs it.
    std::vector<std::string> asUser(std::vector<std::string> argv) const;
    // Runs `argv` as a client of the desktop to its end.
    x11test::ProgramResult runClient(const std::vector<std::string>& argv) const;
    // Starts `argv` as a client of the desktop, its output into `log`, with
    // `extra` ("NAME=value") added to its environment.
    ChildProcess startClient(const std::vector<std::string>& argv, const std::filesystem::path& log,
                             const std::vector<std::string>& extra = {}) const;

    // A key by its keysym name ("Escape", "a", "Down"), pressed and released.
    void key(const std::string& keysym) const;
    void keyDown(const std::string& keysym) const;
    void keyUp(const std::string& keysym) const;
    // Types UTF-8 `text`, one key a character.
    void type(const std::string& text) const;
    // The pointer to (x, y) in logical pixels. (GNOME at scale 2 lays its
    // windows out on device pixels and moves the pointer in steps of two:
    // the pointer lands within a logical pixel there.)
    void movePointer(int x, int y) const;
    // Button 1 (left), 2 (middle) or 3 (right) pressed and released.
    void click(int button = 1) const;
    Image screenshot() const;
    // Returns once GNOME Shell's overview is shown (or hidden); throws when
    // it is not within seconds, or on another desktop.
    void awaitOverview(bool shown) const;

    // Opens a recorder window and returns once it has the keyboard focus
    // and shows on the screen.
    std::unique_ptr<RecorderWindow> openRecorder(const std::string& name) const;

    // Ends the session and every process in it.
    void stop();
    // The processes that still run in this session (by its runtime folder).
    std::vector<pid_t> processesLeft() const;

private:
    DesktopSession() = default;
    void launch(const std::vector<std::vector<std::string>>& steps,
                const std::vector<std::string>& environment);
    void connectDriver(int width, int height);
    void findXDisplay();
    std::string command(const std::string& line) const;
    std::string readLine(std::chrono::milliseconds limit) const;

    DesktopKind kind_ = DesktopKind::KWin;
    std::filesystem::path folder_;
    std::filesystem::path runtime_;
    std::string socket_;
    std::string xDisplay_;
    std::string xAuthority_;
    std::chrono::milliseconds startupTime_{0};
    std::filesystem::file_time_type started_{};
    ChildProcess launcher_;
    ChildProcess driver_;
    FileDescriptor driverIn_;
    FileDescriptor driverOut_;
    mutable std::string pending_;
};

} // namespace velmora::desktops
