// The displays without a compositor: a terminal (tmux) and an X server
// (Xvfb, driven with xdotool; the other application is xev).
// GoogleTest (through the placement table) before the X headers.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/matrix/native_driver.h"
#include "tests/matrix/xdotool_driver.h"
#include "tests/matrix/xev_keys.h"
#include "tests/support/placement_cases.h"
#include "tests/x11/x11_session.h"

#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmora::matrix {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> launcherArgv(const fs::path& launcher,
                                      const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{launcher.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

namespace {

// A runtime folder of the display's own, for the launcher's instance lock.
fs::path makeRuntime(const fs::path& folder) {
    const fs::path runtime = folder / "runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    return runtime;
}

// The terminal: one tmux pane of 240 x 320 cells, so that the placement
// table's screen is its screen, in cells. Each start of the launcher is a
// new pane, as a user opens a terminal and starts it there.
class TerminalDriver : public NativeDriver {
public:
    void start(const fs::path& folder) override {
        folder_ = folder;
        runtime_ = makeRuntime(folder);
    }
    Rect workArea() const override { return {0, 0, test::SCREEN_WIDTH, test::SCREEN_HEIGHT}; }

    void launch(const fs::path& launcher, const std::vector<std::string>& arguments) override {
        terminal_.reset();
        const fs::path pane = folder_ / ("terminal" + std::to_string(++starts_));
        fs::create_directory(pane);
        e2e::Terminal::Options options;
        options.columns = test::SCREEN_WIDTH;
        options.rows = test::SCREEN_HEIGHT;
        options.env = e2e::launcherEnvironment(runtime_.string());
        terminal_ = std::make_unique<e2e::Terminal>(pane.string(),
                                                    launcherArgv(launcher, arguments), options);
    }
    Rect waitForMenu() override {
        if (!terminal_->waitForMenu())
            return {};
        const auto box = e2e::findBox(terminal_->screen());
        return box ? Rect{box->left, box->top, box->width, box->height} : Rect{};
    }
    std::optional<int> waitForExit() override {
        const int code = terminal_->waitExit();
        return code < 0 ? std::nullopt : std::optional<int>(code);
    }
    void stopLauncher() override { terminal_.reset(); }

    void key(const std::string& keysym) override {
        terminal_->keys({keysym == "Return" ? "Enter" : keysym});
    }
    void type(const std::string& text) override { terminal_->type(text); }
    void click(int x, int y) override { terminal_->click(x, y); }
    // Rows of cells inside a one-cell border.
    std::pair<int, int> itemPoint(const Rect& menu, int index, int) const override {
        return {menu.left + menu.width / 2, menu.top + 1 + index};
    }

    Rect openOtherWindow() override { throw std::logic_error("a terminal has no other window"); }
    std::vector<std::string> otherWindowKeys(std::size_t, std::chrono::milliseconds) override {
        return {};
    }
    void closeOtherWindow() override {}

    std::string notApplicable(const std::string& scenario) const override {
        if (scenario.find("AnotherWindow") != std::string::npos ||
            scenario.find("OtherWindow") != std::string::npos)
            return "the menu is drawn inside the launcher's own terminal: no other window shares "
                   "its screen";
        return "";
    }

private:
    fs::path folder_;
    fs::path runtime_;
    int starts_ = 0;
    std::unique_ptr<e2e::Terminal> terminal_;
};

// The X server: Xvfb of 240 x 320 pixels with no window manager; the
// other application is xev, given the input focus as a window manager
// would.
class X11Driver : public XdotoolDriver {
public:
    void start(const fs::path& folder) override {
        folder_ = folder;
        runtime_ = makeRuntime(folder);
        server_ = std::make_unique<x11test::XvfbServer>(test::SCREEN_WIDTH, test::SCREEN_HEIGHT);
        watcher_ = std::make_unique<x11test::XWatcher>(server_->display());
    }
    Rect workArea() const override { return {0, 0, test::SCREEN_WIDTH, test::SCREEN_HEIGHT}; }

    void launch(const fs::path& launcher, const std::vector<std::string>& arguments) override {
        auto environment = environment_();
        launcher_ = x11test::spawnProcess(launcherArgv(launcher, arguments), environment);
    }
    Rect waitForMenu() override {
        const Window menu = watcher_->waitForPopup(30s);
        if (menu == None)
            return {};
        const auto g = x11test::windowGeometry(server_->display(), menu);
        return {g.left, g.top, g.width, g.height};
    }

    Rect openOtherWindow() override {
        const Rect place{70, 190, 160, 120};
        const fs::path log = folder_ / "xev.log";
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        other_ =
            x11test::spawnProcess(xevArguments(place.left, place.top, place.width, place.height),
                                  environment_(), out, -1);
        ::close(out);
        xdotool({"search", "--sync", "--name", "velmora-other", "windowfocus", "--sync"});
        return place;
    }
    std::vector<std::string> otherWindowKeys(std::size_t least,
                                             std::chrono::milliseconds limit) override {
        std::vector<std::string> keys;
        test::waitFor(
            [&] {
                keys = xevKeys(test::readFile(folder_ / "xev.log").value_or(""));
                return keys.size() >= least;
            },
            limit);
        return keys;
    }
    void closeOtherWindow() override { other_.stop(); }

private:
    std::vector<std::string> environment_() const {
        std::vector<std::string> environment;
        for (auto& entry : x11test::environmentWithDisplay(server_->display()))
            if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0)
                environment.push_back(std::move(entry));
        environment.push_back("XDG_RUNTIME_DIR=" + runtime_.string());
        return environment;
    }
    std::string inputDisplay() const override { return server_->display(); }

    fs::path folder_;
    fs::path runtime_;
    std::unique_ptr<x11test::XvfbServer> server_;
    std::unique_ptr<x11test::XWatcher> watcher_;
    x11test::ChildProcess other_;
};

} // namespace

std::unique_ptr<DisplayDriver> makeTerminalDriver() {
    return std::make_unique<TerminalDriver>();
}
std::unique_ptr<DisplayDriver> makeX11Driver() {
    return std::make_unique<X11Driver>();
}

} // namespace velmora::matrix
