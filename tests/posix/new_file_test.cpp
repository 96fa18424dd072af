// A new file that appears whole or not at all, by either of its two ways: a
// file without a name linked into place, and a temporary name made while
// every signal is held.
#include "platform/posix/new_file.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <dirent.h>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using velmora::publishNewFile;
using velmora::test::folderNames;
using velmora::test::readFile;
using velmora::test::TempFolder;
using velmora::test::writeFile;

namespace {

class NewFile : public testing::TestWithParam<bool> {
protected:
    TempFolder temp_;
};

TEST_P(NewFile, HoldsTheBytesAndLeavesNothingElse) {
    const std::string path = temp_ / "velmini";
    EXPECT_EQ(publishNewFile(path, "[1]\ntitle=a\n", GetParam()), 0);
    EXPECT_EQ(readFile(path), "[1]\ntitle=a\n");
    EXPECT_EQ(folderNames(temp_.path()), std::vector<std::string>{"velmini"});
}

TEST_P(NewFile, NeverReplacesWhatIsThere) {
    const std::string path = temp_ / "velmini";
    writeFile(path, "mine");
    EXPECT_EQ(publishNewFile(path, "default", GetParam()), EEXIST);
    EXPECT_EQ(readFile(path), "mine");
    EXPECT_EQ(folderNames(temp_.path()), std::vector<std::string>{"velmini"});
}

TEST_P(NewFile, AMissingFolderIsTheError) {
    EXPECT_EQ(publishNewFile(temp_ / "none/velmini", "default", GetParam()), ENOENT);
}

// 64 MiB take long enough to write that a signal sent the moment the first
// name appears in the folder arrives while the file is being made: what is
// left is the whole file or nothing. A temporary name is the first name of
// the named way, which then ends by the signal once the name is gone; the
// unnamed way's first name is the whole file's.
TEST_P(NewFile, ASignalWhileItIsWrittenLeavesTheWholeFileOrNothing) {
    const std::string path = temp_ / "velmini";
    const std::string bytes(std::size_t{64} << 20, 'b');
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, temp_.path().c_str(), IN_CREATE), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(publishNewFile(path, bytes, GetParam()));
    struct pollfd ready = {watch, POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 20000), 1) << "no name appeared";
    ASSERT_EQ(::kill(child, SIGTERM), 0);
    ::close(watch);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const bool bySignal = WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
    EXPECT_TRUE(bySignal || (GetParam() && WIFEXITED(status) && WEXITSTATUS(status) == 0));
    const std::vector<std::string> names = folderNames(temp_.path());
    EXPECT_TRUE(names.empty() || names == std::vector<std::string>{"velmini"})
        << names.front() << " is left";
    if (!names.empty()) {
        const auto written = readFile(path);
        EXPECT_TRUE(written && *written == bytes) << "a part of the file has the name";
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, NewFile, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& param) {
                             return param.param ? "Unnamed" : "NamedWithSignalsHeld";
                         });

} // namespace
