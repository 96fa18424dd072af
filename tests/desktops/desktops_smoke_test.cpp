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
    EXPECT_TRUE(window->waitFor("button 272 10 20", std::chrono::seconds(5)))
        << ::testing::PrintToString(window->events());

    desktop->stop();
    EXPECT_EQ(desktop->processesLeft(), std::vector<pid_t>());
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopSmoke,
                         ::testing::Values(SmokeCase{DesktopKind::KWin, 1},
                                           SmokeCase{DesktopKind::KWin, 1.5},
                                           SmokeCase{DesktopKind::Gnome, 1}),
                         [](const auto& param) { return caseName(param.param); });

} // namespace
} // namespace velmora::desktops
