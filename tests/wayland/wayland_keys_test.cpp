// Keys as a user types them into the Wayland menu, from a virtual keyboard
// (wtype): each reaches the menu, whenever the keyboard came to the seat.
#include "wayland_menu_fixture.h"

namespace velmora::wltest {
namespace {

// ---------------------------------------------------------------------------
// Keys from a virtual keyboard, typed by plain wtype (no pause between keys)
// as soon as the menu is on the screen, reach it every time.

struct KeysCase {
    const char* name;
    std::vector<std::string> keys; // as wtype takes them
    const char* launched;          // "" when nothing may be started
};

const KeysCase keysCases[] = {
    {"Escape", {"-k", "Escape"}, ""},
    {"DownDownReturn", {"-k", "Down", "-k", "Down", "-k", "Return"}, "item2"},
    {"Mnemonic", {"c"}, "item3"},
};

class WaylandMenuKeys : public WaylandMenuTest, public ::testing::WithParamInterface<KeysCase> {};

TEST_P(WaylandMenuKeys, ReachTheMenuEveryTime) {
    constexpr int TRIES = 20;
    const KeysCase& c = GetParam();
    startSway();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo\tCtrl+B", "&Charlie"}, {0, 0, 1, 1});
    const bool picks = *c.launched != '\0';
    int reached = 0;
    for (int i = 0; i < TRIES; ++i) {
        if (picks)
            fs::remove(folder() / "launched");
        ASSERT_FALSE(launchAndWaitForMenu().empty());
        compositor_->type(c.keys);
        const bool ended = launcher_.wait(5s).has_value();
        if (!ended)
            launcher_.stop();
        // A dismissal is checked once, below: that none of the tries
        // started anything.
        reached += ended && (!picks || launched(true) == c.launched);
    }
    EXPECT_EQ(reached, TRIES);
    if (!picks) {
        EXPECT_EQ(launched(false), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Typed, WaylandMenuKeys, ::testing::ValuesIn(keysCases),
                         [](const auto& test) { return std::string(test.param.name); });

// A seat without a keyboard gains one when wtype creates its virtual
// keyboard, and wtype presses its first key at once: before the menu has
// asked for the new keyboard's keys, so that the compositor reports the key
// as held when the keyboard enters the menu. That key was typed for the menu.
TEST_F(WaylandMenuTest, KeyHeldAsANewKeyboardEntersCounts) {
    startSway(1, SCREEN_WIDTH, SCREEN_HEIGHT, false);
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo"}, {});
    ASSERT_FALSE(launchAndWaitForMenu().empty());
    compositor_->type({"-P", "b", "-s", "300", "-p", "b"}); // b held for 300 ms
    expectLauncherEnds();
    EXPECT_EQ(launched(true), "item2");
}

// A held key repeats at the pace the compositor announces (sway: after
// 600 ms, 25 a second): Down held for two seconds moves far down a tall menu.
TEST_F(WaylandMenuTest, HeldKeyRepeats) {
    startSway();
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::string> titles;
    for (int i = 1; i <= 60; ++i)
        titles.push_back("Item " + std::to_string(i));
    installLauncher(titles, {});
    ASSERT_FALSE(launchAndWaitForMenu().empty());
    compositor_->type({"-P", "Down", "-s", "2000", "-p", "Down", "-k", "Return"});
    expectLauncherEnds();
    const std::string picked = launched(true);
    ASSERT_EQ(picked.rfind("item", 0), 0u) << picked;
    EXPECT_GE(std::stoi(picked.substr(4)), 10) << "the held key moved only to " << picked;
}

} // namespace
} // namespace velmora::wltest
