// The launcher as an installed program: installed with cmake --install into
// a fresh prefix (as a user does into ~/.local), then started from there. Its
// configuration lies beside the installed executable and is written there on
// the first start; the checker beside it reads that file; the manual pages
// render without a warning.
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

namespace fs = std::filesystem;

struct Finished {
    bool ended = false;
    int exitCode = -1;
    std::string output; // standard output and error together
};

// Runs `argv` (looked up in PATH) in a session of its own, so without a
// terminal, with standard input from /dev/null; killed after `limit`.
Finished runDetached(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    Finished result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = env;
    std::vector<char*> argp;
    std::vector<char*> envp;
    for (auto& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& e : envs)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (error != 0) {
        ::close(fds[0]);
        result.output = "cannot start " + argv[0];
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.ended = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class InstalledProgram : public ::testing::Test {
protected:
    void SetUp() override {
        const Finished installed = runDetached(
            {VELMORA_CMAKE, "--install", VELMORA_BUILD_DIR, "--prefix", prefix().string()},
            environment(), std::chrono::seconds(60));
        ASSERT_TRUE(installed.ended && installed.exitCode == 0) << installed.output;
    }

    fs::path prefix() const { return folder_.path() / "prefix with blanks"; }
    fs::path bin() const { return prefix() / "bin"; }

    // No display and no terminal: the launcher shows nothing and ends.
    std::vector<std::string> environment() {
        const fs::path runtime = folder_.path() / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        const char* path = std::getenv("PATH");
        return {"PATH=" + std::string(path != nullptr ? path : "/usr/bin:/bin"), "LANG=C.UTF-8",
                "XDG_RUNTIME_DIR=" + runtime.string()};
    }

    test::TempFolder folder_;
};

TEST_F(InstalledProgram, PutsTheProgramsAndManualPagesInPlace) {
    for (const char* program : {"velmora", "velmora-check"}) {
        const fs::path file = bin() / program;
        ASSERT_TRUE(fs::is_regular_file(file)) << file;
        EXPECT_NE(fs::status(file).permissions() & fs::perms::owner_exec, fs::perms::none) << file;
    }
    for (const char* page : {"velmora.1", "velmora-check.1"})
        EXPECT_TRUE(fs::is_regular_file(prefix() / "share" / "man" / "man1" / page)) << page;
}

TEST_F(InstalledProgram, FirstStartWritesTheConfigurationBesideTheInstalledLauncher) {
    const Finished run = runDetached({(bin() / "velmora").string(), "an argument"}, environment());
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "");
    const auto config = test::readFile(bin() / "velmini");
    ASSERT_TRUE(config.has_value()) << "no configuration beside the installed launcher";
    EXPECT_NE(config->find("[1]"), std::string::npos);

    // The checker beside it reads the same file and finds nothing to report.
    const Finished check = runDetached({(bin() / "velmora-check").string()}, environment());
    ASSERT_TRUE(check.ended);
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(check.output.find("40001"), std::string::npos) << check.output;
}

TEST_F(InstalledProgram, ManualPagesRenderWithoutWarnings) {
    for (const char* page : {"velmora.1", "velmora-check.1"}) {
        const fs::path file = prefix() / "share" / "man" / "man1" / page;
        const Finished lint =
            runDetached({"groff", "-man", "-Tutf8", "-ww", "-z", file.string()}, environment());
        ASSERT_TRUE(lint.ended) << "groff did not run";
        EXPECT_EQ(lint.exitCode, 0) << page << ": " << lint.output;
        EXPECT_EQ(lint.output, "") << page;
        auto environmentWithWidth = environment();
        environmentWithWidth.push_back("MANWIDTH=80");
        const Finished shown = runDetached({"man", "-l", file.string()}, environmentWithWidth);
        ASSERT_TRUE(shown.ended);
        EXPECT_EQ(shown.exitCode, 0) << shown.output;
        EXPECT_NE(shown.output.find("SYNOPSIS"), std::string::npos) << shown.output;
    }
}

} // namespace
} // namespace velmora
