// What the matrix asks of a display: start it, start the launcher on it, see
// its menu, type, click, open another application's window and hear which
// keys reached it. Each display is driven by the harness of its own suite
// (tmux, Xvfb with xdotool, sway with wtype and swaymsg, the desktops'
// remote-control driver); the scenarios in matrix_test.cpp are written once
// against this interface.
#pragma once

#include "tests/support/placement_cases.h"
#include "tests/support/screen_image.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::matrix {

using test::Rect;

class DisplayDriver {
public:
    virtual ~DisplayDriver() = default;

    // Starts the display in `folder` (empty, reachable by every user);
    // throws std::runtime_error saying what failed.
    virtual void start(const std::filesystem::path& folder) = 0;
    // Where a "position" section is measured from, in logical pixels (the
    // terminal: cells): the screen, or the work area where a desktop keeps
    // a panel.
    virtual Rect workArea() const = 0;

    // Puts the launcher into the folder `app` beside a configuration of the
    // menu of `titles` at `at`, item i starting a recorder of its own;
    // returns the launcher.
    virtual std::filesystem::path install(const std::filesystem::path& app,
                                          const std::vector<std::string>& titles,
                                          const test::Position& at) = 0;
    // The picked recorder's name ("item2") and the arguments it was given,
    // or none when nothing was launched within `limit`.
    virtual std::vector<std::string> launched(const std::filesystem::path& app,
                                              std::chrono::milliseconds limit) = 0;
    // Starts `launcher` with `arguments` as a user of this display would.
    virtual void launch(const std::filesystem::path& launcher,
                        const std::vector<std::string>& arguments) = 0;
    // The menu once it is shown whole; empty when none was within 30 s.
    virtual Rect waitForMenu() = 0;
    // The launcher's exit code, or nullopt when it did not end within 30 s.
    virtual std::optional<int> waitForExit() = 0;
    // Ends the launcher if it still runs.
    virtual void stopLauncher() = 0;

    // A key by its keysym name ("Escape", "Down", "Return"), pressed and released.
    virtual void key(const std::string& keysym) = 0;
    // Types `text`, a key a character.
    virtual void type(const std::string& text) = 0;
    // A left click at (x, y) in workArea()'s units.
    virtual void click(int x, int y) = 0;
    // Where a click picks item `index` (0-based) of the `count` of `menu`.
    virtual std::pair<int, int> itemPoint(const Rect& menu, int index, int count) const {
        return {menu.left + menu.width / 2, menu.top + menu.height * (2 * index + 1) / (2 * count)};
    }

    // Opens another application's window that has the keyboard; throws
    // when it cannot. Where it lies.
    virtual Rect openOtherWindow() = 0;
    // The keys (keysym names) the other window was given so far, waiting up
    // to `limit` for at least `least` of them.
    virtual std::vector<std::string> otherWindowKeys(std::size_t least,
                                                     std::chrono::milliseconds limit) = 0;
    virtual void closeOtherWindow() = 0;

    // Why this display cannot play `scenario` at all (a fact of the display,
    // fixed, never of this run); "" when it can.
    virtual std::string notApplicable(const std::string& scenario) const {
        (void)scenario;
        return "";
    }
};

enum class DisplayId { Terminal, X11, Sway, WestonXwayland, KWin, Gnome, Wine };

std::unique_ptr<DisplayDriver> makeDriver(DisplayId display);

} // namespace velmora::matrix
