// The launcher's first starts and its reading, through the real program: many
// first starts at once, a signal while the default file is written, short
// executable names, a standard error nobody reads, and the memory a huge
// file of many lines costs.
#include "tests/e2e/e2e_support.h"
#include "tests/support/spawn_args.h"

#include "tests/support/case_name.h"
#include "tests/support/default_file_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace velmora::e2e;
using velmora::test::folderNames;
using velmora::test::pointers;

namespace {

// The name of the lock file that every instance of the launcher shares.
constexpr char LOCK_NAME[] = "velmora-{6286FEE8-242F-4db1-B21A-D8B004526EED}.lock";

// Starts `program` in a session of its own, standard input from /dev/null
// and standard output to it, standard error to `errorFd`.
pid_t spawnDetached(const std::string& program, std::vector<std::string> env, int errorFd) {
    return spawnInSession({program}, std::move(env), -1, errorFd);
}

class FirstStart : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::chmod(temp_.path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(run_.c_str(), 0700), 0);
    }

    std::string install(const std::string& folder, const std::string& name = "velmora") {
        ::mkdir(folder.c_str(), 0755);
        copyFile(VELMORA_BINARY, folder + "/" + name, 0755);
        return folder + "/" + name;
    }

    TempFolder temp_;
    std::string run_ = temp_ / "run";
};

// --- many first starts at once -------------------------------------------------

// One launcher on a terminal of its own (a pseudo-terminal of 80x24 that
// becomes its controlling terminal), held at a barrier until all are ready.
struct PtyStart {
    int master = -1;
    pid_t pid = 0;
    std::string screen;
    std::string errors;
};

void startOnPty(PtyStart& start, const std::string& program, std::vector<std::string> env,
                const std::string& errorFile, const int barrier[2]) {
    start.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (start.master < 0 || ::grantpt(start.master) != 0 || ::unlockpt(start.master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const std::string slave = ::ptsname(start.master);
    struct winsize size {};
    size.ws_col = 80;
    size.ws_row = 24;
    ::ioctl(start.master, TIOCSWINSZ, &size);
    std::vector<std::string> args{program};
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);
    start.pid = ::fork();
    if (start.pid < 0)
        throw std::runtime_error("fork");
    if (start.pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::setsid();
        const int tty = ::open(slave.c_str(), O_RDWR);
        const int error = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (tty < 0 || error < 0)
            ::_exit(127);
        ::dup2(tty, 0);
        ::dup2(tty, 1);
        ::dup2(error, 2);
        // Every start holds the barrier's writing end until it waits.
        ::close(barrier[1]);
        char byte = 0;
        while (::read(barrier[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
}

// Where no single-instance lock can be had, first starts run side by side and
// race to write the default file: whichever start wins, every start shows
// that file's menu and says nothing of the default file.
TEST_F(FirstStart, ManyAtOnceWithoutALockAllShowTheFileThatWon) {
    constexpr int STARTS = 50;
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    // The lock file's place is taken by a folder: no start gets the lock.
    ASSERT_EQ(::mkdir((run_ + "/" + LOCK_NAME).c_str(), 0700), 0);

    int barrier[2];
    ASSERT_EQ(::pipe2(barrier, O_CLOEXEC), 0);
    std::vector<PtyStart> starts(STARTS);
    for (int i = 0; i < STARTS; ++i)
        startOnPty(starts[i], program, launcherEnvironment(run_),
                   temp_ / ("stderr-" + std::to_string(i)), barrier);
    ::close(barrier[0]);
    ::close(barrier[1]); // all go

    // Each menu is drawn whole once its last item is on screen.
    const auto shown = [](const PtyStart& s) {
        return s.screen.find("NetFront") != std::string::npos;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline &&
           !std::all_of(starts.begin(), starts.end(), shown)) {
        std::vector<pollfd> fds;
        for (const PtyStart& s : starts)
            fds.push_back(pollfd{s.master, POLLIN, 0});
        ::poll(fds.data(), fds.size(), 50);
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(starts[i].master, buffer, sizeof buffer);
            if (n > 0)
                starts[i].screen.append(buffer, static_cast<std::size_t>(n));
        }
    }
    int showing = 0;
    for (int i = 0; i < STARTS; ++i) {
        PtyStart& s = starts[i];
        showing += shown(s) ? 1 : 0;
        EXPECT_TRUE(shown(s) && s.screen.find("Internet Explorer") != std::string::npos &&
                    s.screen.find("Opera") != std::string::npos)
            << "start " << i << " did not show the default menu";
        ::write(s.master, "q", 1);
    }
    EXPECT_EQ(showing, STARTS);
    for (int i = 0; i < STARTS; ++i) {
        PtyStart& s = starts[i];
        int status = 0;
        if (!waitUntil([&] { return ::waitpid(s.pid, &status, WNOHANG) == s.pid; },
                       std::chrono::seconds(10))) {
            ::kill(s.pid, SIGKILL);
            ::waitpid(s.pid, &status, 0);
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "start " << i;
        ::close(s.master);
        EXPECT_EQ(readFile(temp_ / ("stderr-" + std::to_string(i))).value_or(""),
                  "velmora: no single-instance guard for this start: no lock file can be had in "
                  "a folder private to this user ($XDG_RUNTIME_DIR, /tmp/velmora-" +
                      std::to_string(::geteuid()) + ", $TMPDIR/velmora-" +
                      std::to_string(::geteuid()) + ")\n")
            << "start " << i;
    }
    EXPECT_EQ(readFile(app + "/velmini"), velmora::test::DEFAULT_FILE_LF);
    EXPECT_EQ(folderNames(app), (std::vector<std::string>{"velmini", "velmora"}));
}

// --- a signal while the default file is written ------------------------------

class FirstStartSignal : public FirstStart, public testing::WithParamInterface<SignalCase> {};

// The first name that appears in the launcher's folder is the whole default
// file, and a signal sent the moment a name appears leaves nothing else.
TEST_P(FirstStartSignal, NoNameExistsUntilTheFileIsWhole) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, app.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = spawnDetached(program, launcherEnvironment(run_), null);
    ::close(null);

    std::string first;
    const bool appeared = waitUntil(
        [&] {
            alignas(inotify_event) char buffer[sizeof(inotify_event) + NAME_MAX + 1];
            const ssize_t n = ::read(watch, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            first = reinterpret_cast<const inotify_event*>(buffer)->name;
            ::kill(pid, GetParam().number);
            return true;
        },
        std::chrono::seconds(15));
    ::close(watch);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(appeared) << "no file appeared";
    EXPECT_EQ(first, "velmini");
    const std::vector<std::string> names = folderNames(app);
    EXPECT_TRUE(names == std::vector<std::string>{"velmora"} ||
                names == (std::vector<std::string>{"velmini", "velmora"}))
        << names.size() << " names, the last " << names.back();
    if (names.size() == 2) {
        EXPECT_EQ(readFile(app + "/velmini"), velmora::test::DEFAULT_FILE_LF);
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, FirstStartSignal,
                         testing::Values(SignalCase{"TERM", SIGTERM}, SignalCase{"INT", SIGINT},
                                         SignalCase{"HUP", SIGHUP}),
                         velmora::test::CaseName());

// --- short executable names ---------------------------------------------------

struct NameCase {
    const char* executable;
    const char* config;
};

class FirstStartName : public FirstStart, public testing::WithParamInterface<NameCase> {};

// The file lies in the executable's own folder, whatever the length of its
// name; nothing is read or written in the folder above.
TEST_P(FirstStartName, TheFileLiesInTheExecutablesOwnFolder) {
    const std::string folder = temp_ / "short";
    const std::string program = install(folder, GetParam().executable);
    const Finished run = runDetached({program}, launcherEnvironment(run_));
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(readFile(folder + "/" + GetParam().config), velmora::test::DEFAULT_FILE_LF);
    EXPECT_EQ(folderNames(temp_.path()), (std::vector<std::string>{"run", "short"}));
}

INSTANTIATE_TEST_SUITE_P(Names, FirstStartName,
                         testing::Values(NameCase{"v", "ini"}, NameCase{"ve", "ini"},
                                         NameCase{"vel", "ini"}, NameCase{"menu", "mini"},
                                         NameCase{"velmora", "velmini"}),
                         [](const testing::TestParamInfo<NameCase>& param) {
                             return std::string("Named_") + param.param.executable;
                         });

// --- a standard error that nobody reads -----------------------------------------

// Standard error is a pipe whose reader has gone when the launcher has
// something to say: it says it into the void and ends as it would, not by
// SIGPIPE.
TEST_F(FirstStart, AStandardErrorNobodyReadsDoesNotEndTheLauncher) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    ASSERT_EQ(::mkdir((app + "/velmini").c_str(), 0755), 0); // "it is a folder"
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    ::close(pipe[0]);
    const pid_t pid = spawnDetached(program, launcherEnvironment(run_), pipe[1]);
    ::close(pipe[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// --- memory ---------------------------------------------------------------------

struct MemoryCase {
    const char* name;
    std::string line; // repeated to fill the file
};

class FirstStartMemory : public FirstStart, public testing::WithParamInterface<MemoryCase> {};

// 32 MiB of lines that are no part of the menu: the launcher ends normally
// with a peak resident memory far below the file's own size.
TEST_P(FirstStartMemory, AFileOfManyLinesCostsLittleMemory) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    {
        std::string block = "[1]\ntitle=One\nexec=/bin/true\n";
        while (block.size() < (std::size_t{1} << 20))
            block += GetParam().line;
        std::string bytes;
        while (bytes.size() < (std::size_t{32} << 20))
            bytes += block;
        writeFile(app + "/velmini", bytes);
    }
    // Measured from a small parent: a child's peak counts the memory of the
    // process it was forked from, which here would be the test's own.
    const std::string report = temp_ / "report";
    writeFile(temp_ / "request", std::string("self\0", 5) + report + '\0' + '\0' + program + '\0');
    const Finished run = runDetached({VELMORA_E2E_EXEC, temp_ / "request"},
                                     launcherEnvironment(run_), std::chrono::seconds(60));
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "");
    const std::string text = readFile(report).value_or("");
    const std::size_t at = text.find("maxrss=");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_LT(std::stol(text.substr(at + 7)), 32 * 1024) << "KiB at the peak";
}

INSTANTIATE_TEST_SUITE_P(Files, FirstStartMemory,
                         testing::Values(MemoryCase{"ShortLines", "x\n"},
                                         MemoryCase{"ManyKeys", "key=value\n"},
                                         MemoryCase{"RepeatedTitles", "title=again\n"},
                                         MemoryCase{"NamedSections", "[s]\nk=v\n"},
                                         MemoryCase{"NotUtf8", "\xff=\xfe\n"}),
                         velmora::test::CaseName());

} // namespace
