// The fixture of the Wayland menu tests: the real launcher, copied into a
// temporary folder beside its configuration file, started on a headless
// sway of its own; where the menu lies and what it shows are read from
// grim's screenshots, keys come from wtype and the pointer from swaymsg.
// What a pick did is read from what the picked item's program wrote.
#pragma once

// GoogleTest before the X headers, whose macros (None, Bool) it would trip on.
#include <gtest/gtest.h>

#include "tests/support/menu_folder.h"
#include "wayland_session.h"

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace velmora::wltest {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::SCREEN_HEIGHT;
using test::SCREEN_WIDTH;

// The colour of the menu's frame: the menu is found by it on the screen
// (which may also show the pointer).
constexpr std::uint32_t MENU_BORDER = 0x8C8C8C;

using test::Expected;
using test::expectSide;
using test::PlacementCase;
using test::Position;
using test::Side;
using test::writeFile;

inline fs::path artifact(const std::string& name) {
    return fs::path(VELMORA_WAYLAND_ARTIFACTS) / name;
}

// The centre of item `index` (0-based) of a menu of `count` equal rows.
inline std::pair<int, int> itemCentre(const Rect& menu, int index, int count) {
    return {menu.left + menu.width / 2, menu.top + (menu.height * (2 * index + 1)) / (2 * count)};
}

class WaylandMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The compositor and the launcher may run as another user.
        fs::permissions(folder(), fs::perms::owner_all);
        giveToUser(folder());
    }

    void TearDown() override {
        launcher_.stop();
        compositor_.reset();
    }

    void startSway(int scale = 1, int width = SCREEN_WIDTH, int height = SCREEN_HEIGHT,
                   bool keyboard = true) {
        try {
            compositor_ = Compositor::sway(folder(), width, height, scale, keyboard);
            scale_ = scale;
        } catch (const std::exception& e) {
            FAIL() << "the Wayland menu tests need headless sway, grim and setpriv: " << e.what();
        }
    }

    // Runs the launcher in a terminal (tmux) of the compositor's user, as
    // from a terminal in that Wayland session, with `extra` added to its
    // environment; expects its menu drawn there, and a mnemonic to pick.
    void expectTerminalMenu(const std::vector<std::string>& extra) {
        installLauncher({"&Alpha", "&Bravo"}, {});
        const std::string socket = (folder() / "tmux.socket").string();
        const auto environment = compositor_->clientEnvironment();
        std::vector<std::string> start{"tmux", "-S", socket, "new-session", "-d",
                                       "-x",   "60", "-y",   "20",          "env"};
        for (const auto& entry : environment) {
            if (entry.rfind("WAYLAND_DISPLAY=", 0) == 0 || entry.rfind("XDG_RUNTIME_DIR=", 0) == 0)
                start.push_back(entry);
        }
        start.insert(start.end(), extra.begin(), extra.end());
        start.push_back((folder() / "velmora").string());
        ASSERT_EQ(run(asUser(start), environment).exitStatus, 0) << "tmux did not start";
        const auto screen = [&] {
            return run(asUser({"tmux", "-S", socket, "capture-pane", "-p"}), environment).output;
        };
        std::string shown;
        for (int i = 0; i < 300 && shown.find("Bravo") == std::string::npos; ++i) {
            std::this_thread::sleep_for(50ms);
            shown = screen();
        }
        EXPECT_NE(shown.find("Alpha"), std::string::npos) << shown;
        EXPECT_NE(shown.find("Bravo"), std::string::npos) << shown;
        run(asUser({"tmux", "-S", socket, "send-keys", "b"}), environment);
        EXPECT_EQ(launched(true), "item2");
        run(asUser({"tmux", "-S", socket, "kill-server"}), environment);
    }

    void plugPointer() {
        try {
            compositor_->plugPointer();
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
    }

    // Puts the launcher into the folder, with a configuration file holding
    // `titles` (item i opens the recorder "item<i>") and `position`.
    void installLauncher(const std::vector<std::string>& titles, const Position& position) {
        const fs::path launcher = folder() / "velmora";
        fs::copy_file(VELMORA_BINARY, launcher, fs::copy_options::overwrite_existing);
        giveToUser(launcher);
        writeFile(folder() / "velmini", test::menuConfiguration(folder(), titles, position));
        giveToUser(folder() / "velmini");
    }

    // Starts the launcher (its standard error into the folder's "stderr").
    void launch(const std::vector<std::string>& environment) {
        const int errors =
            ::open((folder() / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        launcher_ = x11test::spawnProcess(asUser({(folder() / "velmora").string()}), environment,
                                          -1, errors, true);
        ::close(errors);
    }

    // Starts the launcher on sway and waits until its menu is drawn: the
    // screen's changed pixels, in logical pixels. The tests type only then,
    // as a user types into a menu they see: keys typed before the menu's
    // surface is shown go to the window that had the keyboard before (none
    // here). Typed at once after the start, Escape reached the menu 1 time
    // in 20.
    Rect launchAndWaitForMenu() {
        launch(compositor_->clientEnvironment());
        return waitForMenu();
    }

    Rect waitForMenu() {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        Rect previous;
        while (std::chrono::steady_clock::now() < deadline) {
            shot_ = compositor_->screenshot();
            // Runs of 8 or more: the pointer's image may hold a few such pixels.
            const Rect found = shot_.bounds(MENU_BORDER, 8);
            // Drawn once two screenshots in a row agree.
            if (!found.empty() && found.left == previous.left && found.top == previous.top &&
                found.width == previous.width && found.height == previous.height)
                return {found.left / scale_, found.top / scale_, found.width / scale_,
                        found.height / scale_};
            previous = found;
            std::this_thread::sleep_for(30ms);
        }
        ADD_FAILURE() << "no menu appeared on the screen";
        return {};
    }

    void expectLauncherEnds() { test::expectEndsWithZero(launcher_); }

    // The name of the picked item's program, or "" when nothing was launched.
    std::string launched(bool expectSomething) {
        return test::launchedName(folder(), expectSomething);
    }

    std::string launcherErrors() { return test::readText(folder() / "stderr"); }

    fs::path folder() const { return folder_.path(); }

    test::TempFolder folder_;
    std::unique_ptr<Compositor> compositor_;
    int scale_ = 1;
    Image shot_;
    ChildProcess launcher_;
};

// The rows of the menu's dark ink (black text on the light background):
// bands of consecutive screen rows, and per band the ink of each column.
struct Ink {
    std::vector<std::pair<int, int>> bands; // [first, last] rows
    std::vector<std::string> columns(const Image& shot, const Rect& area,
                                     std::pair<int, int> band) const {
        std::vector<std::string> out;
        for (int x = area.left; x < area.left + area.width; ++x) {
            std::string column;
            for (int y = band.first; y <= band.second; ++y)
                column.push_back(dark(shot.at(x, y)) ? '#' : '.');
            out.push_back(column);
        }
        return out;
    }
    static bool dark(std::uint32_t rgb) {
        return ((rgb >> 16) & 0xFF) < 0x80 && ((rgb >> 8) & 0xFF) < 0x80 && (rgb & 0xFF) < 0x80;
    }
};

inline Ink inkOf(const Image& shot, const Rect& area) {
    Ink ink;
    bool inBand = false;
    for (int y = area.top; y < area.top + area.height; ++y) {
        bool any = false;
        for (int x = area.left; x < area.left + area.width && !any; ++x)
            any = Ink::dark(shot.at(x, y));
        if (any && !inBand)
            ink.bands.push_back({y, y});
        if (any)
            ink.bands.back().second = y;
        inBand = any;
    }
    return ink;
}

} // namespace velmora::wltest
