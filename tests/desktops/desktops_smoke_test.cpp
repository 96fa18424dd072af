// Each desktop starts, gives another application's window the keyboard,
// delivers typed keys and a click where the pointer was put, shows that
// window in its screenshot, and stops leaving no process behind.
// GoogleTest before the harness, whose X11 header defines None.
#include <gtest/gtest.h>

#include "tests/desktops/desktop_session.h"
#include "tests/support/test_files.h"

#include <iostream>

namespace velmora::desktops {
namespace {

constexpr int WIDTH = 640;
constexpr int HEIGHT = 480;

class DesktopSmoke : public ::testing::TestWithParam<DesktopKind> {
protected:
    test::TempFolder folder_;
};

TEST_P(DesktopSmoke, StartsTakesInputShowsAWindowAndStopsClean) {
    auto desktop = DesktopSession::start(GetParam(), folder_.path(), WIDTH, HEIGHT);
    std::cout << kindName(GetParam()) << " took input after " << desktop->startupTime().count()
              << " ms" << std::endl;
    RecordProperty("startup_ms", static_cast<int>(desktop->startupTime().count()));
    EXPECT_FALSE(desktop->xDisplay().empty());

    const auto window = desktop->openRecorder("other");
    desktop->type("aB");
    desktop->key("Return");
    EXPECT_EQ(window->keys(), (std::vector<std::string>{"a", "Shift_L", "B", "Return"}));

    const Image shot = desktop->screenshot();
    shot.save(std::string(VELMORA_DESKTOPS_ARTIFACTS) + "/" + kindName(GetParam()) + ".ppm");
    EXPECT_EQ(shot.width, WIDTH);
    EXPECT_EQ(shot.height, HEIGHT);
    const Rect shown = shot.bounds(RecorderWindow::COLOR);
    ASSERT_FALSE(shown.empty()) << "the recorder's colour is not on the screen";

    desktop->movePointer(shown.left + 10, shown.top + 20);
    desktop->click(1);
    EXPECT_TRUE(window->waitFor("button 272 10 20", std::chrono::seconds(5)))
        << ::testing::PrintToString(window->events());

    desktop->stop();
    EXPECT_EQ(desktop->processesLeft(), std::vector<pid_t>());
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopSmoke,
                         ::testing::Values(DesktopKind::KWin, DesktopKind::Gnome),
                         [](const auto& param) { return std::string(kindName(param.param)); });

} // namespace
} // namespace velmora::desktops
