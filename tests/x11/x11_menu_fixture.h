// The fixture of the X11 menu tests: the real launcher, copied into a
// temporary folder beside its configuration file, started on an Xvfb screen
// of its own, its window measured with xwininfo and driven with xdotool.
// What a pick did is read from what the picked item's program wrote.
#pragma once

// GoogleTest before the X headers, whose macros (None, Bool) it would trip on.
#include <gtest/gtest.h>

#include "tests/support/menu_folder.h"
#include "x11_session.h"

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace velmora::x11test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Position;
using test::readFile;
using test::SCREEN_HEIGHT;
using test::SCREEN_WIDTH;
using test::TempFolder;
using test::writeFile;

class X11MenuTest : public ::testing::Test {
protected:
    // Starts the screen, and the test's own connection to it.
    void startScreen(int width = SCREEN_WIDTH, int height = SCREEN_HEIGHT) {
        try {
            server_ = std::make_unique<XvfbServer>(width, height);
            watcher_ = std::make_unique<XWatcher>(server_->display());
        } catch (const std::exception& e) {
            FAIL() << "the X11 menu tests need an Xvfb screen: " << e.what();
        }
    }

    // Puts the launcher into the folder, with a configuration file holding
    // `titles` (item i opens the recorder "item<i>") and `position`.
    void installLauncher(const std::vector<std::string>& titles, const Position& position) {
        copyLauncher();
        writeFile(folder_.path() / "velmini",
                  test::menuConfiguration(folder_.path(), titles, position));
    }

    void copyLauncher() {
        fs::copy_file(VELMORA_BINARY, folder_.path() / "velmora",
                      fs::copy_options::overwrite_existing);
    }

    fs::path writeRecorder(const std::string& name) {
        return test::writeRecorder(folder_.path(), name);
    }

    // Starts the launcher and waits for its menu window to be mapped.
    Window launchAndWaitForMenu() {
        const auto environment = launcherEnvironment(server_->display());
        launcher_ = spawnProcess({(folder_.path() / "velmora").string()}, environment);
        const Window menu = watcher_->waitForPopup(30s);
        EXPECT_NE(menu, static_cast<Window>(None)) << "no menu window was mapped";
        return menu;
    }

    // Starts the launcher once and dismisses its menu: the start after it
    // finds the font cache written, as a user's every start but the first.
    void startOnceAndDismiss() {
        const Window menu = launchAndWaitForMenu();
        if (menu == None)
            return;
        xdotool(display(), {"key", "Escape"});
        expectLauncherEnds();
        EXPECT_TRUE(watcher_->waitForGone(menu, 5s)) << "the first start's menu stayed";
    }

    // The launcher's environment: DISPLAY set to `display`, a runtime
    // folder of its own that keeps its single-instance lock apart from those
    // of tests that run at the same time, a font cache folder of its own,
    // and `extraEnvironment_`.
    std::vector<std::string> launcherEnvironment(const std::string& display) {
        const fs::path runtime = folder_.path() / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        std::vector<std::string> environment;
        for (auto& entry : environmentWithDisplay(display)) {
            if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0 && entry.rfind("XDG_CACHE_HOME=", 0) != 0)
                environment.push_back(std::move(entry));
        }
        environment.push_back("XDG_RUNTIME_DIR=" + runtime.string());
        environment.push_back("XDG_CACHE_HOME=" + cacheHome().string());
        environment.insert(environment.end(), extraEnvironment_.begin(), extraEnvironment_.end());
        return environment;
    }

    fs::path cacheHome() const { return folder_.path() / "cache"; }

    void expectLauncherEnds() { test::expectEndsWithZero(launcher_); }

    // The name of the picked item's program, or "" when nothing was launched.
    std::string launched(bool expectSomething) {
        return test::launchedName(folder_.path(), expectSomething);
    }

    const std::string& display() const { return server_->display(); }
    // Starts a screen and shows a menu of 40 items "Item 1" ... at the top
    // left, taller than the screen; its geometry is empty when none appeared.
    Geometry showTallMenu() {
        startScreen();
        std::vector<std::string> titles;
        for (int i = 1; i <= 40; ++i)
            titles.push_back("Item " + std::to_string(i));
        installLauncher(titles, {0, 0, 0, 0});
        const Window menu = launchAndWaitForMenu();
        return menu == None ? Geometry{} : windowGeometry(display(), menu);
    }

    // Starts a screen and the launcher of two items while another program
    // holds the keyboard, as a hotkey daemon may.
    void launchWhileTheKeyboardIsTaken() {
        startScreen();
        installLauncher({"&Alpha", "&Bravo"}, {});
        ASSERT_TRUE(watcher_->grabKeyboard());
        launcher_ =
            spawnProcess({(folder_.path() / "velmora").string()}, launcherEnvironment(display()));
    }

    // Shows the menu of `titles` at `position` once and returns its geometry.
    Geometry showAndMeasure(const std::vector<std::string>& titles, const Position& position) {
        installLauncher(titles, position);
        const Window menu = launchAndWaitForMenu();
        if (menu == None)
            return {};
        const Geometry g = windowGeometry(display(), menu);
        xdotool(display(), {"key", "Escape"});
        expectLauncherEnds();
        return g;
    }

    // Starts the launcher with standard error into the file `errors`, and
    // with no controlling terminal when `newSession`.
    void launchCapturingErrors(const std::string& displayName, bool newSession) {
        const int errorFile =
            ::open(errorsPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(errorFile, 0);
        launcher_ = spawnProcess({(folder_.path() / "velmora").string()},
                                 launcherEnvironment(displayName), -1, errorFile, newSession);
        ::close(errorFile);
    }
    // What the launcher wrote to standard error.
    std::string errorsWritten() const { return readFile(errorsPath()).value_or("?"); }
    fs::path errorsPath() const { return folder_.path() / "errors"; }

    // The centre of item `index` (0-based) of a menu of `count` equal rows.
    static std::pair<int, int> itemCentre(const Geometry& menu, int index, int count) {
        return {menu.left + menu.width / 2,
                menu.top + (menu.height * (2 * index + 1)) / (2 * count)};
    }

    TempFolder folder_;
    std::vector<std::string> extraEnvironment_;
    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<XWatcher> watcher_;
    ChildProcess launcher_;
};

} // namespace velmora::x11test
