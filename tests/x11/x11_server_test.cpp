// The X11 menu and its server: none there, one that keeps the keyboard,
// one that ends while the menu is open, one that never answers, one that
// answers too late.
#include "x11_menu_fixture.h"

#include "tests/e2e/e2e_support.h"

#include <csignal>
#include <cstdio>
#include <string>

namespace velmora::x11test {
namespace {

// Where a process that did not end is waiting: each thread's state and
// kernel wait channel, and what its descriptors are (which server a socket
// reached shows in /proc/net/unix).
// A process's or thread's state letter (S sleeping, T stopped, ...).
std::string stateOf(const fs::path& proc) {
    const std::string stat = test::readText(proc / "stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos ? "?" : stat.substr(close + 2, 1);
}

std::string whereItWaits(pid_t pid) {
    const fs::path proc = "/proc/" + std::to_string(pid);
    std::string report;
    std::error_code error;
    for (fs::directory_iterator it(proc / "task", error), end; !error && it != end;
         it.increment(error)) {
        report += "\n thread " + it->path().filename().string() + " state " + stateOf(it->path()) +
                  " in " + readFile(it->path() / "wchan").value_or("?");
    }
    for (fs::directory_iterator it(proc / "fd", error), end; !error && it != end;
         it.increment(error))
        report += "\n fd " + it->path().filename().string() + " -> " +
                  fs::read_symlink(it->path(), error).string();
    // Which servers listen on which display sockets, and who holds the locks.
    if (FILE* listeners = ::popen("ss -xlp | grep X11-unix; ss -xp | grep -E "
                                  "\"velmora|Xvfb|Xwayland\"; grep -H . /tmp/.X*-lock",
                                  "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, listeners) != nullptr)
            report += std::string("\n ") + line;
        ::pclose(listeners);
    }
    return report;
}

TEST_F(X11MenuTest, WithoutAnXServerTheMenuIsDismissedQuietly) {
    // A display that no server serves. (The number of a server stopped a
    // moment ago is not that: X servers started with -displayfd take the
    // lowest free number, and one that another suite starts meanwhile would
    // take it and show this launcher's menu.)
    const std::string gone = ":65000";
    installLauncher({"&Alpha", "&Bravo"}, {});
    // No controlling terminal either, so no menu can be shown at all.
    launchCapturingErrors(gone, true);
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
    EXPECT_EQ(errorsWritten(), "") << "the launcher printed something";
}

TEST_F(X11MenuTest, WaitsForTheKeyboardThatAHotkeyDaemonStillHolds) {
    launchWhileTheKeyboardIsTaken();
    ASSERT_FALSE(HasFatalFailure());
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
    launchWhileTheKeyboardIsTaken();
    ASSERT_FALSE(HasFatalFailure());
    // The menu cannot take the input, so it is not shown: dismissed.
    expectLauncherEnds();
    EXPECT_EQ(watcher_->waitForPopup(0ms), static_cast<Window>(None)) << "a menu was mapped";
    EXPECT_EQ(launched(false), "");
}

// The X server ends while the menu is open: the menu is gone, which is a
// dismissed menu, and the launcher ends as one does.
// On a first start, and on a warm one, whose connection is libxcb's.
class X11ServerEnding : public X11MenuTest, public ::testing::WithParamInterface<bool> {};

TEST_P(X11ServerEnding, WhileTheMenuIsOpenDismissesIt) {
    startScreen();
    ASSERT_FALSE(HasFatalFailure());
    installLauncher({"&Alpha", "&Bravo"}, {});
    if (GetParam())
        startOnceAndDismiss();
    launchCapturingErrors(display(), false);
    ASSERT_NE(watcher_->waitForPopup(30s), static_cast<Window>(None)) << "no menu was mapped";
    watcher_.reset(); // the test's own connection leaves while it still can
    server_->vanish();
    expectLauncherEnds();
    EXPECT_EQ(launched(false), "");
    EXPECT_EQ(errorsWritten(), "") << "the launcher printed something";
}

INSTANTIATE_TEST_SUITE_P(Starts, X11ServerEnding, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Warm" : "First"; });

// A server that takes the connection but never answers (here a stopped
// Xvfb) is given up on after a while, as a missing one is: no controlling
// terminal either, so no menu at all, and the launcher ends.
TEST_F(X11MenuTest, GivesUpOnAServerThatNeverAnswers) {
    XvfbServer stopped(SCREEN_WIDTH, SCREEN_HEIGHT, true);
    stopped.signal(SIGSTOP);
    installLauncher({"&Alpha", "&Bravo"}, {});
    const auto start = std::chrono::steady_clock::now();
    launchCapturingErrors(stopped.display(), true);
    const auto status = launcher_.wait(30s);
    const auto waited = std::chrono::steady_clock::now() - start;
    const std::string waiting = status ? ""
                                       : whereItWaits(launcher_.pid()) +
                                             "\n the stopped server's state: " +
                                             stateOf("/proc/" + std::to_string(stopped.pid()));
    stopped.signal(SIGCONT);
    ASSERT_TRUE(status.has_value()) << "the launcher waited on for the server " << stopped.display()
                                    << "? It waits:" << waiting;
    EXPECT_EQ(*status, 0);
    EXPECT_GE(waited, 4s) << "the launcher did not wait for the server to answer";
    EXPECT_LE(waited, 15s);
    EXPECT_EQ(launched(false), "");
    EXPECT_EQ(errorsWritten(), "") << "the launcher printed something";
}

// A server that answers only once the launcher has given up on it and gone
// on to its terminal menu: the late connection, and the grabs its first
// answers brought, must not keep the keyboard from the desktop's programs.
TEST_F(X11MenuTest, AServerThatAnswersLateKeepsNoGrab) {
    XvfbServer late(SCREEN_WIDTH, SCREEN_HEIGHT, true);
    late.signal(SIGSTOP);
    installLauncher({"&Alpha", "&Bravo"}, {});
    e2e::Terminal::Options options;
    options.env = launcherEnvironment(late.display());
    e2e::Terminal terminal(folder_.path().string(), {(folder_.path() / "velmora").string()},
                           options);
    const bool shown = terminal.waitForMenu();
    late.signal(SIGCONT);
    ASSERT_TRUE(shown) << "no terminal menu after the server did not answer: "
                       << terminal.screenText();
    // The connecting thread ends once the late answers are in.
    const fs::path tasks = "/proc/" + std::to_string(terminal.launcherPid()) + "/task";
    const auto threads = [&] {
        std::error_code error;
        const auto count = std::distance(fs::directory_iterator(tasks, error), {});
        return error ? -1 : count;
    };
    ASSERT_TRUE(e2e::waitUntil([&] { return threads() == 1; }))
        << "the launcher's threads: " << threads();
    XWatcher other(late.display());
    EXPECT_TRUE(other.grabKeyboard()) << "the keyboard stays grabbed by the late connection";
    terminal.keys({"Escape"});
    EXPECT_EQ(terminal.waitExit(), 0);
}

} // namespace
} // namespace velmora::x11test
