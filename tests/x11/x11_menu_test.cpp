// The X11 menu's input and placement through the real launcher: the rules
// themselves are the core's (tests/core); these show that the X events reach
// them and that the window lies where they put it.
#include "x11_menu_fixture.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <sstream>
#include <string>
#include <vector>

namespace velmora::x11test {
namespace {

using test::expectSide;
using test::PlacementCase;

// ---------------------------------------------------------------------------
// Placement: the point from the "position" section and the side of the menu
// that the alignment puts there, then moved to stay on the screen.

class X11MenuPlacement : public X11MenuTest, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(X11MenuPlacement, WindowLiesWhereTheAlignmentPutsIt) {
    const PlacementCase& c = GetParam();
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo", "&Charlie"}, c.position);
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    EXPECT_GT(g.width, 0);
    EXPECT_GT(g.height, 0);
    EXPECT_LT(g.width, SCREEN_WIDTH);
    EXPECT_LT(g.height, SCREEN_HEIGHT);
    expectSide(c.horizontal, g.left, g.width, "x");
    expectSide(c.vertical, g.top, g.height, "y");
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
}

INSTANTIATE_TEST_SUITE_P(Alignments, X11MenuPlacement, ::testing::ValuesIn(test::PLACEMENT_CASES),
                         [](const auto& test) { return std::string(test.param.name); });

// The same table at Xft.dpi 192: the values are logical pixels, 1/96 inch,
// so on a screen of twice the pixels every place, offset and anchor alike,
// lies at twice its distance from the screen's corner.
class X11MenuPlacementAt192Dpi : public X11MenuPlacement {};

TEST_P(X11MenuPlacementAt192Dpi, WindowLiesAtTwiceTheLogicalPlace) {
    const PlacementCase& c = GetParam();
    startScreen(2 * SCREEN_WIDTH, 2 * SCREEN_HEIGHT);
    ASSERT_FALSE(HasFatalFailure());
    watcher_->setResources("Xft.dpi:\t192\n");
    const Geometry g = showAndMeasure({"&Alpha", "&Bravo", "&Charlie"}, c.position);
    ASSERT_GT(g.width, 0);
    EXPECT_LT(g.width, 2 * SCREEN_WIDTH);
    EXPECT_LT(g.height, 2 * SCREEN_HEIGHT);
    expectSide({c.horizontal.side, 2 * c.horizontal.at}, g.left, g.width, "x");
    expectSide({c.vertical.side, 2 * c.vertical.at}, g.top, g.height, "y");
}

INSTANTIATE_TEST_SUITE_P(Alignments, X11MenuPlacementAt192Dpi,
                         ::testing::ValuesIn(test::PLACEMENT_CASES),
                         [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// Picking and dismissing, each judged by what was launched.

struct Action {
    enum class Kind { Keys, ClickItem, ClickOutside, MoveToItem, Press, Release, Unmap } kind;
    std::string keys;
    int item = 0;   // 1-based
    int button = 1; // for Press and Release
};

Action keys(const char* k) {
    return {Action::Kind::Keys, k, 0};
}
Action clickItem(int item) {
    return {Action::Kind::ClickItem, "", item};
}
Action moveTo(int item) {
    return {Action::Kind::MoveToItem, "", item};
}

struct InteractionCase {
    const char* name;
    std::vector<Action> actions;
    const char* launched; // "" for nothing
    bool buttonHeldAtStart = false;
};

void PrintTo(const InteractionCase& c, std::ostream* out) {
    *out << c.name;
}

// Each case on a first start, and on a warm one (the font cache written),
// whose menu reads the server without Xlib.
class X11MenuInteraction : public X11MenuTest,
                           public ::testing::WithParamInterface<std::tuple<InteractionCase, bool>> {
};

TEST_P(X11MenuInteraction, LaunchesWhatWasPicked) {
    const auto& [c, warm] = GetParam();
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo", "&Charlie\tCtrl+C"}, {20, 20, 0, 0});
    if (warm)
        startOnceAndDismiss();
    if (c.buttonHeldAtStart)
        xdotool(display(), {"mousemove", "200", "300", "mousedown", "1"});
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    for (const Action& action : c.actions) {
        const auto [x, y] = itemCentre(g, action.item - 1, 3);
        switch (action.kind) {
        case Action::Kind::Keys: {
            std::vector<std::string> args{"key"};
            std::istringstream names(action.keys);
            for (std::string name; names >> name;)
                args.push_back(name);
            xdotool(display(), args);
            break;
        }
        case Action::Kind::ClickItem:
            xdotool(display(), {"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
            break;
        case Action::Kind::ClickOutside:
            xdotool(display(), {"mousemove", std::to_string(SCREEN_WIDTH - 5),
                                std::to_string(SCREEN_HEIGHT - 5), "click", "1"});
            break;
        case Action::Kind::MoveToItem:
            xdotool(display(), {"mousemove", std::to_string(x), std::to_string(y)});
            break;
        case Action::Kind::Press:
            xdotool(display(), {"mousedown", std::to_string(action.button)});
            break;
        case Action::Kind::Release:
            xdotool(display(), {"mouseup", std::to_string(action.button)});
            break;
        case Action::Kind::Unmap:
            xdotool(display(), {"windowunmap", std::to_string(menu)});
            break;
        }
    }
    expectLauncherEnds();
    EXPECT_EQ(launched(*c.launched != '\0'), c.launched);
    EXPECT_TRUE(watcher_->waitForGone(menu, 5s)) << "the menu window stayed";
}

// The rules themselves are the core's (tests/core); these show that the X
// events reach them: keys by keysym, buttons by number, pointer positions in
// root coordinates, the window taken away.
const InteractionCase interactionCases[] = {
    {"ClickOnItem", {clickItem(2)}, "item2"},
    {"KeysMoveThenEnter", {keys("End Up Return")}, "item2"},
    {"KeypadEnter", {keys("Down Down KP_Enter")}, "item2"},
    {"Mnemonic", {keys("b")}, "item2"},
    {"MnemonicWithShift", {keys("shift+c")}, "item3"},
    {"HoverThenEnter", {moveTo(3), keys("Return")}, "item3"},
    {"DragFromOpeningPress", {moveTo(3), moveTo(2), {Action::Kind::Release, "", 0}}, "item2", true},
    {"DragFromOneItemToAnother",
     {moveTo(1), {Action::Kind::Press, "", 0}, moveTo(3), {Action::Kind::Release, "", 0}},
     "item3"},
    {"RightClickOnItemPicksNothing",
     {moveTo(2),
      {Action::Kind::Press, "", 0, 3},
      {Action::Kind::Release, "", 0, 3},
      keys("Escape")},
     ""},
    {"EscapeDismisses", {keys("Escape")}, ""},
    {"ClickOutsideDismisses", {keys("Down"), {Action::Kind::ClickOutside, "", 0}}, ""},
    {"MenuTakenAwayDismisses", {{Action::Kind::Unmap, "", 0}}, ""},
};

INSTANTIATE_TEST_SUITE_P(Input, X11MenuInteraction,
                         ::testing::Combine(::testing::ValuesIn(interactionCases),
                                            ::testing::Values(false, true)),
                         [](const auto& test) {
                             return std::string(std::get<0>(test.param).name) +
                                    (std::get<1>(test.param) ? "Warm" : "");
                         });

// Mnemonics of letters that Cyrillic and Greek keyboard layouts type with
// keysyms of their own, in either case.
struct LetterCase {
    const char* key;
    const char* launched;
};

void PrintTo(const LetterCase& c, std::ostream* out) {
    *out << c.key;
}

class X11MenuLetters : public X11MenuTest, public ::testing::WithParamInterface<LetterCase> {};

TEST_P(X11MenuLetters, MnemonicPicksItsItem) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Файл", "&вид", "&Ωμέγα", "&σύνολο"}, {});
    startOnceAndDismiss(); // the keys of a warm start, read without Xlib
    ASSERT_NE(launchAndWaitForMenu(), static_cast<Window>(None));
    xdotool(display(), {"key", GetParam().key});
    expectLauncherEnds();
    EXPECT_EQ(launched(true), GetParam().launched);
}

const LetterCase letterCases[] = {
    {"Cyrillic_ef", "item1"},
    {"Greek_SIGMA", "item4"},
};

INSTANTIATE_TEST_SUITE_P(Layouts, X11MenuLetters, ::testing::ValuesIn(letterCases),
                         [](const auto& test) { return std::string(test.param.key); });

// A key in a third layout group, which only XKB's state reports (the core
// protocol's holds two groups): the F key with Russian as the third layout
// types Cyrillic a.
class X11MenuThirdGroup : public X11MenuTest, public ::testing::WithParamInterface<bool> {};

TEST_P(X11MenuThirdGroup, AKeyOfTheThirdLayoutGroupPicksItsItem) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    const ProgramResult layouts =
        runProgram({"setxkbmap", "-layout", "us,de,ru"}, environmentWithDisplay(display()));
    ASSERT_EQ(layouts.exitStatus, 0) << "setxkbmap failed (install x11-xkb-utils)";
    Display* keyboard = XOpenDisplay(display().c_str());
    ASSERT_NE(keyboard, nullptr);
    XkbLockGroup(keyboard, XkbUseCoreKbd, 2);
    XSync(keyboard, False);
    installLauncher({"&apple", "&арбуз", "&fig"}, {});
    if (GetParam())
        startOnceAndDismiss();
    ASSERT_NE(launchAndWaitForMenu(), static_cast<Window>(None));
    const KeyCode f = XKeysymToKeycode(keyboard, XK_f);
    XTestFakeKeyEvent(keyboard, f, True, CurrentTime);
    XTestFakeKeyEvent(keyboard, f, False, CurrentTime);
    XCloseDisplay(keyboard);
    expectLauncherEnds();
    EXPECT_EQ(launched(true), "item2");
}

INSTANTIATE_TEST_SUITE_P(Starts, X11MenuThirdGroup, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Warm" : "First"; });

// Where libxkbcommon-x11 cannot be loaded, a warm start reads its keys
// from the core protocol's keyboard map: letters, with Shift, and moving.
TEST_F(X11MenuTest, AWarmStartReadsKeysWithoutXkbcommon) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    const fs::path libraries = folder_.path() / "libraries";
    fs::create_directories(libraries);
    writeFile(libraries / "libxkbcommon-x11.so.0", "not a library");
    extraEnvironment_.push_back("LD_LIBRARY_PATH=" + libraries.string());
    installLauncher({"&Alpha", "&Bravo", "&Charlie"}, {});
    startOnceAndDismiss();
    for (const auto& [keys, picked] : {std::pair<const char*, const char*>{"shift+b", "item2"},
                                       {"Down Down Down Return", "item3"}}) {
        SCOPED_TRACE(keys);
        fs::remove(folder_.path() / "launched");
        ASSERT_NE(launchAndWaitForMenu(), static_cast<Window>(None));
        std::vector<std::string> args{"key"};
        std::istringstream names(keys);
        for (std::string name; names >> name;)
            args.push_back(name);
        xdotool(display(), args);
        expectLauncherEnds();
        EXPECT_EQ(launched(true), picked);
    }
}

TEST_F(X11MenuTest, PlacesOnThePrimaryMonitor) {
    startScreen(480, 640);
    ASSERT_FALSE(HasFatalFailure());
    const std::vector<std::string> titles{"&Alpha", "&Bravo"};
    // Without a primary monitor the screen is the whole root window.
    const Geometry whole = showAndMeasure(titles, {0, -26, 1, 2});
    EXPECT_EQ(whole.left, 240 - whole.width / 2);
    EXPECT_EQ(whole.top + whole.height, 614);
    ASSERT_TRUE(watcher_->addPrimaryMonitor(240, 0, 240, 320));
    const Geometry onMonitor = showAndMeasure(titles, {0, -26, 1, 2});
    EXPECT_EQ(onMonitor.left, 240 + 120 - onMonitor.width / 2);
    EXPECT_EQ(onMonitor.top + onMonitor.height, 294);
    // Kept on that monitor, not merely on the root window.
    const Geometry kept = showAndMeasure(titles, {-300, 0, 0, 0});
    EXPECT_EQ(kept.left, 240);
}

// A menu taller than the screen: 40 items on the 240 x 320 screen show
// between two scroll arrows. After scrolling, a click on the first row (just
// below the top arrow) or the last row (just above the bottom arrow) shows
// which items the list has moved to.
struct ScrollCase {
    const char* name;
    std::vector<std::string> xdotoolArguments; // run with the pointer on the menu
    bool clickLastRow;
    const char* launched;
};

void PrintTo(const ScrollCase& c, std::ostream* out) {
    *out << c.name;
}

class X11MenuScrolling : public X11MenuTest, public ::testing::WithParamInterface<ScrollCase> {};

TEST_P(X11MenuScrolling, ShowsTheRowsItScrolledTo) {
    const ScrollCase& c = GetParam();
    const Geometry g = showTallMenu();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_GT(g.width, 0) << "no menu window was mapped";
    EXPECT_EQ(g.top, 0);
    EXPECT_LE(g.height, SCREEN_HEIGHT);
    EXPECT_GT(g.height, SCREEN_HEIGHT / 2);
    const std::string x = std::to_string(g.left + g.width / 2);
    xdotool(display(), {"mousemove", x, std::to_string(g.top + g.height / 2)});
    xdotool(display(), c.xdotoolArguments);
    const int row = c.clickLastRow ? g.top + g.height - 20 : g.top + 20;
    xdotool(display(), {"mousemove", x, std::to_string(row), "click", "1"});
    expectLauncherEnds();
    EXPECT_EQ(launched(true), c.launched);
}

const ScrollCase scrollCases[] = {
    {"EndShowsTheLastItem", {"key", "End"}, true, "item40"},
    {"WheelDownMovesThreeRows", {"click", "5", "click", "5", "click", "5"}, false, "item4"},
    // Outside the menu, a press of any other button would close it.
    {"HorizontalWheelIsIgnored",
     {"mousemove", "230", "310", "click", "6", "click", "7"},
     false,
     "item1"},
};

INSTANTIATE_TEST_SUITE_P(TallMenu, X11MenuScrolling, ::testing::ValuesIn(scrollCases),
                         [](const auto& test) { return std::string(test.param.name); });

// The pointer resting on the lower scroll arrow scrolls the rows at a steady
// pace, also while it moves about on the arrow: after the wait, the first
// row shows an item well down the list.
class X11MenuAutoScroll : public X11MenuTest, public ::testing::WithParamInterface<bool> {};

TEST_P(X11MenuAutoScroll, ScrollsWhileThePointerIsOnTheArrow) {
    const bool moving = GetParam();
    const Geometry g = showTallMenu();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_GT(g.width, 0) << "no menu window was mapped";
    // The arrow is the 12 pixels above the bottom border and margin (3 pixels).
    const int x = g.left + g.width / 2;
    const int arrowY = g.top + g.height - 3 - 6;
    // 900 ms on the arrow: 15 rows at the menu's pace; a pause at every
    // event would have it scroll none while the pointer moves.
    std::vector<std::string> rest{"mousemove", std::to_string(x), std::to_string(arrowY)};
    for (int step = 0; step < 18; ++step) {
        if (moving) {
            const int dx = step % 2 == 0 ? 2 : -2;
            for (const std::string& word :
                 {std::string("mousemove"), std::to_string(x + dx), std::to_string(arrowY)})
                rest.push_back(word);
        }
        rest.insert(rest.end(), {"sleep", "0.05"});
    }
    xdotool(display(), rest);
    xdotool(display(), {"mousemove", std::to_string(x), std::to_string(g.top + 20), "click", "1"});
    expectLauncherEnds();
    const std::string picked = launched(true);
    ASSERT_EQ(picked.rfind("item", 0), 0u) << "nothing was picked";
    EXPECT_GE(std::stoi(picked.substr(4)), 6) << "the rows did not move on: " << picked;
}

INSTANTIATE_TEST_SUITE_P(TallMenu, X11MenuAutoScroll, ::testing::Values(false, true),
                         [](const auto& test) {
                             return std::string(test.param ? "Moving" : "Resting");
                         });

} // namespace
} // namespace velmora::x11test
