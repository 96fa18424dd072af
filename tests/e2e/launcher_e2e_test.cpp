// The launcher as a user meets it: a copy of the real program in a fresh
// folder, started in a terminal of known size, its menu read off the screen
// and driven by keys, mouse clicks and signals; its files and the programs it
// starts checked on disk.
#include "tests/e2e/e2e_support.h"

#include "menu/menu_session.h"
#include "tests/support/case_name.h"
#include "tests/support/default_file_bytes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace velmora::e2e;

namespace {

constexpr uid_t NOBODY = 65534;

class Launcher : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::string(VELMORA_TMUX), "")
            << "tmux is not installed: the end-to-end tests need it as their terminal";
        ASSERT_EQ(::chmod(temp_.path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(app_.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(run_.c_str(), 0700), 0);
        copyFile(VELMORA_BINARY, app_ + "/velmora", 0755);
    }

    std::string config() const { return app_ + "/velmini"; }

    std::vector<std::string> env(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> all{"VELMORA_RECORD=" + record_};
        all.insert(all.end(), extra.begin(), extra.end());
        return launcherEnvironment(runtimeDir_, all);
    }

    std::unique_ptr<Terminal> start(const std::vector<std::string>& args = {},
                                    Terminal::Options options = {}) {
        const std::string folder = temp_ / ("terminal" + std::to_string(++terminals_));
        if (::mkdir(folder.c_str(), 0755) != 0)
            throw std::runtime_error("cannot make " + folder);
        if (options.env.empty())
            options.env = env();
        std::vector<std::string> argv{app_ + "/velmora"};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<Terminal>(folder, argv, options);
    }

    // Switches the runs that follow to the user nobody (when the tests run as
    // root, for whom permission bits stop nothing); otherwise they stay the
    // current user, whom the same bits stop.
    Terminal::Options asNobody() {
        Terminal::Options options;
        options.user = "nobody";
        if (::geteuid() == 0) {
            runtimeDir_ = temp_ / "run-nobody";
            if (::mkdir(runtimeDir_.c_str(), 0700) != 0 ||
                ::chown(runtimeDir_.c_str(), NOBODY, NOBODY) != 0)
                throw std::runtime_error("cannot prepare a folder for nobody");
        }
        options.env = env();
        return options;
    }

    // The argument vector the recorder was started with; empty when it was not.
    std::vector<std::string> recordedArgv() const {
        std::vector<std::string> argv;
        const auto text = readFile(record_);
        if (!text)
            return argv;
        std::size_t at = text->find('\n') + 1;
        const int count = std::atoi(text->c_str());
        for (int i = 0; i < count; ++i) {
            const std::size_t colon = text->find(':', at);
            const std::size_t length = std::stoul(text->substr(at, colon - at));
            argv.push_back(text->substr(colon + 1, length));
            at = colon + 1 + length + 1;
        }
        return argv;
    }

    bool launched(std::chrono::milliseconds grace = std::chrono::milliseconds(300)) const {
        return waitUntil([&] { return exists(record_); }, grace);
    }

    std::string menuItem(int index, const std::string& title, const std::string& exec) const {
        return "[" + std::to_string(index) + "]\ntitle=" + title + "\nexec=" + exec + "\n";
    }

    // Thirty items "Item 1" … "Item 30" in a 40x10 terminal; only item
    // `launching` starts the recorder, the others name a missing program.
    std::unique_ptr<Terminal> startTallMenu(int launching) {
        std::string text;
        for (int i = 1; i <= 30; ++i)
            text += menuItem(i, "Item " + std::to_string(i),
                             i == launching ? std::string(VELMORA_ARGV_RECORDER) : "/nonexistent");
        writeFile(config(), text);
        Terminal::Options options;
        options.columns = 40;
        options.rows = 10;
        return start({}, options);
    }

    TempFolder temp_;
    std::string app_ = temp_ / "app";
    std::string run_ = temp_ / "run";
    std::string runtimeDir_ = run_;
    std::string record_ = temp_ / "record";
    int terminals_ = 0;
};

TEST_F(Launcher, FirstRunWritesTheDefaultFileAndShowsItsThreeItems) {
    const auto terminal = start();
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    const auto file = readFile(config());
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->size(), 261u);
    EXPECT_EQ(*file, velmora::test::DEFAULT_FILE_LF);
    const auto screen = terminal->screen();
    EXPECT_EQ(boxItems(screen),
              (std::vector<std::string>{"Internet Explorer", "Opera", "NetFront"}));
    const auto box = findBox(screen);
    EXPECT_EQ(box->left, 0);
    EXPECT_EQ(box->top, 0);
    // Alternate screen, no cursor, mouse buttons and drags reported in SGR form.
    EXPECT_EQ(
        terminal->paneFormat("#{alternate_on}#{cursor_flag}#{mouse_button_flag}#{mouse_sgr_flag}"),
        "1011");

    terminal->keys({"Escape"});
    EXPECT_EQ(terminal->waitExit(), 0);
    EXPECT_EQ(terminal->terminalModes(), "same");
    EXPECT_TRUE(terminalIsBack(*terminal));
    EXPECT_EQ(readFile(config()), velmora::test::DEFAULT_FILE_LF);
}

TEST_F(Launcher, ACopyUnderAnotherNameReadsTheFileOfItsOwnName) {
    // "menu.exe" loses its last three characters to "ini": menu.ini.
    copyFile(VELMORA_BINARY, app_ + "/menu.exe", 0755);
    writeFile(app_ + "/menu.ini", menuItem(1, "From menu.ini", "/nonexistent"));
    writeFile(config(), menuItem(1, "From velmini", "/nonexistent"));
    const std::string folder = temp_ / "menu-terminal";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    Terminal::Options options;
    options.env = env();
    const Terminal terminal(folder, {app_ + "/menu.exe"}, options);
    ASSERT_TRUE(terminal.waitForMenu()) << terminal.screenText();
    EXPECT_EQ(boxItems(terminal.screen()), std::vector<std::string>{"From menu.ini"});
    terminal.keys({"Escape"});
    EXPECT_EQ(terminal.waitExit(), 0);
}

TEST_F(Launcher, SecondStartWhileTheMenuIsOpenExitsWith1AndTouchesNoFile) {
    writeFile(config(), menuItem(1, "Record", VELMORA_ARGV_RECORDER));
    const auto first = start();
    ASSERT_TRUE(first->waitForMenu()) << first->screenText();
    const auto before = first->screen();

    // The same program without its file: it would write the default file.
    ASSERT_EQ(::unlink(config().c_str()), 0);
    const Finished same = runDetached({app_ + "/velmora"}, env());
    ASSERT_TRUE(same.ended);
    EXPECT_EQ(same.exitCode, 1);
    EXPECT_FALSE(exists(config()));

    // A copy under another name reads another file, yet shares the lock.
    copyFile(VELMORA_BINARY, app_ + "/menu.exe", 0755);
    const Finished other = runDetached({app_ + "/menu.exe", "arg"}, env());
    ASSERT_TRUE(other.ended);
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_FALSE(exists(app_ + "/menu.ini"));

    EXPECT_EQ(first->screen(), before) << "the first menu was disturbed";
    first->keys({"Down", "Enter"});
    EXPECT_EQ(first->waitExit(), 0);
    EXPECT_TRUE(launched(std::chrono::seconds(10)));
}

TEST_F(Launcher, AStartAfterTheFirstInstanceEndedRunsNormally) {
    const auto first = start();
    ASSERT_TRUE(first->waitForMenu()) << first->screenText();
    first->keys({"Escape"});
    ASSERT_EQ(first->waitExit(), 0);

    const auto second = start();
    ASSERT_TRUE(second->waitForMenu()) << second->screenText();
    second->keys({"Escape"});
    EXPECT_EQ(second->waitExit(), 0);
}

TEST_F(Launcher, AStartWhileTheLaunchedProgramStillRunsRunsNormally) {
    const std::string hold = temp_ / "hold";
    writeFile(hold, "");
    writeFile(config(), menuItem(1, "Hold", VELMORA_ARGV_RECORDER));
    Terminal::Options options;
    options.env = env({"VELMORA_HOLD=" + hold});
    const auto first = start({}, options);
    ASSERT_TRUE(first->waitForMenu()) << first->screenText();
    first->keys({"Down", "Enter"});
    ASSERT_EQ(first->waitExit(), 0);
    ASSERT_TRUE(waitUntil([&] { return exists(record_ + ".pid"); }));
    const auto pidText = readFile(record_ + ".pid");
    const pid_t recorder = std::atoi(pidText->c_str());
    ASSERT_GT(recorder, 0);
    ASSERT_EQ(::kill(recorder, 0), 0) << "the launched program should still run";

    const auto second = start();
    EXPECT_TRUE(second->waitForMenu()) << second->screenText();
    second->keys({"Escape"});
    EXPECT_EQ(second->waitExit(), 0);
    EXPECT_EQ(::kill(recorder, 0), 0);
    ::unlink(hold.c_str()); // lets the recorder end
}

enum class Pick { EnterAfterDown, Mnemonic, MouseClick, MouseDrag };

class LauncherPick : public Launcher, public testing::WithParamInterface<Pick> {};

TEST_P(LauncherPick, StartsTheProgramWithExactlyTheLauncherArguments) {
    writeFile(config(), menuItem(1, "&One", temp_ / "no-such-program") +
                            menuItem(2, "&Two", VELMORA_ARGV_RECORDER));
    const std::vector<std::string> args{
        "",       "two words", "it's",  "\"quoted\"", "back\\slash", "new\nline",
        "日本語", "\xFF\xFE",  "$HOME", "*",          "-q",          "  "};
    const auto terminal = start(args);
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    switch (GetParam()) {
    case Pick::EnterAfterDown:
        terminal->keys({"Down", "Down", "Enter"});
        break;
    case Pick::Mnemonic:
        terminal->keys({"t"});
        break;
    case Pick::MouseClick: {
        const auto box = findBox(terminal->screen());
        terminal->click(box->left + 3, box->top + 2);
        break;
    }
    case Pick::MouseDrag: { // pressed on the first item, released on the second
        const auto box = findBox(terminal->screen());
        terminal->mouse(0, box->left + 3, box->top + 1);
        terminal->mouse(32, box->left + 4, box->top + 2);
        terminal->mouse(0, box->left + 4, box->top + 2, true);
        break;
    }
    }
    EXPECT_EQ(terminal->waitExit(), 0);
    ASSERT_TRUE(launched(std::chrono::seconds(10)));
    std::vector<std::string> expected{VELMORA_ARGV_RECORDER};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(recordedArgv(), expected);
    const auto record = readFile(record_);
    EXPECT_NE(record->find("stdin-null=1\nsession-leader=1\n"), std::string::npos) << *record;
}

INSTANTIATE_TEST_SUITE_P(Ways, LauncherPick,
                         testing::Values(Pick::EnterAfterDown, Pick::Mnemonic, Pick::MouseClick,
                                         Pick::MouseDrag));

struct OpenCase {
    const char* name;
    std::string exec;              // "@" stands for the launcher's folder
    std::vector<std::string> argv; // what the started program receives
};

class LauncherOpen : public Launcher, public testing::WithParamInterface<OpenCase> {};

// A folder on PATH holds a recorder under the name xdg-open and another
// under a bare program name; the launcher is started with two arguments.
TEST_P(LauncherOpen, ResolvesTheExecValueAsTheShellWould) {
    const std::string bin = temp_ / "bin";
    ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
    copyFile(VELMORA_ARGV_RECORDER, bin + "/xdg-open", 0755);
    copyFile(VELMORA_ARGV_RECORDER, bin + "/velmora-recorder", 0755);
    ASSERT_EQ(::mkdir((app_ + "/a folder").c_str(), 0755), 0);
    writeFile(app_ + "/read me.txt", "text");
    copyFile(VELMORA_ARGV_RECORDER, app_ + "/run me", 0755);
    const auto resolve = [&](std::string text) {
        if (!text.empty() && text[0] == '@')
            text = app_ + text.substr(1);
        return text;
    };
    writeFile(config(), menuItem(1, "Open", resolve(GetParam().exec)));
    Terminal::Options options;
    options.env = env();
    for (std::string& variable : options.env) {
        if (variable.rfind("PATH=", 0) == 0)
            variable = "PATH=" + bin + ":" + variable.substr(5);
    }
    const auto terminal = start({"first", "second arg"}, options);
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    terminal->keys({"Down", "Enter"});
    EXPECT_EQ(terminal->waitExit(), 0);
    ASSERT_TRUE(launched(std::chrono::seconds(10)));
    std::vector<std::string> expected;
    for (const std::string& a : GetParam().argv)
        expected.push_back(resolve(a));
    EXPECT_EQ(recordedArgv(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LauncherOpen,
    testing::Values(
        OpenCase{
            "BareNameFromPath", "velmora-recorder", {"velmora-recorder", "first", "second arg"}},
        OpenCase{"PathWithBlanksInOnePiece", "@/run me", {"@/run me", "first", "second arg"}},
        OpenCase{"DocumentToXdgOpen", "@/read me.txt", {"xdg-open", "@/read me.txt"}},
        OpenCase{"FolderToXdgOpen", "@/a folder", {"xdg-open", "@/a folder"}},
        OpenCase{"UrlToXdgOpen",
                 "https://example.org/?q=a b&c",
                 {"xdg-open", "https://example.org/?q=a b&c"}}),
    velmora::test::CaseName());

enum class Dismiss { Escape, Q, CtrlC, PressOutside, Interrupt, Terminate, HangUp };

class LauncherDismiss : public Launcher, public testing::WithParamInterface<Dismiss> {};

TEST_P(LauncherDismiss, LaunchesNothingExitsWith0AndRestoresTheTerminal) {
    writeFile(config(), menuItem(1, "One", VELMORA_ARGV_RECORDER) +
                            menuItem(2, "Two", VELMORA_ARGV_RECORDER) +
                            "[position]\nxAlign=1\nyAlign=1\n");
    const auto terminal = start({"arg"});
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    const auto signal = [&](int number) {
        ASSERT_GT(terminal->launcherPid(), 0);
        ASSERT_EQ(::kill(terminal->launcherPid(), number), 0);
    };
    switch (GetParam()) {
    case Dismiss::Escape:
        terminal->keys({"Escape"});
        break;
    case Dismiss::Q:
        terminal->keys({"q"});
        break;
    case Dismiss::CtrlC:
        terminal->keys({"C-c"});
        break;
    case Dismiss::PressOutside: // the press alone, no release
        terminal->mouse(0, 0, 0);
        break;
    case Dismiss::Interrupt:
        signal(SIGINT);
        break;
    case Dismiss::Terminate:
        signal(SIGTERM);
        break;
    case Dismiss::HangUp:
        signal(SIGHUP);
        break;
    }
    EXPECT_EQ(terminal->waitExit(), 0);
    EXPECT_EQ(terminal->terminalModes(), "same");
    EXPECT_TRUE(terminalIsBack(*terminal));
    EXPECT_FALSE(launched());
}

INSTANTIATE_TEST_SUITE_P(Ways, LauncherDismiss,
                         testing::Values(Dismiss::Escape, Dismiss::Q, Dismiss::CtrlC,
                                         Dismiss::PressOutside, Dismiss::Interrupt,
                                         Dismiss::Terminate, Dismiss::HangUp));

struct NothingCase {
    const char* name;
    std::string section;
    std::string message; // the start of the launcher's line on standard error, when any
};

class LauncherNothingToStart : public Launcher, public testing::WithParamInterface<NothingCase> {};

TEST_P(LauncherNothingToStart, LaunchesNothingAndExitsWith0) {
    writeFile(config(), GetParam().section);
    Terminal::Options options;
    options.stderrFile = temp_ / "stderr";
    const auto terminal = start({"arg"}, options);
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    EXPECT_EQ(boxItems(terminal->screen()), std::vector<std::string>{"Item"});
    terminal->keys({"Down", "Enter"});
    EXPECT_EQ(terminal->waitExit(), 0);
    EXPECT_FALSE(launched());
    // Nothing, or one line naming the file and the reason.
    const auto errors = readFile(temp_ / "stderr");
    ASSERT_TRUE(errors.has_value());
    if (GetParam().message.empty()) {
        EXPECT_EQ(*errors, "");
    } else {
        EXPECT_EQ(errors->rfind(GetParam().message, 0), 0u) << *errors;
        EXPECT_EQ(errors->find('\n'), errors->size() - 1) << *errors;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Items, LauncherNothingToStart,
    testing::Values(NothingCase{"NoExec", "[1]\ntitle=Item\n", ""},
                    NothingCase{"EmptyExec", "[1]\ntitle=Item\nexec=\n", ""},
                    NothingCase{"MissingProgram", "[1]\ntitle=Item\nexec=/nonexistent/prog\n",
                                "velmora: cannot open \"/nonexistent/prog\": "},
                    NothingCase{"BareNameNotInPath", "[1]\ntitle=Item\nexec=velmora-no-such\n",
                                "velmora: cannot open \"velmora-no-such\": "}),
    velmora::test::CaseName());

TEST_F(Launcher, AnExistingUnreadableFileIsNeverOverwritten) {
    const std::string content = menuItem(1, "Secret", VELMORA_ARGV_RECORDER);
    writeFile(config(), content, 0000);
    const auto terminal = start({}, asNobody());
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    EXPECT_TRUE(boxItems(terminal->screen()).empty()) << terminal->screenText();
    terminal->keys({"Enter", "Escape"});
    EXPECT_EQ(terminal->waitExit(), 0);
    ::chmod(config().c_str(), 0644);
    EXPECT_EQ(readFile(config()), content);
    EXPECT_FALSE(launched());
}

enum class NotAFile { Folder, Fifo };

class LauncherNotAFile : public Launcher, public testing::WithParamInterface<NotAFile> {};

TEST_P(LauncherNotAFile, InPlaceOfTheFileIsNeitherReadNorReplaced) {
    if (GetParam() == NotAFile::Folder) {
        ASSERT_EQ(::mkdir(config().c_str(), 0755), 0);
        writeFile(config() + "/inside", "kept");
    } else {
        ASSERT_EQ(::mkfifo(config().c_str(), 0644), 0); // reading it would wait for a writer
    }
    const auto terminal = start();
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    EXPECT_TRUE(boxItems(terminal->screen()).empty()) << terminal->screenText();
    terminal->keys({"Escape"});
    EXPECT_EQ(terminal->waitExit(), 0);
    struct stat info {};
    ASSERT_EQ(::lstat(config().c_str(), &info), 0);
    if (GetParam() == NotAFile::Folder) {
        EXPECT_EQ(readFile(config() + "/inside"), "kept");
    } else {
        EXPECT_TRUE(S_ISFIFO(info.st_mode));
    }
}

INSTANTIATE_TEST_SUITE_P(Objects, LauncherNotAFile,
                         testing::Values(NotAFile::Folder, NotAFile::Fifo));

TEST_F(Launcher, AFolderWhereNothingCanBeWrittenGivesAnEmptyMenu) {
    const Terminal::Options nobody = asNobody();
    ASSERT_EQ(::chmod(app_.c_str(), 0555), 0);
    const auto terminal = start({}, nobody);
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    EXPECT_TRUE(boxItems(terminal->screen()).empty()) << terminal->screenText();
    terminal->keys({"Escape"});
    EXPECT_EQ(terminal->waitExit(), 0);
    EXPECT_FALSE(exists(config()));
}

TEST_F(Launcher, WithoutTerminalOrDisplayTheMenuEndsAtOnce) {
    writeFile(config(), menuItem(1, "One", VELMORA_ARGV_RECORDER));
    const Finished run = runDetached({app_ + "/velmora", "arg"}, env());
    ASSERT_TRUE(run.ended) << "the launcher waited for a menu nobody can see";
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(launched());
}

// Without a display nothing of one is loaded: the launcher's process maps no
// X11, Wayland or font library while its terminal menu is open, nor libm,
// which the launcher itself does without.
TEST_F(Launcher, TheTerminalMenuLoadsNoDisplayLibrary) {
    writeFile(config(), menuItem(1, "One", "/nonexistent"));
    const auto terminal = start();
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    const int pid = terminal->launcherPid();
    ASSERT_GT(pid, 0);
    const auto maps = readFile("/proc/" + std::to_string(pid) + "/maps");
    ASSERT_TRUE(maps.has_value() && maps->find("/velmora") != std::string::npos);
    for (const char* library :
         {"libX11.", "libxcb.", "libXft.", "libXrender.", "libXrandr.", "libwayland-client.",
          "libxkbcommon.", "libpixman-", "libfcft.", "libfontconfig.", "libfreetype.", "libm."})
        EXPECT_EQ(maps->find(library), std::string::npos) << library << " is loaded";
    terminal->keys({"Escape"});
    EXPECT_EQ(terminal->waitExit(), 0);
}

TEST_F(Launcher, MoreItemsThanRowsScroll) {
    const auto terminal = startTallMenu(30);
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    auto screen = terminal->screen();
    EXPECT_EQ(findBox(screen)->height, 10);
    EXPECT_EQ(boxItems(screen).front(), "Item 1");
    EXPECT_EQ(boxItems(screen).back(), "Item 8");
    EXPECT_NE(screen[9].find("▼"), std::string::npos) << terminal->screenText();

    terminal->keys({"End"});
    ASSERT_TRUE(waitUntil([&] { return boxItems(terminal->screen()).back() == "Item 30"; }))
        << terminal->screenText();
    screen = terminal->screen();
    EXPECT_EQ(boxItems(screen).front(), "Item 23");
    EXPECT_NE(screen[0].find("▲"), std::string::npos) << terminal->screenText();
    terminal->keys({"Enter"});
    EXPECT_EQ(terminal->waitExit(), 0);
    EXPECT_TRUE(launched(std::chrono::seconds(10)));
}

TEST_F(Launcher, TheWheelScrollsAndAClickPicksTheItemShownThere) {
    const int first = 1 + static_cast<int>(velmora::MENU_WHEEL_ROWS); // after one notch down
    const auto terminal = startTallMenu(first);
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    terminal->wheel(3, 3, true);
    ASSERT_TRUE(waitUntil([&] {
        return boxItems(terminal->screen()).front() == "Item " + std::to_string(first);
    })) << terminal->screenText();
    terminal->click(3, 1); // the first item row
    EXPECT_EQ(terminal->waitExit(), 0);
    EXPECT_TRUE(launched(std::chrono::seconds(10)));
}

// The mouse as tmux hands it on from a real terminal: a drag reaches the
// menu only because it asked for button-event tracking, and highlights the
// item it ends on; released beside the menu it picks nothing, and Return
// (through the same terminal, so after the mouse) then picks that item.
TEST_F(Launcher, ADragFromATmuxClientHighlightsTheItemItReaches) {
    writeFile(config(),
              menuItem(1, "One", "/nonexistent") + menuItem(2, "Two", VELMORA_ARGV_RECORDER));
    const auto terminal = start();
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    ASSERT_TRUE(terminal->attachClient());
    const auto box = findBox(terminal->screen());
    ASSERT_TRUE(box.has_value());
    terminal->mouseAtClient(0, box->left + 2, box->top + 1);
    terminal->mouseAtClient(32, box->left + 2, box->top + 2);
    terminal->mouseAtClient(0, box->left + box->width + 4, box->top + 2, true);
    terminal->typeAtClient("\r");
    EXPECT_EQ(terminal->waitExit(), 0);
    EXPECT_TRUE(launched(std::chrono::seconds(10)));
    EXPECT_EQ(terminal->terminalModes(), "same");
}

TEST_F(Launcher, AResizedTerminalKeepsTheMenuOnIt) {
    writeFile(config(), menuItem(1, "abcd", "/nonexistent") + menuItem(2, "e", "/nonexistent") +
                            "[position]\nxAlign=2\nyAlign=2\n");
    Terminal::Options options;
    options.columns = 50;
    options.rows = 16;
    const auto terminal = start({}, options);
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    auto box = findBox(terminal->screen());
    EXPECT_EQ(box->left, 42);
    EXPECT_EQ(box->top, 12);
    terminal->resize(30, 10);
    ASSERT_TRUE(waitUntil([&] {
        const auto moved = findBox(terminal->screen());
        return moved && moved->left == 22 && moved->top == 6;
    })) << terminal->screenText();
    terminal->keys({"Escape"});
    EXPECT_EQ(terminal->waitExit(), 0);
}

TEST_F(Launcher, WideTitlesKeepTheBoxStraightAndMnemonicsPick) {
    writeFile(config(), menuItem(1, "日本語の項目", "/nonexistent") +
                            menuItem(2, "&Alpha\tCtrl+A", VELMORA_ARGV_RECORDER) +
                            menuItem(3, "A&&B", "/nonexistent"));
    const auto terminal = start();
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    const auto screen = terminal->screen();
    EXPECT_EQ(boxItems(screen), (std::vector<std::string>{"日本語の項目", "Alpha  Ctrl+A", "A&B"}));
    // Each CJK character takes two cells, so every row of the box is exactly
    // as wide as its border: 17 cells.
    const auto box = findBox(screen);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->width, 17);
    for (int row = box->top; row < box->top + box->height; ++row) {
        int cells = 0;
        const std::string& line = screen[static_cast<std::size_t>(row)];
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto b = static_cast<unsigned char>(line[i]);
            if ((b & 0xC0) == 0x80)
                continue;
            cells += b >= 0xE3 && b <= 0xE9 ? 2 : 1; // U+3000..U+9FFF
        }
        EXPECT_EQ(cells, box->width) << "row " << row << ": " << line;
    }
    terminal->keys({"a"});
    EXPECT_EQ(terminal->waitExit(), 0);
    EXPECT_TRUE(launched(std::chrono::seconds(10)));
}

struct KeyCase {
    const char* name;
    std::vector<std::string> keys;
    int picked; // the item whose program starts
};

class LauncherKeys : public Launcher, public testing::WithParamInterface<KeyCase> {};

// Ten items in a box of six rows; each item starts a copy of the recorder
// named after it, so the recorded argv[0] tells which item was picked.
TEST_P(LauncherKeys, MoveTheHighlightAndPick) {
    const std::vector<std::string> titles{"&Alpha",  "&Bravo", "&Bingo", "Delta", "Echo",
                                          "Foxtrot", "Golf",   "Hotel",  "India", "&Quebec"};
    std::string text;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const std::string program = app_ + "/item" + std::to_string(i + 1);
        copyFile(VELMORA_ARGV_RECORDER, program, 0755);
        text += menuItem(static_cast<int>(i + 1), titles[i], program);
    }
    writeFile(config(), text);
    Terminal::Options options;
    options.columns = 40;
    options.rows = 8;
    const auto terminal = start({}, options);
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    terminal->keys(GetParam().keys);
    EXPECT_EQ(terminal->waitExit(), 0);
    ASSERT_TRUE(launched(std::chrono::seconds(10)));
    const auto argv = recordedArgv();
    ASSERT_FALSE(argv.empty());
    EXPECT_EQ(argv[0], app_ + "/item" + std::to_string(GetParam().picked));
}

// What the keys do is the menu's own rule, the same on every display; here
// each key goes through the terminal as tmux sends it: End 10, PageUp 4,
// Home 1, Down 2, PageDown 8, Up 7, then keypad Enter.
INSTANTIATE_TEST_SUITE_P(Keys, LauncherKeys,
                         testing::Values(KeyCase{"EveryKeyAsTheTerminalSendsIt",
                                                 {"End", "PageUp", "Home", "Down", "PageDown", "Up",
                                                  "KPEnter"},
                                                 7},
                                         KeyCase{"QIsAMnemonicWhenAnItemHasIt", {"q"}, 10}),
                         velmora::test::CaseName());

struct Anchor {
    int xAlign, yAlign, x, y;
    int left, top; // expected, on a 50 x 16 terminal, for an 8 x 4 box
};

class LauncherPlacement : public Launcher, public testing::WithParamInterface<Anchor> {};

TEST_P(LauncherPlacement, PutsTheBoxWhereTheAlignmentSays) {
    const Anchor& a = GetParam();
    writeFile(config(), menuItem(1, "abcd", "/nonexistent") + menuItem(2, "e", "/nonexistent") +
                            "[position]\nxAlign=" + std::to_string(a.xAlign) +
                            "\nyAlign=" + std::to_string(a.yAlign) + "\nx=" + std::to_string(a.x) +
                            "\ny=" + std::to_string(a.y) + "\n");
    Terminal::Options options;
    options.columns = 50;
    options.rows = 16;
    const auto terminal = start({}, options);
    ASSERT_TRUE(terminal->waitForMenu()) << terminal->screenText();
    const auto box = findBox(terminal->screen());
    EXPECT_EQ(box->width, 8);
    EXPECT_EQ(box->height, 4);
    EXPECT_EQ(box->left, a.left) << terminal->screenText();
    EXPECT_EQ(box->top, a.top) << terminal->screenText();
    terminal->keys({"Escape"});
    EXPECT_EQ(terminal->waitExit(), 0);
}

// Left/top: the box's left (top) edge at the point; centre: its centre (half
// the size, rounded down, before the point); right/bottom: its right (bottom)
// edge just before the point. Screen centre (25, 8), far edge (50, 16).
INSTANTIATE_TEST_SUITE_P(NineAndOffScreen, LauncherPlacement,
                         testing::Values(Anchor{0, 0, 3, 2, 3, 2}, Anchor{1, 0, 3, 2, 24, 2},
                                         Anchor{2, 0, -3, 2, 39, 2}, Anchor{0, 1, 3, 2, 3, 8},
                                         Anchor{1, 1, 3, 2, 24, 8}, Anchor{2, 1, -3, 2, 39, 8},
                                         Anchor{0, 2, 3, -2, 3, 10}, Anchor{1, 2, 3, -2, 24, 10},
                                         Anchor{2, 2, -3, -2, 39, 10},
                                         // Moved back just enough to stay on the terminal.
                                         Anchor{0, 0, 48, 15, 42, 12}, Anchor{2, 2, -60, -30, 0, 0},
                                         Anchor{7, -1, -9, -9, 0, 0}));

} // namespace
