// The shell's "Open" without a shell: how a file name is resolved, and what
// a started program receives.
#include "platform/posix/command_line.h"
#include "platform/posix/platform_posix.h"
#include "platform/posix/shell_open.h"
#include "tests/support/case_name.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velmora;
using velmora::test::TempFolder;

namespace {

void makeFile(const std::string& path, mode_t mode) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, mode);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, "#!/bin/sh\n", 10), 10);
    ::close(fd);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

ShellExecuteRequest request(const std::u16string& file, const std::u16string& parameters = u"") {
    return ShellExecuteRequest{u"Open", file, parameters};
}

std::u16string u16(const std::string& s) {
    return argumentText(s);
}

// Waits (bounded) for the recorder's file and returns what it wrote.
std::string awaitRecord(const std::string& path) {
    for (int i = 0; i < 1000; ++i) {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            return text.str();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "(no record after 10 s)";
}

std::string expectedRecord(const std::vector<std::string>& argv) {
    std::string text = std::to_string(argv.size()) + "\n";
    for (const std::string& argument : argv)
        text += std::to_string(argument.size()) + ":" + argument + "\n";
    return text + "stdin-null=1\nsession-leader=1\n";
}

TEST(FindInPath, TakesTheFirstExecutableRegularFile) {
    TempFolder temp;
    for (const char* folder : {"a", "b", "c", "d"})
        ASSERT_EQ(::mkdir((temp / folder).c_str(), 0755), 0);
    makeFile(temp / "a/tool", 0644);                        // not executable: skipped
    ASSERT_EQ(::mkdir((temp / "b/tool").c_str(), 0755), 0); // a folder: skipped
    makeFile(temp / "c/tool", 0755);
    makeFile(temp / "d/tool", 0755);
    const std::string path = temp / "a" + ":" + temp / "b" + ":" + temp / "c" + ":" + temp / "d";
    EXPECT_EQ(findInPath("tool", path.c_str()), temp / "c/tool");
    EXPECT_EQ(findInPath("none", path.c_str()), "");
    EXPECT_EQ(findInPath("c/tool", temp.path().c_str()), "") << "a name with / is no bare name";
    EXPECT_EQ(findInPath("", path.c_str()), "");
}

TEST(FindInPath, AnEmptyEntryIsTheCurrentFolder) {
    TempFolder temp;
    makeFile(temp / "here", 0755);
    char saved[4096];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(temp.path().c_str()), 0);
    EXPECT_EQ(findInPath("here", "/nonexistent::/also-not"), "./here");
    EXPECT_EQ(findInPath("here", "/nonexistent"), "");
    ASSERT_EQ(::chdir(saved), 0);
}

struct PlanCase {
    const char* name;
    std::string file; // relative to the temp folder when it starts with "@"
    bool withOpener;  // an xdg-open in the search path
    bool refused;
    std::string program; // "@..." relative to the temp folder
    std::vector<std::string> argv;
};

class Plan : public testing::TestWithParam<PlanCase> {};

TEST_P(Plan, ResolvesTheFile) {
    const PlanCase& c = GetParam();
    TempFolder temp;
    ASSERT_EQ(::mkdir((temp / "bin").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((temp / "opener").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((temp / "my folder").c_str(), 0755), 0);
    makeFile(temp / "bin/prog", 0755);
    makeFile(temp / "opener/xdg-open", 0755);
    makeFile(temp / "my folder/run me", 0755);
    makeFile(temp / "doc.txt", 0644);
    const auto resolve = [&](const std::string& s) {
        return !s.empty() && s[0] == '@' ? temp / s.substr(1) : s;
    };
    const std::string path = temp / "bin" + (c.withOpener ? ":" + temp / "opener" : "");
    const ShellOpenPlan plan =
        planShellOpen(request(u16(resolve(c.file)), u"a 'b c' ''"), path.c_str());
    EXPECT_EQ(plan.refused, c.refused) << plan.reason;
    if (c.refused) {
        EXPECT_FALSE(plan.reason.empty());
        return;
    }
    EXPECT_EQ(plan.program, resolve(c.program));
    std::vector<std::string> argv;
    for (const std::string& a : c.argv)
        argv.push_back(resolve(a));
    EXPECT_EQ(plan.argv, argv);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Plan,
    testing::Values(
        PlanCase{"BareNameFromPath", "prog", true, false, "@bin/prog", {"prog", "a", "b c", ""}},
        PlanCase{"PathWithBlanks",
                 "@my folder/run me",
                 false,
                 false,
                 "@my folder/run me",
                 {"@my folder/run me", "a", "b c", ""}},
        PlanCase{"DocumentToOpener",
                 "@doc.txt",
                 true,
                 false,
                 "@opener/xdg-open",
                 {"xdg-open", "@doc.txt"}},
        PlanCase{"FolderToOpener",
                 "@my folder",
                 true,
                 false,
                 "@opener/xdg-open",
                 {"xdg-open", "@my folder"}},
        PlanCase{"UrlToOpener",
                 "https://example.org/a b",
                 true,
                 false,
                 "@opener/xdg-open",
                 {"xdg-open", "https://example.org/a b"}},
        PlanCase{"DocumentWithoutOpener", "@doc.txt", false, true, "", {}},
        PlanCase{"UrlWithoutOpener", "mailto:someone@example.org", false, true, "", {}},
        PlanCase{"MissingPath", "@nothing/here", true, true, "", {}},
        PlanCase{"BareNameNotInPath", "nothing-here", true, true, "", {}},
        PlanCase{"BareNameIsNoFileOfTheCurrentFolder", "doc.txt", true, true, "", {}},
        PlanCase{"WindowsPathOfTheDefaultFile",
                 "\\Program Files\\Opera\\Opera.exe",
                 true,
                 true,
                 "",
                 {}}),
    velmora::test::CaseName());

TEST(PlanVerb, OnlyOpenIsKnown) {
    ShellExecuteRequest r = request(u"/bin/true");
    r.verb = u"Edit";
    EXPECT_TRUE(planShellOpen(r, "/bin").refused);
    r.verb = u"Open";
    EXPECT_FALSE(planShellOpen(r, "/bin").refused);
}

// A program in a folder whose name is not UTF-8 (carried as U+DC80 + byte)
// is run from exactly that folder.
TEST(PlanFile, NamesThatAreNotUtf8ReachTheSystemByteForByte) {
    TempFolder temp;
    const std::string folder = temp / "jos\xE9";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    makeFile(folder + "/prog", 0755);
    const ShellOpenPlan plan = planShellOpen(request(argumentText(folder + "/prog")), "/bin");
    ASSERT_FALSE(plan.refused) << plan.reason;
    EXPECT_EQ(plan.program, folder + "/prog");
    EXPECT_EQ(plan.argv.at(0), folder + "/prog");
}

TEST(ShellExecute, StartsTheProgramDetachedWithTheLauncherArguments) {
    TempFolder temp;
    const std::string record = temp / "record";
    ASSERT_EQ(::setenv("VELMORA_RECORD", record.c_str(), 1), 0);
    const std::vector<std::string> arguments{
        "",          "two words", "it's",     "\"q\"", "back\\slash",
        "new\nline", "日本語",    "\xFF\xFE", "$HOME", "*"};
    PlatformPosix platform;
    EXPECT_TRUE(
        platform.shellExecuteEx(request(u16(VELMORA_ARGV_RECORDER), joinCommandLine(arguments))));
    std::vector<std::string> argv{VELMORA_ARGV_RECORDER};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(awaitRecord(record), expectedRecord(argv));
    ::unsetenv("VELMORA_RECORD");
}

TEST(ShellExecute, RefusalIsOneLineOnStandardError) {
    PlatformPosix platform;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(platform.shellExecuteEx(request(u"/nonexistent/velmora\nprog")));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_NE(err.find("/nonexistent/velmora?prog"), std::string::npos) << err;
}

TEST(ShellExecute, AFileThatCannotBeExecutedIsRefused) {
    TempFolder temp;
    const std::string noFormat = temp / "no-format";
    const int fd = ::open(noFormat.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0755);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd,
                      "\x7f"
                      "ELF garbage",
                      12),
              12);
    ::close(fd);
    PlatformPosix platform;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(platform.shellExecuteEx(request(u16(noFormat))));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(noFormat), std::string::npos);
}

} // namespace
