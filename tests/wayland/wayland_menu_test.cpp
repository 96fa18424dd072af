// The launcher's Wayland menu as a user meets it: the real program, copied
// into a temporary folder beside its configuration file, started on a
// headless sway of its own; where the menu lies and what it shows are read
// from grim's screenshots, keys come from wtype and the pointer from swaymsg.
// What a pick did is read from what the picked item's program wrote.

#include "wayland_menu_fixture.h"

#include <set>
#include <thread>

namespace velmora::wltest {
namespace {

// ---------------------------------------------------------------------------
// Placement: the point from the "position" section and the side of the menu
// that the alignment puts there, then moved to stay on the output; at the
// output scales 1 and 2 alike, in logical pixels.

class WaylandMenuPlacement : public WaylandMenuTest,
                             public ::testing::WithParamInterface<std::tuple<PlacementCase, int>> {
};

TEST_P(WaylandMenuPlacement, MenuLiesWhereTheAlignmentPutsIt) {
    const PlacementCase& c = std::get<0>(GetParam());
    startSway(std::get<1>(GetParam()));
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo", "&Charlie"}, c.position);
    const Rect menu = launchAndWaitForMenu();
    ASSERT_FALSE(menu.empty());
    EXPECT_GT(menu.width, 40);
    EXPECT_GT(menu.height, 40);
    EXPECT_LT(menu.width, SCREEN_WIDTH);
    EXPECT_LT(menu.height, SCREEN_HEIGHT);
    expectSide(c.horizontal, menu.left, menu.width, "x");
    expectSide(c.vertical, menu.top, menu.height, "y");
    compositor_->type({"-k", "Escape"});
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
}

INSTANTIATE_TEST_SUITE_P(Alignments, WaylandMenuPlacement,
                         ::testing::Combine(::testing::ValuesIn(test::PLACEMENT_CASES),
                                            ::testing::Values(1, 2)),
                         [](const auto& test) {
                             return std::string(std::get<0>(test.param).name) + "_Scale" +
                                    std::to_string(std::get<1>(test.param));
                         });

// ---------------------------------------------------------------------------
// Picks and dismissals by keys and pointer, on a menu of three items.

struct InteractionCase {
    const char* name;
    bool pointer; // plugs a pointer device in first
    std::function<void(const Compositor&, const Rect&)> act;
    const char* launched; // "" when nothing may be started
};

// What the core's session decides (wrapping, Enter, mnemonics, Escape) its
// own tests cover; these prove the translation of the pointer. The keys'
// is proved by WaylandMenuKeys below.
const InteractionCase interactionCases[] = {
    {"ClickPicksTheItem", true,
     [](const Compositor& c, const Rect& m) {
         const auto [x, y] = itemCentre(m, 1, 3);
         c.movePointer(x, y);
         c.click();
     },
     "item2"},
    {"HoverThenEnter", true,
     [](const Compositor& c, const Rect& m) {
         const auto [x, y] = itemCentre(m, 2, 3);
         c.movePointer(x, y);
         c.type({"-k", "Return"});
     },
     "item3"},
    {"ClickOutsideDismisses", true,
     [](const Compositor& c, const Rect&) {
         c.movePointer(5, 5);
         c.click();
     },
     ""},
    {"RightClickOutsideDismisses", true,
     [](const Compositor& c, const Rect&) {
         c.movePointer(230, 5);
         c.click("button3");
     },
     ""},
};

class WaylandMenuInteraction : public WaylandMenuTest,
                               public ::testing::WithParamInterface<InteractionCase> {};

TEST_P(WaylandMenuInteraction, LaunchesWhatWasPicked) {
    const InteractionCase& c = GetParam();
    startSway();
    ASSERT_FALSE(HasFatalFailure());
    if (c.pointer)
        plugPointer();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo\tCtrl+B", "&Charlie"}, {0, 0, 1, 1});
    const Rect menu = launchAndWaitForMenu();
    ASSERT_FALSE(menu.empty());
    c.act(*compositor_, menu);
    expectLauncherEnds();
    EXPECT_EQ(launched(*c.launched != '\0'), c.launched);
    EXPECT_EQ(launcherErrors(), "");
}

INSTANTIATE_TEST_SUITE_P(Input, WaylandMenuInteraction, ::testing::ValuesIn(interactionCases),
                         [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// A menu taller than the output: 40 items on the 240 x 320 output show
// between two scroll arrows. After scrolling, a click on the first row (just
// below the top arrow) or the last row (just above the bottom arrow) shows
// which items the list has moved to.

struct ScrollCase {
    const char* name;
    std::function<void(const Compositor&, const Rect&)> act; // with the pointer on the menu
    bool clickLastRow;
    const char* launched; // null: an item further down than the fifth
};

const ScrollCase scrollCases[] = {
    {"EndShowsTheLastItem",
     [](const Compositor& c, const Rect&) {
         c.type({"-k", "End"});
     },
     true, "item40"},
    {"WheelDownMovesThreeRows",
     [](const Compositor& c, const Rect&) {
         c.wheel(true);
         c.wheel(true);
         c.wheel(true);
     },
     false, "item4"},
    // The pointer resting on the lower arrow (its middle: 9 pixels above
    // the menu's bottom) scrolls a row every 60 ms.
    {"RestingOnTheLowerArrowScrolls",
     [](const Compositor& c, const Rect& m) {
         c.movePointer(m.left + m.width / 2, m.top + m.height - 9);
         std::this_thread::sleep_for(600ms);
     },
     false, nullptr},
};

class WaylandMenuScrolling : public WaylandMenuTest,
                             public ::testing::WithParamInterface<ScrollCase> {};

TEST_P(WaylandMenuScrolling, ShowsTheRowsItScrolledTo) {
    const ScrollCase& c = GetParam();
    startSway();
    ASSERT_FALSE(HasFatalFailure());
    plugPointer();
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::string> titles;
    for (int i = 1; i <= 40; ++i)
        titles.push_back("Item " + std::to_string(i));
    installLauncher(titles, {0, 0, 0, 0});
    const Rect menu = launchAndWaitForMenu();
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu.top, 0);
    EXPECT_LE(menu.height, SCREEN_HEIGHT);
    EXPECT_GT(menu.height, SCREEN_HEIGHT / 2);
    const int x = menu.left + menu.width / 2;
    compositor_->movePointer(x, menu.top + menu.height / 2);
    c.act(*compositor_, menu);
    compositor_->movePointer(x, c.clickLastRow ? menu.top + menu.height - 20 : menu.top + 20);
    compositor_->click();
    expectLauncherEnds();
    const std::string picked = launched(true);
    if (c.launched != nullptr) {
        EXPECT_EQ(picked, c.launched);
    } else {
        ASSERT_EQ(picked.rfind("item", 0), 0u) << picked;
        EXPECT_GT(std::stoi(picked.substr(4)), 5) << "the rows moved only to " << picked;
    }
}

INSTANTIATE_TEST_SUITE_P(TallMenu, WaylandMenuScrolling, ::testing::ValuesIn(scrollCases),
                         [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// Text.

class WaylandMenuText : public WaylandMenuTest, public ::testing::WithParamInterface<int> {};

TEST_P(WaylandMenuText, JapaneseTitlesDrawTheirGlyphs) {
    const int scale = GetParam();
    startSway(scale);
    ASSERT_FALSE(HasFatalFailure());
    // Two titles of as many different characters: drawn as glyphs they
    // differ; drawn as the empty boxes of a missing font they would match.
    installLauncher({"Web ブラウザ", "日本語入力", "漢字変換表"}, {0, -26, 1, 2});
    const Rect menu = launchAndWaitForMenu();
    ASSERT_FALSE(menu.empty());
    shot_.save(artifact("menu-japanese-scale" + std::to_string(scale) + ".ppm"));
    EXPECT_EQ(menu.top + menu.height, 294);
    // The rows inside the border; nothing is highlighted.
    const Rect inside{menu.left * scale + 2 * scale, menu.top * scale + 2 * scale,
                      (menu.width - 4) * scale, (menu.height - 4) * scale};
    const Ink ink = inkOf(shot_, inside);
    ASSERT_EQ(ink.bands.size(), 3u) << "one band of dark ink per item";
    const auto first = ink.columns(shot_, inside, ink.bands[1]);
    const auto second = ink.columns(shot_, inside, ink.bands[2]);
    EXPECT_NE(first, second) << "different Japanese titles drew the same shapes";
    // A kanji or kana has many different columns; an empty box has three.
    EXPECT_GE(std::set<std::string>(first.begin(), first.end()).size(), 20u);
    EXPECT_GE(std::set<std::string>(second.begin(), second.end()).size(), 20u);
    // Crisp at the output's scale: the text is drawn at the output's pixel
    // size, so the glyphs are as many device pixels tall as the scale says.
    const int glyphHeight = ink.bands[1].second - ink.bands[1].first + 1;
    EXPECT_GE(glyphHeight, 9 * scale);
    compositor_->type({"-k", "Escape"});
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
}

INSTANTIATE_TEST_SUITE_P(Scales, WaylandMenuText, ::testing::Values(1, 2),
                         [](const auto& test) { return "Scale" + std::to_string(test.param); });

// A menu narrowed to a narrow output: each part of a title is cut short
// with an ellipsis, the right-aligned part keeps its place at the right edge,
// and the two stay apart by the gap between them.
TEST_F(WaylandMenuTest, NarrowedRowKeepsItsTwoPartsApart) {
    constexpr int NARROW = 120;
    startSway(1, NARROW, SCREEN_HEIGHT);
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"Alpha", "Supercalifragilisticexpialidocious-Extraordinary\tCtrl+Shift+F12"},
                    {});
    const Rect menu = launchAndWaitForMenu();
    ASSERT_FALSE(menu.empty());
    shot_.save(artifact("menu-narrowed.ppm"));
    EXPECT_EQ(menu.width, NARROW);
    // The second row, inside the border.
    const Rect inside{menu.left + 1, menu.top + 1, menu.width - 2, menu.height - 2};
    const Ink ink = inkOf(shot_, inside);
    ASSERT_EQ(ink.bands.size(), 2u);
    const auto columns = ink.columns(shot_, inside, ink.bands[1]);
    const auto inked = [&](std::size_t x) { return columns[x].find('#') != std::string::npos; };
    std::size_t first = 0;
    while (first < columns.size() && !inked(first))
        ++first;
    std::size_t last = columns.size();
    while (last > first && !inked(last - 1))
        --last;
    int widestBlank = 0;
    int blank = 0;
    for (std::size_t x = first; x < last; ++x) {
        blank = inked(x) ? 0 : blank + 1;
        widestBlank = std::max(widestBlank, blank);
    }
    // 24 pixels apart, less what the glyphs' bearings leave blank anyway.
    EXPECT_GE(widestBlank, 16) << "the title's two parts ran into each other";
    EXPECT_GE(static_cast<int>(first), 8) << "the left part starts after its padding";
    EXPECT_LE(static_cast<int>(last), inside.width - 8) << "the right part ends before its padding";
    compositor_->type({"-k", "Escape"});
    expectLauncherEnds();
}

// An output so tall at scale 2 that a menu as tall as it would need a buffer
// of more than 16384 pixels: the menu is drawn at scale 1 instead, whole.
TEST_F(WaylandMenuTest, MenuTooLargeForItsScaleIsDrawnAtALowerOne) {
    constexpr int TALL = 9000;
    startSway(2, SCREEN_WIDTH, TALL);
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::string> titles;
    for (int i = 1; i <= 600; ++i)
        titles.push_back("Item " + std::to_string(i));
    installLauncher(titles, {});
    const Rect menu = launchAndWaitForMenu();
    ASSERT_FALSE(menu.empty());
    EXPECT_GT(menu.height * 2, 16384);
    EXPECT_LE(menu.height, TALL);
    compositor_->type({"-k", "Escape"});
    expectLauncherEnds();
    EXPECT_EQ(launcherErrors(), "");
}

TEST_F(WaylandMenuTest, ClickPicksAtScale2) {
    startSway(2);
    ASSERT_FALSE(HasFatalFailure());
    plugPointer();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo", "&Charlie", "&Delta"}, {0, 0, 1, 1});
    const Rect menu = launchAndWaitForMenu();
    ASSERT_FALSE(menu.empty());
    const auto [x, y] = itemCentre(menu, 2, 4);
    compositor_->movePointer(x, y);
    compositor_->click();
    expectLauncherEnds();
    EXPECT_EQ(launched(true), "item3");
}

// With two outputs side by side the menu lies on the one the compositor
// puts it on (the focused one, the right one here), placed against that
// output and kept on it rather than on the whole desktop.
TEST_F(WaylandMenuTest, PlacesOnTheOutputItIsShownOn) {
    startSway();
    ASSERT_FALSE(HasFatalFailure());
    compositor_->addOutputToTheRight(SCREEN_WIDTH, SCREEN_HEIGHT, 1);
    const auto desktopShown = [&] {
        const Image shot = compositor_->screenshot();
        return shot.width == 2 * SCREEN_WIDTH;
    };
    for (int i = 0; i < 100 && !desktopShown(); ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(desktopShown()) << "the second output did not appear";
    installLauncher({"&Alpha", "&Bravo"}, {-10, 15, 2, 0});
    const Rect right = launchAndWaitForMenu();
    EXPECT_EQ(right.left + right.width, 2 * SCREEN_WIDTH - 10);
    EXPECT_EQ(right.top, 15);
    compositor_->type({"-k", "Escape"});
    expectLauncherEnds();

    installLauncher({"&Alpha", "&Bravo"}, {-300, 15, 0, 0});
    const Rect kept = launchAndWaitForMenu();
    EXPECT_EQ(kept.left, SCREEN_WIDTH) << "kept on its own output";
    compositor_->type({"-k", "Escape"});
    expectLauncherEnds();
}

// ---------------------------------------------------------------------------
// Endings.

TEST_F(WaylandMenuTest, KilledCompositorEndsTheLauncher) {
    startSway();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo"}, {});
    ASSERT_FALSE(launchAndWaitForMenu().empty());
    compositor_->kill();
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
    EXPECT_EQ(launcherErrors(), "");
}

TEST_F(WaylandMenuTest, SecondStartWhileTheMenuIsOpenEndsAtOnce) {
    startSway();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo"}, {});
    ASSERT_FALSE(launchAndWaitForMenu().empty());
    ChildProcess second = x11test::spawnProcess(asUser({(folder() / "velmora").string()}),
                                                compositor_->clientEnvironment(), -1, -1, true);
    const auto status = second.wait(30s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 1);
    compositor_->type({"-k", "Escape"});
    expectLauncherEnds();
}

TEST_F(WaylandMenuTest, FirstRunShowsTheDefaultMenuAtTheTopLeft) {
    startSway();
    ASSERT_FALSE(HasFatalFailure());
    const fs::path launcher = folder() / "velmora";
    fs::copy_file(VELMORA_BINARY, launcher);
    giveToUser(launcher);
    const Rect menu = launchAndWaitForMenu();
    EXPECT_EQ(menu.left, 0);
    EXPECT_EQ(menu.top, 0);
    EXPECT_TRUE(fs::exists(folder() / "velmini"));
    compositor_->type({"-k", "Escape"});
    expectLauncherEnds();
}

// ---------------------------------------------------------------------------
// A compositor without the layer shell but with xdg-shell: Weston. The menu
// is a maximised toplevel there, whether or not an X display is at hand.
// Weston offers no way to type or click from outside, so what it did is read
// from the protocol as the launcher logged it: the toplevel given the whole
// output and the menu drawn on it.

TEST_F(WaylandMenuTest, WithoutTheLayerShellTheMenuIsAMaximisedToplevel) {
    try {
        compositor_ = Compositor::weston(folder(), SCREEN_WIDTH, SCREEN_HEIGHT, true);
    } catch (const std::exception& e) {
        FAIL() << "this test needs headless Weston with Xwayland: " << e.what();
    }
    installLauncher({"&Alpha", "&Bravo"}, {0, 0, 1, 1});
    auto environment = compositor_->clientEnvironment(true);
    environment.push_back("WAYLAND_DEBUG=1");
    launch(environment);
    const auto shown = [&] {
        const std::string log = launcherErrors();
        // The work area: the whole width, the height less Weston's panel.
        const auto sized = log.find("xdg_toplevel@");
        const auto size = log.find(".configure(" + std::to_string(SCREEN_WIDTH) + ", ", sized);
        return size != std::string::npos && log.find(".attach(", size) != std::string::npos &&
               log.find(".commit()", log.find(".attach(", size)) != std::string::npos;
    };
    for (int i = 0; i < 300 && !shown(); ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(shown()) << launcherErrors();
    EXPECT_NE(launcherErrors().find("set_maximized()"), std::string::npos);
    EXPECT_EQ(launcherErrors().find("zwlr_layer"), std::string::npos);
    launcher_.stop();
    EXPECT_EQ(launched(false), "");
}

// A system whose fcft lacks what the menu needs (here a stand-in library of
// that name, found first through LD_LIBRARY_PATH) has no Wayland menu: the
// launcher still starts, and draws its menu on the terminal.
TEST_F(WaylandMenuTest, WithoutItsLibrariesTheWaylandMenuGivesWayToTheTerminal) {
    startSway();
    const fs::path libraries = folder() / "lib";
    fs::create_directory(libraries);
    fs::copy_file(VELMORA_STAND_IN_FCFT, libraries / "libfcft.so.4");
    giveToUser(libraries);
    giveToUser(libraries / "libfcft.so.4");
    expectTerminalMenu({"LD_LIBRARY_PATH=" + libraries.string()});
}

} // namespace
} // namespace velmora::wltest
