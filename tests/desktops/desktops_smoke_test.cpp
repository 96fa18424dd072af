// Each desktop starts, gives another application's window the keyboard,
// delivers typed keys and a click where the pointer was put, shows that
// window in its screenshot, lets an X11 client in through Xwayland, and
// stops leaving no process behind.
// GoogleTest before the harness, whose X11 header defines None.
#include <gtest/gtest.h>

#include "tests/desktops/desktop_session.h"
#include "tests/support/test_files.h"

#include <cmath>
#include <iostream>
#include <sstream>
#include <thread>

namespace velmora::desktops {
namespace {

constexpr int WIDTH = 640;
constexpr int HEIGHT = 480;

struct SmokeCase {
    DesktopKind kind;
    double scale;
};

std::string caseName(const SmokeCase& c) {
    return std::string(kindName(c.kind)) + "_scale" +
           std::to_string(static_cast<int>(c.scale * 10));
}

struct Click {
    int code = 0;
    int x = 0;
    int y = 0;
};

// The last "button CODE X Y" the window recorded.
Click lastClick(const RecorderWindow& window) {
    Click click;
    for (const auto& event : window.events()) {
        std::istringstream in(event);
        std::string word;
        if (in >> word && word == "button")
            in >> click.code >> click.x >> click.y;
    }
    return click;
}

bool waitForClick(const RecorderWindow& window) {
    for (int i = 0; i < 250 && lastClick(window).code == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return lastClick(window).code != 0;
}

class DesktopSmoke : public ::testing::TestWithParam<SmokeCase> {
protected:
    test::TempFolder folder_;
};

TEST_P(DesktopSmoke, TakesKeysAndClicksShowsWindowsAndStopsClean) {
    const auto [kind, scale] = GetParam();
    auto desktop = DesktopSession::start(kind, folder_.path(), WIDTH, HEIGHT, scale);
    std::cout << caseName(GetParam()) << " took input after " << desktop->startupTime().count()
              << " ms" << std::endl;
    RecordProperty("startup_ms", static_cast<int>(desktop->startupTime().count()));
    EXPECT_EQ(desktop->runClient({"xwininfo", "-root"}).exitStatus, 0)
        << "no X11 client gets in through " << desktop->xDisplay();

    const auto window = desktop->openRecorder("other");
    desktop->type("aB");
    desktop->key("Return");
    // Keys reach the window asynchronously, as on any desktop.
    EXPECT_TRUE(window->waitFor("key Return", std::chrono::seconds(5)));
    EXPECT_EQ(window->keys(), (std::vector<std::string>{"a", "Shift_L", "B", "Return"}));

    const Image shot = desktop->screenshot();
    shot.save(std::string(VELMORA_DESKTOPS_ARTIFACTS) + "/" + caseName(GetParam()) + ".ppm");
    EXPECT_EQ(shot.width, static_cast<int>(std::lround(WIDTH * scale)));
    EXPECT_EQ(shot.height, static_cast<int>(std::lround(HEIGHT * scale)));
    const Rect shown = shot.bounds(RecorderWindow::COLOR);
    ASSERT_FALSE(shown.empty()) << "the recorder's colour is not on the screen";

    const int left = static_cast<int>(std::lround(shown.left / scale));
    const int top = static_cast<int>(std::lround(shown.top / scale));
    desktop->movePointer(left + 10, top + 20);
    desktop->click(1);
    ASSERT_TRUE(waitForClick(*window)) << ::testing::PrintToString(window->events());
    // GNOME at scale 2 lays windows out on device pixels, so a window may
    // start half a logical pixel off the logical grid.
    const auto [code, x, y] = lastClick(*window);
    EXPECT_EQ(code, 272);
    EXPECT_NEAR(x, 10, scale > 1 ? 1 : 0);
    EXPECT_NEAR(y, 20, scale > 1 ? 1 : 0);

    desktop->stop();
    EXPECT_EQ(desktop->processesLeft(), std::vector<pid_t>());
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopSmoke,
                         ::testing::Values(SmokeCase{DesktopKind::KWin, 1},
                                           SmokeCase{DesktopKind::KWin, 1.5},
                                           SmokeCase{DesktopKind::Gnome, 1},
                                           SmokeCase{DesktopKind::Gnome, 2}),
                         [](const auto& param) { return caseName(param.param); });

} // namespace
} // namespace velmora::desktops
