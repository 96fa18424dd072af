// The Windows launcher end to end, as its users meet it: the real
// velmora.exe under Wine on an Xvfb server of this test program's own, in
// a temporary folder, picked and dismissed with the pointer and the keyboard
// through xdotool.
//
//   velmora_wine_e2e --wine-run=<wine-run.sh> --wineprefix=<prefix>
//                    --launcher=<velmora.exe> --recorder=<velmora_recorder.exe>
//                    --starter=<velmora_starter.exe> [gtest options]
//
//                    [--screen=<width>x<height>] [--log-pixels=<dpi of the prefix>]
//
// The launcher is started through the starter, so that its command-line
// text is exactly what the test wrote; the recorder stands for a launched
// program and writes down the command line it was given and how the shell
// started it. Programs that nobody here wrote (Wine's Notepad and explorer)
// show that what the shell starts appears on the screen.
#include "tests/win32/e2e/wine_harness.h"

#include "menu/menu_session.h"
#include "tests/support/case_name.h"
#include "tests/support/default_file_bytes.h"

#include <map>

using namespace velmora::winetest;

namespace {

// The folder of one run: the launcher's copy and, optionally, its
// configuration file.
struct RunFolder {
    TempFolder folder;
    fs::path launcher;
    explicit RunFolder(const std::string& name = "velmora.exe") {
        launcher = folder.path() / name;
        fs::copy_file(settings.launcher, launcher);
    }
    fs::path ini() const {
        fs::path path = launcher;
        std::string text = path.string();
        text.replace(text.size() - 3, 3, "ini");
        return text;
    }
    // Puts a recorder at `relative` and returns its Windows path.
    std::string addRecorder(const fs::path& relative) const {
        const fs::path target = folder.path() / relative;
        fs::create_directories(target.parent_path());
        fs::copy_file(settings.recorder, target);
        return windowsPath(target);
    }
    fs::path record(const fs::path& relative) const {
        return folder.path() / (relative.string() + ".txt");
    }
};

// Three items, each starting a recorder of its own; one lies in a folder
// whose name has blanks, so that "exec" must be passed whole.
const fs::path RECORDERS[] = {"first.exe", "Program Files/second program.exe", "third.exe"};

std::string recorderConfig(const RunFolder& run) {
    return "[1]\r\ntitle=First\r\nexec=" + run.addRecorder(RECORDERS[0]) +
           "\r\n[2]\r\ntitle=Second\r\nexec=" + run.addRecorder(RECORDERS[1]) +
           "\r\n[3]\r\ntitle=Third\r\nexec=" + run.addRecorder(RECORDERS[2]) + "\r\n";
}

// Writes the recorders' configuration into the folder; the launcher to start.
const fs::path& withRecorderConfig(const RunFolder& run) {
    writeFile(run.ini(), recorderConfig(run));
    return run.launcher;
}

// The recorders' menu in a fresh folder, shown by a launcher started with
// `arguments`; `menu` is empty (and the test failed) when none appeared.
struct RecorderMenu {
    explicit RecorderMenu(const std::string& arguments)
        : launcher(withRecorderConfig(folder), arguments), menu(waitForMenu(launcher)) {}
    RunFolder folder;
    Launcher launcher;
    std::optional<Rect> menu;
};

// Waits for a recorder's record; false when it never came.
bool waitForRecord(const fs::path& record) {
    const auto until = std::chrono::steady_clock::now() + PATIENCE;
    while (!fs::exists(record) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(50ms);
    return fs::exists(record);
}

bool anyRecord(const RunFolder& run) {
    for (const fs::path& recorder : RECORDERS) {
        if (fs::exists(run.record(recorder)))
            return true;
    }
    return false;
}

// Shows the menu of `config` (written beside a fresh launcher), measures it
// and dismisses it.
std::optional<Rect> measureMenu(const std::string& config) {
    RunFolder folder;
    writeFile(folder.ini(), config);
    Launcher launcher(folder.launcher, "");
    const auto menu = waitForMenu(launcher);
    if (menu) {
        clickOutside(*menu);
        EXPECT_EQ(launcher.wait(), 0);
    }
    return menu;
}

TEST(WineLauncher, FirstRunWritesTheDefaultFileAndShowsItsThreeItems) {
    RunFolder folder;
    ASSERT_FALSE(fs::exists(folder.ini()));
    Launcher launcher(folder.launcher, "");
    const auto menu = waitForMenu(launcher);
    ASSERT_TRUE(menu);

    // Written before the menu was shown.
    EXPECT_EQ(readFile(folder.ini()), velmora::test::DEFAULT_FILE_CRLF);
    EXPECT_EQ(fs::file_size(folder.ini()), 284u);
    // All four placement values 0: the menu's top left corner at the screen's.
    EXPECT_EQ(menu->x, 0);
    EXPECT_EQ(menu->y, 0);

    clickOutside(*menu);
    EXPECT_EQ(launcher.wait(), 0);

    // The menu is the one that three items of those titles make, and one
    // item fewer makes a different menu.
    const auto three = measureMenu("[1]\r\ntitle=Internet Explorer\r\n[2]\r\ntitle=Opera\r\n"
                                   "[3]\r\ntitle=NetFront\r\n");
    const auto two = measureMenu("[1]\r\ntitle=Internet Explorer\r\n[2]\r\ntitle=Opera\r\n");
    ASSERT_TRUE(three && two);
    EXPECT_EQ(menu->width, three->width);
    EXPECT_EQ(menu->height, three->height);
    EXPECT_LT(two->height, three->height);
}

// How the second instance is started: the same executable again, or a copy
// under another name in another folder (the mutex's name is the same).
class SecondInstance : public ::testing::TestWithParam<const char*> {};

TEST_P(SecondInstance, ExitsWithOneWhileTheFirstMenuIsOpen) {
    RunFolder first;
    const std::string config = recorderConfig(first);
    writeFile(first.ini(), config);
    Launcher launcher(first.launcher, "first");
    const auto menu = waitForMenu(launcher);
    ASSERT_TRUE(menu);

    std::optional<RunFolder> other;
    fs::path secondExecutable = first.launcher;
    if (std::string(GetParam()) != "velmora.exe") {
        other.emplace(GetParam());
        secondExecutable = other->launcher;
    }
    Launcher second(secondExecutable, "second");
    EXPECT_EQ(second.wait(), 1);
    EXPECT_EQ(readFile(first.ini()), config) << "the second instance leaves the file alone";
    if (other) {
        EXPECT_FALSE(fs::exists(other->ini())) << "the second instance writes no default file";
    }

    // The first instance and its menu go on undisturbed.
    EXPECT_FALSE(launcher.poll());
    const auto still = waitForMenu(launcher);
    ASSERT_TRUE(still);
    EXPECT_EQ(still->width, menu->width);
    clickOutside(*still);
    EXPECT_EQ(launcher.wait(), 0);
    EXPECT_FALSE(anyRecord(first));
}

INSTANTIATE_TEST_SUITE_P(Starts, SecondInstance,
                         ::testing::Values("velmora.exe", "renamed launcher.exe"),
                         [](const auto& param) {
                             return std::string(param.param) == "velmora.exe" ? "SameExecutable"
                                                                              : "RenamedCopy";
                         });

// The launcher's command-line text, handed to the picked program unchanged.
class Pick : public ::testing::TestWithParam<const char*> {};

TEST_P(Pick, StartsTheItemsProgramWithTheLaunchersCommandLine) {
    const std::string arguments = GetParam();
    RecorderMenu shown(arguments);
    auto& [folder, launcher, menu] = shown;
    ASSERT_TRUE(menu);

    // The middle of the three items.
    click(menu->x + menu->width / 2, menu->y + menu->height / 2);
    EXPECT_EQ(launcher.wait(), 0);

    const fs::path record = folder.record(RECORDERS[1]);
    ASSERT_TRUE(waitForRecord(record)) << "the second item's program was not started";
    EXPECT_EQ(readFile(record), arguments);
    // Shown normally, and in the launcher's own current directory (this
    // program's), not in a folder the launcher chose.
    EXPECT_EQ(readFile(folder.folder.path() / (RECORDERS[1].string() + ".startup.txt")),
              "dwFlags=1\nwShowWindow=1\ndirectory=" + windowsPath(fs::current_path()) + "\n")
        << "STARTF_USESHOWWINDOW and SW_SHOWNORMAL are 1";
    EXPECT_FALSE(fs::exists(folder.record(RECORDERS[0])));
    EXPECT_FALSE(fs::exists(folder.record(RECORDERS[2])));
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Pick,
                         ::testing::Values("", "one", "a \"b c\" d",
                                           "\"quoted \\\"inner\\\" text\"  two  blanks  ",
                                           "\xE6\x97\xA5\xE6\x9C\xAC \"\xE3\x83\xA1 x\" /flag:1"));

// Keys typed while the menu is open, wherever the pointer rests.
struct KeyCase {
    const char* name;
    std::vector<std::string> keys;
    int picked; // index into RECORDERS, or -1 for none
};

class Keyboard : public ::testing::TestWithParam<KeyCase> {};

TEST_P(Keyboard, PicksOrDismissesTheMenu) {
    RecorderMenu shown("typed \"pick\"");
    auto& [folder, launcher, menu] = shown;
    ASSERT_TRUE(menu);

    std::vector<std::string> command = {"xdotool", "key"};
    command.insert(command.end(), GetParam().keys.begin(), GetParam().keys.end());
    ASSERT_EQ(run(command).exitCode, 0);
    EXPECT_EQ(launcher.wait(), 0);

    if (GetParam().picked < 0) {
        EXPECT_FALSE(anyRecord(folder));
        EXPECT_FALSE(anyProcessMentions(folder.folder.path().filename().string()));
        return;
    }
    const fs::path record = folder.record(RECORDERS[GetParam().picked]);
    ASSERT_TRUE(waitForRecord(record)) << "the picked item's program was not started";
    EXPECT_EQ(readFile(record), "typed \"pick\"");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Keyboard,
    ::testing::Values(KeyCase{"DownReturnPicksTheFirst", {"Down", "Return"}, 0},
                      KeyCase{"DownDownReturnPicksTheSecond", {"Down", "Down", "Return"}, 1},
                      KeyCase{"EscapeDismisses", {"Escape"}, -1},
                      KeyCase{"EscapeAfterMovingDismisses", {"Down", "Down", "Escape"}, -1}),
    velmora::test::CaseName());

TEST(WineLauncher, DismissingTheMenuLaunchesNothing) {
    RecorderMenu shown("some arguments");
    auto& [folder, launcher, menu] = shown;
    ASSERT_TRUE(menu);
    clickOutside(*menu);
    EXPECT_EQ(launcher.wait(), 0);
    // The shell creates a program's process before the launcher's call
    // returns: a launched recorder would now be running, or have left its
    // record (or the part of it) behind.
    EXPECT_FALSE(anyRecord(folder));
    EXPECT_FALSE(anyProcessMentions(folder.folder.path().filename().string()));
    for (const auto& entry : fs::recursive_directory_iterator(folder.folder.path()))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

// A one-item menu picked with the pointer: the launcher ends with 0.
void pickTheOnlyItem(const RunFolder& folder, const std::string& exec) {
    writeFile(folder.ini(), "[1]\r\ntitle=The one\r\nexec=" + exec + "\r\n");
    Launcher launcher(folder.launcher, "");
    const auto menu = waitForMenu(launcher);
    ASSERT_TRUE(menu);
    click(menu->x + menu->width / 2, menu->y + menu->height / 2);
    EXPECT_EQ(launcher.wait(), 0);
}

// What the item opens, and the window (class and title) in which the user
// then sees it: programs that nobody here wrote.
struct ShownCase {
    const char* name;
    // Makes what the item names inside the run's folder; returns "exec".
    std::string (*prepare)(const RunFolder& folder);
    const char* className;
    const char* title;
};

class Shown : public ::testing::TestWithParam<ShownCase> {
protected:
    // Everything the shell started goes with the prefix's programs.
    void TearDown() override { stopWine(); }
};

TEST_P(Shown, ThePickedItemAppearsOnTheScreen) {
    RunFolder folder;
    const std::string exec = GetParam().prepare(folder);
    pickTheOnlyItem(folder, exec);
    const auto window = waitForShownWindow(GetParam().className, GetParam().title);
    ASSERT_TRUE(window);
    EXPECT_GT(window->rect.width, 1);
    EXPECT_GT(window->rect.height, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, Shown,
    ::testing::Values(ShownCase{"Notepad",
                                [](const RunFolder&) {
                                    return std::string("C:\\windows\\notepad.exe");
                                },
                                "^notepad\\.exe$", "Notepad"},
                      // Opened by the program that the .txt association names (Notepad).
                      ShownCase{"TextDocument",
                                [](const RunFolder& folder) {
                                    const fs::path document =
                                        folder.folder.path() / "shopping list.txt";
                                    writeFile(document, "milk\r\nbread\r\n");
                                    return windowsPath(document);
                                },
                                "^notepad\\.exe$", "shopping list"},
                      ShownCase{"Folder",
                                [](const RunFolder& folder) {
                                    const fs::path inner = folder.folder.path() / "holiday photos";
                                    fs::create_directory(inner);
                                    return windowsPath(inner);
                                },
                                "^explorer\\.exe$", "holiday photos"}),
    velmora::test::CaseName());

// Runs the starter's mutex probe: 10 no such mutex, 11 another process owns
// it, 12 or 13 this probe could take it.
int probeInstanceMutex() {
    return run({settings.wineRun, windowsPath(settings.starter), "--probe-mutex",
                "{6286FEE8-242F-4db1-B21A-D8B004526EED}"})
        .exitCode;
}

TEST(WineLauncher, OwnsTheInstanceMutexFromTheStart) {
    RecorderMenu shown("");
    auto& [folder, launcher, menu] = shown;
    ASSERT_TRUE(menu);
    EXPECT_EQ(probeInstanceMutex(), 11) << "another process could take the instance mutex";
    clickOutside(*menu);
    EXPECT_EQ(launcher.wait(), 0);
    EXPECT_EQ(probeInstanceMutex(), 10) << "the mutex outlived the launcher";
}

TEST(WineLauncher, AFailedLaunchShowsTheShellsReportAndStillEndsWithZero) {
    RunFolder folder;
    writeFile(folder.ini(), "[1]\r\ntitle=Gone\r\nexec=" +
                                windowsPath(folder.folder.path() / "no such program.exe") + "\r\n");
    Launcher launcher(folder.launcher, "");
    const auto menu = waitForMenu(launcher);
    ASSERT_TRUE(menu);
    click(menu->x + menu->width / 2, menu->y + menu->height / 2);

    // The shell reports the failure itself, in a message box of the
    // launcher's process, and the launcher waits for the user to close it.
    const auto report = waitForShownWindow("^velmora\\.exe$", "Error");
    ASSERT_TRUE(report);
    EXPECT_FALSE(launcher.poll()) << "the launcher ended under the shell's report";
    // No window manager gives it the focus: the user's click would.
    ASSERT_EQ(run({"xdotool", "windowfocus", report->id, "key", "Return"}).exitCode, 0);
    EXPECT_EQ(launcher.wait(), 0);
}

// The real menu's place for each anchor, and for offsets that push it past
// each edge, against the place the core computes for a menu of its size.
struct PlacementCase {
    int xAlign, yAlign, x, y;
};

std::string positionSection(const PlacementCase& c) {
    return "[position]\r\nxAlign=" + std::to_string(c.xAlign) +
           "\r\nyAlign=" + std::to_string(c.yAlign) + "\r\nx=" + std::to_string(c.x) +
           "\r\ny=" + std::to_string(c.y) + "\r\n";
}

std::string caseName(const PlacementCase& c) {
    return "xAlign=" + std::to_string(c.xAlign) + " yAlign=" + std::to_string(c.yAlign) +
           " x=" + std::to_string(c.x) + " y=" + std::to_string(c.y);
}

// The TrackPopupMenuEx flags of the alignment codes.
unsigned int trackFlags(int xAlign, int yAlign) {
    return 0x0100u |
           (xAlign == 1   ? 0x0004u
            : xAlign == 2 ? 0x0008u
                          : 0u) |
           (yAlign == 1   ? 0x0010u
            : yAlign == 2 ? 0x0020u
                          : 0u);
}

const std::string PLACED_ITEMS = "[1]\r\ntitle=Internet Explorer\r\n[2]\r\ntitle=Opera\r\n"
                                 "[3]\r\ntitle=NetFront\r\n";

TEST(WinePlacement, EveryAnchorAndEdgeMatchesPlaceMenuRect) {
    const int screenWidth = screenSize().width;
    const int screenHeight = screenSize().height;
    std::vector<PlacementCase> cases;
    for (int yAlign = 0; yAlign <= 2; ++yAlign) {
        for (int xAlign = 0; xAlign <= 2; ++xAlign)
            cases.push_back({xAlign, yAlign, 0, 0});
    }
    // Past the left, right, top and bottom edges from the centre, and past
    // the far edges from the near anchor.
    cases.insert(cases.end(), {{1, 1, -screenWidth, 0},
                               {1, 1, screenWidth, 0},
                               {1, 1, 0, -screenHeight},
                               {1, 1, 0, screenHeight},
                               {0, 0, screenWidth - 10, screenHeight - 10},
                               {2, 2, 10 - screenWidth, 10 - screenHeight}});
    for (const PlacementCase& c : cases) {
        SCOPED_TRACE(caseName(c));
        const auto menu = measureMenu(PLACED_ITEMS + positionSection(c));
        ASSERT_TRUE(menu);
        // The anchor point and flags as the launcher computes them.
        const unsigned int flags = trackFlags(c.xAlign, c.yAlign);
        const int x = c.x + (c.xAlign == 1 ? screenWidth / 2 : c.xAlign == 2 ? screenWidth : 0);
        const int y = c.y + (c.yAlign == 1 ? screenHeight / 2 : c.yAlign == 2 ? screenHeight : 0);
        const velmora::MenuRect expected = velmora::placeMenuRect(
            flags, x, y, menu->width, menu->height, screenWidth, screenHeight);
        EXPECT_EQ(menu->x, expected.left);
        EXPECT_EQ(menu->y, expected.top);
    }
}

// At 144 dots per inch (Wine's LogPixels) the 1024 x 768 screen is 683 x 512
// logical pixels: the launcher anchors and offsets the menu in those, and
// the point lands at 1.5 times its logical place, rounded to the nearest
// device pixel.
struct ScaledCase {
    PlacementCase position;
    int deviceX, deviceY;
};

TEST(WineHiDpi, OffsetsAndAnchorsAreLogicalPixels) {
    ASSERT_EQ(settings.logPixels, 144) << "the table is for a prefix at 144 dpi";
    ASSERT_EQ(settings.screen, "1024x768") << "the table is for a 1024 x 768 screen";
    // Logical point: 10 x 20; 341 x 256 (683 / 2), the screen's centre; 336 x
    // 486; 673 x 486; 683, half a pixel past the edge, which keeps the menu at it.
    const ScaledCase cases[] = {
        {{0, 0, 10, 20}, 15, 30},      {{1, 1, 0, 0}, 512, 384}, {{1, 2, -5, -26}, 504, 729},
        {{2, 2, -10, -26}, 1010, 729}, {{2, 0, 0, 0}, 1025, 0},
    };
    for (const ScaledCase& c : cases) {
        SCOPED_TRACE(caseName(c.position));
        const auto menu = measureMenu(PLACED_ITEMS + positionSection(c.position));
        ASSERT_TRUE(menu);
        const velmora::MenuRect expected =
            velmora::placeMenuRect(trackFlags(c.position.xAlign, c.position.yAlign), c.deviceX,
                                   c.deviceY, menu->width, menu->height, 1024, 768);
        EXPECT_EQ(menu->x, expected.left);
        EXPECT_EQ(menu->y, expected.top);
    }
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::map<std::string, std::string> options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos)
            options[arg.substr(2, equals - 2)] = arg.substr(equals + 1);
    }
    settings.wineRun = options["wine-run"];
    settings.winePrefix = options["wineprefix"];
    settings.launcher = options["launcher"];
    settings.recorder = options["recorder"];
    settings.starter = options["starter"];
    if (!options["screen"].empty())
        settings.screen = options["screen"];
    if (!options["log-pixels"].empty())
        settings.logPixels = std::atoi(options["log-pixels"].c_str());
    for (const fs::path& file :
         {fs::path(settings.wineRun), settings.launcher, settings.recorder, settings.starter}) {
        if (file.empty() || !fs::exists(file)) {
            std::fprintf(stderr, "missing or unreadable: '%s' (see the usage at the top)\n",
                         file.c_str());
            return 2;
        }
    }
    ::testing::AddGlobalTestEnvironment(new XServer);
    return RUN_ALL_TESTS();
}
