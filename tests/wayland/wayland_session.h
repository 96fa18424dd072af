// What the Wayland menu tests run: a compositor of their own (headless sway,
// or headless Weston for a compositor without the layer shell) in a runtime
// folder of its own, started and stopped by process id; when the tests run as
// root (as CI does) the compositor and the launcher run as the unprivileged
// user "nobody", since sway refuses root. The user's side is played by
// third-party tools: grim takes the screenshots, wtype types, swaymsg moves
// and clicks the pointer.
#pragma once

#include "tests/support/screen_image.h"
#include "tests/support/test_user.h"
#include "tests/x11/x11_session.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace velmora::wltest {

using x11test::ChildProcess;
using x11test::ProgramResult;

using test::asUser;
using test::giveToUser;
using test::runningAsRoot;

// Runs `argv` to its end with `environment` and collects its standard output;
// throws when it cannot start or does not end.
ProgramResult run(const std::vector<std::string>& argv,
                  const std::vector<std::string>& environment);

using test::Image;
using test::Rect;

class Compositor {
public:
    // Headless sway with one output of `width` x `height` logical pixels at
    // the integer `scale`, and a keyboard in its seat when `keyboard`.
    // Throws std::runtime_error saying what failed.
    static std::unique_ptr<Compositor> sway(const std::filesystem::path& folder, int width,
                                            int height, int scale, bool keyboard = true);
    // Headless Weston (no layer shell), with Xwayland when `xwayland`. With
    // `xHost`, an X display, Weston runs in a window there instead (its X11
    // backend), whose keys and pointer reach Weston's seat as a user's do.
    static std::unique_ptr<Compositor> weston(const std::filesystem::path& folder, int width,
                                              int height, bool xwayland,
                                              const std::string& xHost = "");
    ~Compositor();

    // The environment of a client: this compositor's runtime folder and
    // socket, no X display unless `withX` and the compositor runs Xwayland.
    std::vector<std::string> clientEnvironment(bool withX = false) const;
    const std::string& xDisplay() const { return xDisplay_; }
    pid_t pid() const { return process_.pid(); }

    Image screenshot() const;
    // Types with wtype: `arguments` as wtype takes them ("-k", "Down", "b"...).
    void type(const std::vector<std::string>& arguments) const;
    // Plugs a pointer device into the seat (headless sway has none).
    void plugPointer();
    // The pointer at (x, y) in logical pixels; "button1".. pressed and released.
    void movePointer(int x, int y) const;
    void click(const std::string& button = "button1") const;
    // One notch of the wheel, down or up. (sway turns both the press and the
    // release of its wheel "buttons" into a scroll, so only a press is sent.)
    void wheel(bool down) const;
    // Adds a second headless output of the same size to the right of the
    // first and gives it the focus, so that new surfaces go there.
    void addOutputToTheRight(int width, int height, int scale) const;
    // Gives the first output the integer `scale`, its logical size kept.
    void rescale(int width, int height, int scale) const;
    // Ends the compositor at once (SIGKILL), as a crash would.
    void kill();

private:
    Compositor() = default;
    std::string swaymsg(const std::vector<std::string>& arguments) const;
    void plugKeyboard();

    ChildProcess process_;
    ChildProcess pointer_;
    ChildProcess keyboard_;
    std::filesystem::path runtime_;
    std::string socket_;
    std::string swaySocket_;
    std::string xDisplay_;
};

} // namespace velmora::wltest
