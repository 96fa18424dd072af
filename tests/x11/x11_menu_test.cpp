// The launcher's X11 pop-up menu as a user meets it: the real program,
// copied into a temporary folder beside its configuration file, started on an
// Xvfb screen of its own, its window measured with xwininfo and driven with
// xdotool. What a pick did is read from what the picked item's program wrote.

// GoogleTest before the X headers, whose macros (None, Bool) it would trip on.
#include <gtest/gtest.h>

#include "tests/support/placement_cases.h"
#include "tests/support/test_files.h"
#include "x11_session.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace velmora::x11test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int SCREEN_WIDTH = 240;
constexpr int SCREEN_HEIGHT = 320;

using test::Expected;
using test::expectSide;
using test::PlacementCase;
using test::Position;
using test::readFile;
using test::Side;
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
        writeFile(folder_.path() / "velmini", config);
    }

    void copyLauncher() {
        fs::copy_file(VELMORA_BINARY, folder_.path() / "velmora",
                      fs::copy_options::overwrite_existing);
    }

    // A program that records its name in the file "launched" of the folder.
    fs::path writeRecorder(const std::string& name) {
        const fs::path script = folder_.path() / name;
        const std::string launched = (folder_.path() / "launched").string();
        writeFile(script, "#!/bin/sh\nprintf '%s\\n' " + name + " \"$@\" > '" + launched +
                              ".tmp' && mv '" + launched + ".tmp' '" + launched + "'\n");
        fs::permissions(script, fs::perms::owner_all);
        return script;
    }

    // Starts the launcher and waits for its menu window to be mapped.
    Window launchAndWaitForMenu() {
        const auto environment = launcherEnvironment(server_->display());
        launcher_ = spawnProcess({(folder_.path() / "velmora").string()}, environment);
        const Window menu = watcher_->waitForPopup(30s);
        EXPECT_NE(menu, static_cast<Window>(None)) << "no menu window was mapped";
        return menu;
    }

    // The launcher's environment: DISPLAY set to `display`, and a runtime
    // folder of its own that keeps its single-instance lock apart from those
    // of tests that run at the same time.
    std::vector<std::string> launcherEnvironment(const std::string& display) {
        const fs::path runtime = folder_.path() / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        std::vector<std::string> environment;
        for (auto& entry : environmentWithDisplay(display)) {
            if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0)
                environment.push_back(std::move(entry));
        }
        environment.push_back("XDG_RUNTIME_DIR=" + runtime.string());
        return environment;
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
        const fs::path file = folder_.path() / "launched";
        // A launched program is not waited for by the launcher, so give it
        // time to write; when nothing should run, the same pause shows that
        // nothing did.
        const auto limit = expectSomething ? 30s : 1s;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!fs::exists(file) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        if (!fs::exists(file))
            return "";
        const std::string text = readFile(file).value_or("");
        return text.substr(0, text.find('\n'));
    }

    const std::string& display() const { return server_->display(); }
    Geometry showAndMeasure(const std::vector<std::string>& titles, const Position& position);

    // The centre of item `index` (0-based) of a menu of `count` equal rows.
    static std::pair<int, int> itemCentre(const Geometry& menu, int index, int count) {
        return {menu.left + menu.width / 2,
                menu.top + (menu.height * (2 * index + 1)) / (2 * count)};
    }

    TempFolder folder_;
    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<XWatcher> watcher_;
    ChildProcess launcher_;
};

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

class X11MenuInteraction : public X11MenuTest,
                           public ::testing::WithParamInterface<InteractionCase> {};

TEST_P(X11MenuInteraction, LaunchesWhatWasPicked) {
    const InteractionCase& c = GetParam();
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo", "&Charlie\tCtrl+C"}, {20, 20, 0, 0});
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
    {"KeypadEnter", {keys("Down KP_Enter")}, "item2"},
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

INSTANTIATE_TEST_SUITE_P(Input, X11MenuInteraction, ::testing::ValuesIn(interactionCases),
                         [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// What the menu draws.

// The ink of a window: pixels that differ clearly from its background (the
// colour most of it has).
class InkMap {
public:
    InkMap(Display* display, Window window, const Geometry& g)
        : width_(g.width), height_(g.height) {
        XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned int>(g.width),
                                  static_cast<unsigned int>(g.height), AllPlanes, ZPixmap);
        if (image == nullptr)
            throw std::runtime_error("cannot read the menu's pixels");
        std::vector<unsigned long> pixels;
        std::map<unsigned long, int> counts;
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                pixels.push_back(XGetPixel(image, x, y));
                ++counts[pixels.back()];
            }
        }
        XDestroyImage(image);
        const unsigned long background =
            std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                return a.second < b.second;
            })->first;
        auto channel = [](unsigned long p, int shift) {
            return static_cast<int>((p >> shift) & 0xFF);
        };
        for (unsigned long p : pixels) {
            int distance = 0;
            for (int shift : {0, 8, 16})
                distance += std::abs(channel(p, shift) - channel(background, shift));
            ink_.push_back(distance > 120);
        }
    }

    bool at(int x, int y) const { return ink_[static_cast<std::size_t>(y * width_ + x)]; }

    // The runs of pixel rows inside the frame that hold ink: one per item.
    std::vector<std::pair<int, int>> bands() const {
        std::vector<std::pair<int, int>> out;
        int start = -1;
        for (int y = 1; y < height_ - 1; ++y) {
            bool any = false;
            for (int x = 1; x < width_ - 1 && !any; ++x)
                any = at(x, y);
            if (any && start < 0)
                start = y;
            if (!any && start >= 0) {
                out.emplace_back(start, y);
                start = -1;
            }
        }
        if (start >= 0)
            out.emplace_back(start, height_ - 1);
        return out;
    }

    // The columns of one band as text ('#' ink, '.' none), blank columns left out.
    std::vector<std::string> columns(const std::pair<int, int>& band) const {
        std::vector<std::string> out;
        for (int x = 1; x < width_ - 1; ++x) {
            std::string column;
            for (int y = band.first; y < band.second; ++y)
                column += at(x, y) ? '#' : '.';
            if (column.find('#') != std::string::npos)
                out.push_back(column);
        }
        return out;
    }

    int width() const { return width_; }

    // The rightmost column of `band` that holds ink, or -1.
    int rightEdge(const std::pair<int, int>& band) const {
        for (int x = width_ - 2; x > 0; --x) {
            for (int y = band.first; y < band.second; ++y) {
                if (at(x, y))
                    return x;
            }
        }
        return -1;
    }

private:
    int width_;
    int height_;
    std::vector<bool> ink_;
};

std::size_t distinct(const std::vector<std::string>& columns) {
    return std::set<std::string>(columns.begin(), columns.end()).size();
}

// The menu's ink once it shows `bands` items: the window is drawn a moment
// after it is mapped.
InkMap drawnMenu(Display* display, Window menu, const Geometry& g, std::size_t bands) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (;;) {
        InkMap ink(display, menu, g);
        if (ink.bands().size() == bands || std::chrono::steady_clock::now() > deadline)
            return ink;
        std::this_thread::sleep_for(20ms);
    }
}

fs::path artifact(const char* name) {
    return fs::path(VELMORA_X11_ARTIFACTS) / name;
}

TEST_F(X11MenuTest, JapaneseTitlesDrawTheirGlyphs) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    // Two titles of as many different characters: drawn as glyphs they
    // differ; drawn as the empty boxes of a missing font they would match.
    installLauncher({"&Web ブラウザ", "日本語入力", "漢字変換表"}, {0, -26, 1, 2});
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    const InkMap ink = drawnMenu(watcher_->get(), menu, g, 3);
    saveScreenshot(display(), artifact("menu-japanese.png"));
    const auto bands = ink.bands();
    ASSERT_EQ(bands.size(), 3u) << "one band of ink per item";
    const auto first = ink.columns(bands[1]);
    const auto second = ink.columns(bands[2]);
    EXPECT_NE(first, second) << "different Japanese titles drew the same shapes";
    // A glyph of a kanji or kana has many different columns; a box has three.
    EXPECT_GE(distinct(first), 20u);
    EXPECT_GE(distinct(second), 20u);
    EXPECT_EQ(g.top + g.height, 294);
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
}

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

TEST_F(X11MenuTest, TitlesFollowTheWindowsMenuConventions) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"Plain", "&Open\tCtrl+O", "Open\tCtrl+O", "Open\tF12"}, {10, 10, 0, 0});
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    const InkMap ink = drawnMenu(watcher_->get(), menu, g, 4);
    const auto bands = ink.bands();
    ASSERT_EQ(bands.size(), 4u);
    // "&Open" and "Open" differ by the mnemonic's underline alone: a line of
    // one pixel row under the left part. (Items are rows of equal height, so
    // the same offset from each band's top is the same place in each row.)
    std::set<int> rowsThatDiffer;
    int rightmostDifference = -1;
    const int height = std::max(bands[1].second - bands[1].first, bands[2].second - bands[2].first);
    for (int dy = 0; dy < height; ++dy) {
        for (int x = 1; x < g.width - 1; ++x) {
            const int y1 = bands[1].first + dy;
            const int y2 = bands[2].first + dy;
            const bool a = y1 < g.height && ink.at(x, y1);
            const bool b = y2 < g.height && ink.at(x, y2);
            if (a != b) {
                rowsThatDiffer.insert(dy);
                rightmostDifference = std::max(rightmostDifference, x);
            }
        }
    }
    EXPECT_GE(rowsThatDiffer.size(), 1u) << "no underline under the mnemonic";
    EXPECT_LE(rowsThatDiffer.size(), 2u) << "the titles differ by more than an underline";
    EXPECT_LT(rightmostDifference, g.width / 2) << "the underline is not under the first letter";
    // The parts after the tab end at the same right edge, near the frame.
    const int edge1 = ink.rightEdge(bands[2]);
    const int edge2 = ink.rightEdge(bands[3]);
    EXPECT_LE(std::abs(edge1 - edge2), 2) << "the right parts are not right-aligned";
    EXPECT_GT(edge2, g.width * 3 / 4);
    saveScreenshot(display(), artifact("menu-conventions.png"));
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
}

// A menu narrowed to a small screen: the title is cut short (with an
// ellipsis) a gap before the part after the tab, which stays where a row of
// that part alone puts it; the two never overlap.
TEST_F(X11MenuTest, NarrowedMenuKeepsTheTabPartClearOfTheTitle) {
    startScreen(160, 240);
    ASSERT_FALSE(HasFatalFailure());
    // The first row is highlighted and left out of the comparison.
    installLauncher({"Plain", "Supercalifragilistic editor of texts\tCtrl+E", "\tCtrl+E",
                     "Supercalifragilistic editor of texts"},
                    {0, 0, 0, 0});
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    EXPECT_EQ(g.width, 160) << "the menu is not narrowed to the screen";
    const InkMap ink = drawnMenu(watcher_->get(), menu, g, 4);
    auto bands = ink.bands();
    ASSERT_EQ(bands.size(), 4u);
    bands.erase(bands.begin());
    const auto inkAt = [&ink](const std::pair<int, int>& band, int x) {
        for (int y = band.first; y < band.second; ++y) {
            if (ink.at(x, y))
                return true;
        }
        return false;
    };
    int tabPartStart = -1;
    for (int x = 1; x < g.width - 1 && tabPartStart < 0; ++x) {
        if (inkAt(bands[1], x))
            tabPartStart = x;
    }
    ASSERT_GT(tabPartStart, g.width / 3) << "the tab part is not at the right";
    int columnsApart = 0;
    for (int x = 1; x < g.width - 1; ++x) {
        if (x >= tabPartStart) {
            EXPECT_EQ(inkAt(bands[0], x), inkAt(bands[1], x))
                << "column " << x << ": the title reaches into the tab part";
        } else if (x >= tabPartStart - 6) {
            EXPECT_FALSE(inkAt(bands[0], x)) << "column " << x << ": no gap before the tab part";
        } else if (inkAt(bands[0], x)) {
            ++columnsApart;
        }
    }
    EXPECT_GT(columnsApart, 20) << "the title is not drawn";
    // A title alone is cut at the row's right edge.
    EXPECT_LT(ink.rightEdge(bands[2]), g.width - 2);
    saveScreenshot(display(), artifact("menu-narrowed.png"));
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
}

TEST_F(X11MenuTest, EmptyMenuIsShownAndDismissed) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    // Numbered sections that do not start at 1 give no items; the menu is
    // still tracked, and Enter has nothing to pick.
    copyLauncher();
    writeFile(folder_.path() / "velmini",
              "[2]\ntitle=Two\nexec=" + writeRecorder("item2").string() + "\n");
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    EXPECT_EQ(g.left, 0);
    EXPECT_EQ(g.top, 0);
    EXPECT_TRUE(InkMap(watcher_->get(), menu, g).bands().empty());
    xdotool(display(), {"key", "Return", "Escape"});
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
}

TEST_F(X11MenuTest, FirstRunShowsTheDefaultMenuAtTheTopLeft) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    copyLauncher();
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
    EXPECT_EQ(drawnMenu(watcher_->get(), menu, g, 3).bands().size(), 3u) << "three browsers";
    saveScreenshot(display(), artifact("menu-default.png"));
    EXPECT_EQ(g.left, 0);
    EXPECT_EQ(g.top, 0);
    EXPECT_TRUE(fs::exists(folder_.path() / "velmini"));
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
}

// Shows the menu of `titles` at `position` once and returns its geometry.
Geometry X11MenuTest::showAndMeasure(const std::vector<std::string>& titles,
                                     const Position& position) {
    installLauncher(titles, position);
    const Window menu = launchAndWaitForMenu();
    if (menu == None)
        return {};
    const Geometry g = windowGeometry(display(), menu);
    xdotool(display(), {"key", "Escape"});
    expectLauncherEnds();
    return g;
}

TEST_F(X11MenuTest, WithoutAnXServerTheMenuIsDismissedQuietly) {
    // A display number that was free a moment ago: its server has stopped.
    std::string gone;
    {
        XvfbServer stopped(SCREEN_WIDTH, SCREEN_HEIGHT);
        gone = stopped.display();
    }
    installLauncher({"&Alpha", "&Bravo"}, {});
    const fs::path errors = folder_.path() / "errors";
    const int errorFile = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(errorFile, 0);
    // No controlling terminal either, so no menu can be shown at all.
    launcher_ = spawnProcess({(folder_.path() / "velmora").string()}, launcherEnvironment(gone), -1,
                             errorFile, true);
    ::close(errorFile);
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
    EXPECT_EQ(readFile(errors), "") << "the launcher printed something";
}

TEST_F(X11MenuTest, WaitsForTheKeyboardThatAHotkeyDaemonStillHolds) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo"}, {});
    ASSERT_TRUE(watcher_->grabKeyboard());
    launcher_ =
        spawnProcess({(folder_.path() / "velmora").string()}, launcherEnvironment(display()));
    // The daemon lets go soon after starting the launcher; the launcher's
    // short retries then get the keyboard and the menu works as usual.
    std::this_thread::sleep_for(100ms);
    watcher_->ungrabKeyboard();
    const Window menu = watcher_->waitForPopup(30s);
    ASSERT_NE(menu, static_cast<Window>(None)) << "no menu window was mapped";
    xdotool(display(), {"key", "b"});
    expectLauncherEnds();
    EXPECT_EQ(launched(true), "item2");
}

TEST_F(X11MenuTest, GivesUpQuietlyWhenTheKeyboardStaysTaken) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo"}, {});
    ASSERT_TRUE(watcher_->grabKeyboard());
    launcher_ =
        spawnProcess({(folder_.path() / "velmora").string()}, launcherEnvironment(display()));
    // The menu cannot take the input, so it is not shown: dismissed.
    expectLauncherEnds();
    EXPECT_EQ(watcher_->waitForPopup(0ms), static_cast<Window>(None)) << "a menu was mapped";
    EXPECT_EQ(launched(false), "");
}

TEST_F(X11MenuTest, SizesFollowTheXftDpiResource) {
    startScreen(1024, 768);
    ASSERT_FALSE(HasFatalFailure());
    const std::vector<std::string> titles{"&Alpha", "&Bravo", "&Charlie"};
    const Geometry normal = showAndMeasure(titles, {0, 0, 0, 0});
    watcher_->setResources("Xft.dpi:\t192\n");
    const Geometry doubled = showAndMeasure(titles, {0, 0, 0, 0});
    ASSERT_GT(normal.height, 0);
    ASSERT_GT(normal.width, 0);
    // Text and spacing both scale; rounding keeps it near, not at, twice.
    EXPECT_GE(doubled.height * 10, normal.height * 18);
    EXPECT_LE(doubled.height * 10, normal.height * 22);
    EXPECT_GE(doubled.width * 10, normal.width * 18);
    EXPECT_LE(doubled.width * 10, normal.width * 22);
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
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::string> titles;
    for (int i = 1; i <= 40; ++i)
        titles.push_back("Item " + std::to_string(i));
    installLauncher(titles, {0, 0, 0, 0});
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
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
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::string> titles;
    for (int i = 1; i <= 40; ++i)
        titles.push_back("Item " + std::to_string(i));
    installLauncher(titles, {0, 0, 0, 0});
    const Window menu = launchAndWaitForMenu();
    ASSERT_NE(menu, static_cast<Window>(None));
    const Geometry g = windowGeometry(display(), menu);
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

// The X server ends while the menu is open: the menu is gone, which is a
// dismissed menu, and the launcher ends as one does.
TEST_F(X11MenuTest, ServerEndingWhileTheMenuIsOpenDismissesIt) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo"}, {});
    const fs::path errors = folder_.path() / "errors";
    const int errorFile = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(errorFile, 0);
    launcher_ = spawnProcess({(folder_.path() / "velmora").string()},
                             launcherEnvironment(display()), -1, errorFile);
    ::close(errorFile);
    ASSERT_NE(watcher_->waitForPopup(30s), static_cast<Window>(None)) << "no menu was mapped";
    watcher_.reset(); // the test's own connection leaves while it still can
    server_->signal(SIGKILL);
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
    EXPECT_EQ(readFile(errors), "") << "the launcher printed something";
}

// A server that takes the connection but never answers (here a stopped
// Xvfb) is given up on after a while, as a missing one is: no controlling
// terminal either, so no menu at all, and the launcher ends.
TEST_F(X11MenuTest, GivesUpOnAServerThatNeverAnswers) {
    XvfbServer stopped(SCREEN_WIDTH, SCREEN_HEIGHT);
    stopped.signal(SIGSTOP);
    installLauncher({"&Alpha", "&Bravo"}, {});
    const fs::path errors = folder_.path() / "errors";
    const int errorFile = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(errorFile, 0);
    const auto start = std::chrono::steady_clock::now();
    launcher_ = spawnProcess({(folder_.path() / "velmora").string()},
                             launcherEnvironment(stopped.display()), -1, errorFile, true);
    ::close(errorFile);
    const auto status = launcher_.wait(30s);
    const auto waited = std::chrono::steady_clock::now() - start;
    stopped.signal(SIGCONT);
    ASSERT_TRUE(status.has_value()) << "the launcher waited on for the server";
    EXPECT_EQ(*status, 0);
    EXPECT_GE(waited, 4s) << "the launcher did not wait for the server to answer";
    EXPECT_LE(waited, 15s);
    EXPECT_EQ(launched(false), "");
    EXPECT_EQ(readFile(errors), "") << "the launcher printed something";
}

} // namespace
} // namespace velmora::x11test
