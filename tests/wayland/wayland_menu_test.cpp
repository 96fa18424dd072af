// The launcher's Wayland menu as a user meets it: the real program, copied
// into a temporary folder beside its configuration file, started on a
// headless sway of its own; where the menu lies and what it shows are read
// from grim's screenshots, keys come from wtype and the pointer from swaymsg.
// What a pick did is read from what the picked item's program wrote.

// GoogleTest before the X headers, whose macros (None, Bool) it would trip on.
#include <gtest/gtest.h>

#include "tests/support/placement_cases.h"
#include "tests/support/test_files.h"
#include "wayland_session.h"

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace velmora::wltest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int SCREEN_WIDTH = 240;
constexpr int SCREEN_HEIGHT = 320;
// The colour of the menu's frame: the menu is found by it on the screen
// (which may also show the pointer).
constexpr std::uint32_t MENU_BORDER = 0x8C8C8C;

using test::Expected;
using test::expectSide;
using test::PlacementCase;
using test::Position;
using test::Side;
using test::writeFile;

std::string readFile(const fs::path& path) {
    return test::readFile(path).value_or("");
}

fs::path artifact(const std::string& name) {
    return fs::path(VELMORA_WAYLAND_ARTIFACTS) / name;
}

// The centre of item `index` (0-based) of a menu of `count` equal rows.
std::pair<int, int> itemCentre(const Rect& menu, int index, int count) {
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

    void startSway(int scale = 1, int width = SCREEN_WIDTH, int height = SCREEN_HEIGHT) {
        try {
            compositor_ = Compositor::sway(folder(), width, height, scale);
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
        std::string config = "# menu under test\n";
        for (std::size_t i = 0; i < titles.size(); ++i) {
            const std::string number = std::to_string(i + 1);
            config += "[" + number + "]\ntitle=" + titles[i] +
                      "\nexec=" + writeRecorder("item" + number).string() + "\n";
        }
        config += "[position]\nx=" + std::to_string(position.x) +
                  "\ny=" + std::to_string(position.y) +
                  "\nxAlign=" + std::to_string(position.xAlign) +
                  "\nyAlign=" + std::to_string(position.yAlign) + "\n";
        writeFile(folder() / "velmini", config);
        giveToUser(folder() / "velmini");
    }

    // A program that records its name in the file "launched" of the folder.
    fs::path writeRecorder(const std::string& name) {
        const fs::path script = folder() / name;
        const std::string launched = (folder() / "launched").string();
        writeFile(script, "#!/bin/sh\nprintf '%s\\n' " + name + " \"$@\" > '" + launched +
                              ".tmp' && mv '" + launched + ".tmp' '" + launched + "'\n");
        fs::permissions(script, fs::perms::owner_all);
        giveToUser(script);
        return script;
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
    // screen's changed pixels, in logical pixels.
    Rect launchAndWaitForMenu() {
        launch(compositor_->clientEnvironment());
        return waitForMenu();
    }

    Rect waitForMenu() {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        Rect previous;
        while (std::chrono::steady_clock::now() < deadline) {
            shot_ = compositor_->screenshot();
            const Rect found = shot_.bounds(MENU_BORDER);
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

    // Waits for the launcher to end; its exit status is always 0.
    void expectLauncherEnds() {
        const auto status = launcher_.wait(30s);
        ASSERT_TRUE(status.has_value()) << "the launcher did not end";
        EXPECT_EQ(*status, 0);
    }

    // What the picked item's program recorded: its name, or "" when nothing
    // was launched.
    std::string launched(bool expectSomething) {
        const fs::path file = folder() / "launched";
        const auto limit = expectSomething ? 30s : 1s;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!fs::exists(file) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        if (!fs::exists(file))
            return "";
        const std::string text = readFile(file);
        return text.substr(0, text.find('\n'));
    }

    std::string launcherErrors() { return readFile(folder() / "stderr"); }

    fs::path folder() const { return folder_.path(); }

    test::TempFolder folder_;
    std::unique_ptr<Compositor> compositor_;
    int scale_ = 1;
    Image shot_;
    ChildProcess launcher_;
};

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

const InteractionCase interactionCases[] = {
    {"ClickPicksTheItem", true,
     [](const Compositor& c, const Rect& m) {
         const auto [x, y] = itemCentre(m, 1, 3);
         c.movePointer(x, y);
         c.click();
     },
     "item2"},
    {"EnterAfterArrows", false,
     [](const Compositor& c, const Rect&) {
         c.type({"-k", "Down", "-k", "Down", "-k", "Up", "-k", "Return"});
     },
     "item2"},
    {"UpWrapsToTheLastItem", false,
     [](const Compositor& c, const Rect&) {
         c.type({"-k", "Up", "-k", "Return"});
     },
     "item3"},
    {"EnterPicksTheFirstItem", false,
     [](const Compositor& c, const Rect&) {
         c.type({"-k", "Return"});
     },
     "item1"},
    {"MnemonicPicksItsItem", false, [](const Compositor& c, const Rect&) { c.type({"c"}); },
     "item3"},
    {"UpperCaseMnemonic", false, [](const Compositor& c, const Rect&) { c.type({"B"}); }, "item2"},
    {"HoverThenEnter", true,
     [](const Compositor& c, const Rect& m) {
         const auto [x, y] = itemCentre(m, 2, 3);
         c.movePointer(x, y);
         c.type({"-k", "Return"});
     },
     "item3"},
    {"EscapeDismisses", false,
     [](const Compositor& c, const Rect&) {
         c.type({"-k", "Escape"});
     },
     ""},
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
    std::function<void(const Compositor&)> act; // with the pointer on the menu
    bool clickLastRow;
    const char* launched;
};

const ScrollCase scrollCases[] = {
    {"EndShowsTheLastItem",
     [](const Compositor& c) {
         c.type({"-k", "End"});
     },
     true, "item40"},
    {"WheelDownMovesThreeRows",
     [](const Compositor& c) {
         c.wheel(true);
         c.wheel(true);
         c.wheel(true);
     },
     false, "item4"},
    {"WheelUpStopsAtTheTop",
     [](const Compositor& c) {
         c.wheel(true);
         c.wheel(false);
         c.wheel(false);
     },
     false, "item1"},
    {"PageDownThenHome",
     [](const Compositor& c) {
         c.type({"-k", "Next", "-k", "Home"});
     },
     false, "item1"},
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
    c.act(*compositor_);
    compositor_->movePointer(x, c.clickLastRow ? menu.top + menu.height - 20 : menu.top + 20);
    compositor_->click();
    expectLauncherEnds();
    EXPECT_EQ(launched(true), c.launched);
}

INSTANTIATE_TEST_SUITE_P(TallMenu, WaylandMenuScrolling, ::testing::ValuesIn(scrollCases),
                         [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// Text.

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

Ink inkOf(const Image& shot, const Rect& area) {
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

class WaylandMenuText : public WaylandMenuTest, public ::testing::WithParamInterface<int> {};

TEST_P(WaylandMenuText, JapaneseTitlesDrawTheirGlyphs) {
    const int scale = GetParam();
    startSway(scale);
    ASSERT_FALSE(HasFatalFailure());
    // Two titles of as many different characters: drawn as glyphs they
    // differ; drawn as the empty boxes of a missing font they would match.
    installLauncher({"&Web ブラウザ", "日本語入力", "漢字変換表"}, {0, -26, 1, 2});
    const Rect menu = launchAndWaitForMenu();
    ASSERT_FALSE(menu.empty());
    shot_.save(artifact("menu-japanese-scale" + std::to_string(scale) + ".ppm"));
    EXPECT_EQ(menu.top + menu.height, 294);
    // The two rows below the highlighted first one, inside the border.
    const Rect inside{menu.left * scale + 2 * scale, menu.top * scale + 2 * scale,
                      (menu.width - 4) * scale, (menu.height - 4) * scale};
    const Ink ink = inkOf(shot_, inside);
    ASSERT_EQ(ink.bands.size(), 2u) << "one band of dark ink per item that is not highlighted";
    const auto first = ink.columns(shot_, inside, ink.bands[0]);
    const auto second = ink.columns(shot_, inside, ink.bands[1]);
    EXPECT_NE(first, second) << "different Japanese titles drew the same shapes";
    // A kanji or kana has many different columns; an empty box has three.
    EXPECT_GE(std::set<std::string>(first.begin(), first.end()).size(), 20u);
    EXPECT_GE(std::set<std::string>(second.begin(), second.end()).size(), 20u);
    // Crisp at the output's scale: the text is drawn at the output's pixel
    // size, so the glyphs are as many device pixels tall as the scale says.
    const int glyphHeight = ink.bands[0].second - ink.bands[0].first + 1;
    EXPECT_GE(glyphHeight, 9 * scale);
    compositor_->type({"-k", "Escape"});
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
}

INSTANTIATE_TEST_SUITE_P(Scales, WaylandMenuText, ::testing::Values(1, 2),
                         [](const auto& test) { return "Scale" + std::to_string(test.param); });

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
// A compositor without the layer shell: Weston. The launcher declines it
// quietly and uses X11 through Weston's Xwayland, or shows nothing at all.

TEST_F(WaylandMenuTest, WithoutTheLayerShellTheMenuComesThroughXwayland) {
    try {
        compositor_ = Compositor::weston(folder(), SCREEN_WIDTH, SCREEN_HEIGHT, true);
    } catch (const std::exception& e) {
        FAIL() << "this test needs headless Weston with Xwayland: " << e.what();
    }
    installLauncher({"&Alpha", "&Bravo"}, {0, 0, 1, 1});
    ASSERT_FALSE(compositor_->xDisplay().empty());
    // Xwayland admits only the user who runs Weston, so xdotool runs as that
    // user: it waits for the X11 menu's window, then types its mnemonic.
    const auto environment = compositor_->clientEnvironment(true);
    launch(environment);
    const ProgramResult found =
        run(asUser({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^velmora$"}),
            environment);
    ASSERT_EQ(found.exitStatus, 0) << "no X11 menu appeared on Xwayland";
    ASSERT_EQ(run(asUser({"xdotool", "key", "b"}), environment).exitStatus, 0);
    expectLauncherEnds();
    EXPECT_EQ(launched(true), "item2");
    EXPECT_EQ(launcherErrors(), "");
}

TEST_F(WaylandMenuTest, WithoutTheLayerShellOrXTheMenuIsDrawnOnTheTerminal) {
    try {
        compositor_ = Compositor::weston(folder(), SCREEN_WIDTH, SCREEN_HEIGHT, false);
    } catch (const std::exception& e) {
        FAIL() << "this test needs headless Weston: " << e.what();
    }
    expectTerminalMenu({});
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

TEST_F(WaylandMenuTest, WithoutTheLayerShellOrADisplayNothingIsShown) {
    try {
        compositor_ = Compositor::weston(folder(), SCREEN_WIDTH, SCREEN_HEIGHT, false);
    } catch (const std::exception& e) {
        FAIL() << "this test needs headless Weston: " << e.what();
    }
    installLauncher({"&Alpha", "&Bravo"}, {});
    launch(compositor_->clientEnvironment());
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
    EXPECT_EQ(launcherErrors(), "");
}

} // namespace
} // namespace velmora::wltest
