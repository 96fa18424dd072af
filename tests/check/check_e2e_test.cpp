// The real velmora-check program on real files in temporary folders.
#include "check_test_support.h"
#include "config/config_file.h"
#include "json_reader.h"
#include "text/text_codec.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace velmora::check {
namespace {

namespace fs = std::filesystem;
using test::LintCase;
using test::TempDir;

struct ProgramRun {
    int status = -1; // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Owns a posix_spawn_file_actions_t.
class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

// Runs `program` with `args`, its output caught in files of a folder of its own.
ProgramRun runProgram(const fs::path& program, const std::vector<std::string>& args) {
    TempDir outputs;
    const std::string outPath = (outputs / "stdout");
    const std::string errPath = (outputs / "stderr");
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 1, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(actions.get(), 2, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> storage{program.string()};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    ProgramRun run;
    pid_t pid = 0;
    if (posix_spawn(&pid, storage[0].c_str(), actions.get(), nullptr, argv.data(), environ) != 0) {
        ADD_FAILURE() << "cannot start " << program;
        return run;
    }
    int wait = 0;
    while (waitpid(pid, &wait, 0) < 0) {
    }
    if (WIFEXITED(wait))
        run.status = WEXITSTATUS(wait);
    run.out = test::readFile(outPath).value_or("");
    run.err = test::readFile(errPath).value_or("");
    return run;
}

const fs::path CHECKER = VELMORA_CHECK_PATH;

ProgramRun check(const std::vector<std::string>& args) {
    return runProgram(CHECKER, args);
}

JsonValue parsed(const ProgramRun& run) {
    const std::optional<JsonValue> json = parseJson(run.out);
    EXPECT_TRUE(json.has_value()) << run.out;
    return json.value_or(JsonValue{});
}

// Writes the default file at `path` the way the launcher does on a first run.
void writeDefaultFile(const fs::path& path) {
    const std::unique_ptr<Platform> host = createHostPlatform();
    ConfigFile config(*host, utf8ToUtf16(path.string()));
    ASSERT_TRUE(config.fileMissing());
    config.writeDefault();
    ASSERT_FALSE(config.fileMissing());
}

TEST(CheckerProgram, JsonOfTheDefaultFileIsItsDocument) {
    TempDir dir;
    const fs::path file = dir / "velmini";
    writeDefaultFile(file);

    const ProgramRun run = check({"--json", file.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const JsonValue json = parsed(run);

    ASSERT_EQ(json.members.size(), 5u);
    EXPECT_EQ(json.members[0].first, u"file");
    EXPECT_EQ(json.find(u"file")->string, utf8ToUtf16(file.string()));
    EXPECT_EQ(json.find(u"fileMissing")->kind, JsonValue::Kind::Bool);
    EXPECT_FALSE(json.find(u"fileMissing")->boolean);

    using Entries = std::vector<std::pair<std::u16string, std::u16string>>;
    const std::vector<std::pair<std::u16string, Entries>> expected = {
        {u"1", {{u"title", u"Internet Explorer"}, {u"exec", u"iexplore.exe"}}},
        {u"2", {{u"title", u"Opera"}, {u"exec", u"\\Program Files\\Opera\\Opera.exe"}}},
        {u"3",
         {{u"title", u"NetFront"}, {u"exec", u"\\Program Files\\netfront33\\netfront33.exe"}}},
        {u"position", {{u"xAlign", u"0"}, {u"yAlign", u"0"}, {u"x", u"0"}, {u"y", u"0"}}},
    };
    const JsonValue& sections = *json.find(u"sections");
    ASSERT_EQ(sections.items.size(), expected.size());
    for (std::size_t s = 0; s < expected.size(); ++s) {
        const JsonValue& section = sections.items[s];
        ASSERT_EQ(section.members.size(), 2u);
        EXPECT_EQ(section.find(u"name")->string, expected[s].first);
        const JsonValue& entries = *section.find(u"entries");
        ASSERT_EQ(entries.items.size(), expected[s].second.size());
        for (std::size_t e = 0; e < entries.items.size(); ++e) {
            ASSERT_EQ(entries.items[e].members.size(), 2u);
            EXPECT_EQ(entries.items[e].find(u"key")->string, expected[s].second[e].first);
            EXPECT_EQ(entries.items[e].find(u"value")->string, expected[s].second[e].second);
        }
    }

    const JsonValue& menu = *json.find(u"menu");
    EXPECT_EQ(menu.find(u"screen")->find(u"width")->integer, 240);
    EXPECT_EQ(menu.find(u"screen")->find(u"height")->integer, 320);
    const JsonValue& items = *menu.find(u"items");
    ASSERT_EQ(items.items.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(items.items[i].find(u"command")->integer, 40001 + static_cast<int>(i));
        EXPECT_EQ(items.items[i].find(u"entry")->integer, 1 + static_cast<int>(i));
        EXPECT_EQ(items.items[i].find(u"title")->string, expected[i].second[0].second);
        EXPECT_EQ(items.items[i].find(u"exec")->string, expected[i].second[1].second);
    }
    EXPECT_EQ(menu.find(u"x")->integer, 0);
    EXPECT_EQ(menu.find(u"y")->integer, 0);
    EXPECT_EQ(menu.find(u"flags")->integer, 0x0100);
    EXPECT_TRUE(json.find(u"warnings")->items.empty());
}

class CheckerProgramTraps : public ::testing::TestWithParam<LintCase> {};

TEST_P(CheckerProgramTraps, ExitStatusAndWarningLines) {
    const LintCase& fixture = GetParam();
    TempDir dir;
    test::writeFile(dir / "velmini", fixture.text);

    const ProgramRun run = check({"--json", (dir / "velmini")});
    EXPECT_EQ(run.status, fixture.warnings.empty() ? 0 : 1) << run.err;
    const JsonValue json = parsed(run);
    const JsonValue* warnings = json.find(u"warnings");
    ASSERT_NE(warnings, nullptr);
    ASSERT_EQ(warnings->items.size(), fixture.warnings.size()) << run.out;
    for (std::size_t i = 0; i < fixture.warnings.size(); ++i) {
        EXPECT_EQ(warnings->items[i].find(u"line")->integer,
                  static_cast<std::int64_t>(fixture.warnings[i].line));
        EXPECT_NE(utf16ToUtf8(warnings->items[i].find(u"message")->string)
                      .find(fixture.warnings[i].fragment),
                  std::string::npos);
    }

    // The human form carries the same warnings and the same status.
    const ProgramRun text = check({(dir / "velmini")});
    EXPECT_EQ(text.status, run.status);
    for (const test::ExpectedWarning& warning : fixture.warnings)
        EXPECT_NE(text.out.find("line " + std::to_string(warning.line) + ": "), std::string::npos)
            << text.out;
}

INSTANTIATE_TEST_SUITE_P(Traps, CheckerProgramTraps, ::testing::ValuesIn(test::lintCases()),
                         [](const ::testing::TestParamInfo<LintCase>& p) { return p.param.name; });

TEST(CheckerProgram, HumanFormShowsDocumentMenuAndPlacement) {
    TempDir dir;
    test::writeFile(
        dir / "velmini",
        "[2]\ntitle=Two\nexec=b\n[1]\ntitle=One\n[position]\nxAlign=1\nyAlign=2\ny=-26\n");
    const ProgramRun run = check({(dir / "velmini")});
    EXPECT_EQ(run.status, 1); // item 1 has no "exec"
    EXPECT_NE(run.out.find("  [2]\n    title=Two\n    exec=b\n  [1]\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("40001  [1] One  (no exec)\n  40002  [2] Two  ->  b\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(
                  "x=120 y=294 flags=0x0124 (TPM_RETURNCMD | TPM_CENTERALIGN | TPM_BOTTOMALIGN)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("line 4: menu item 1 (\"One\") has no \"exec\" key"), std::string::npos)
        << run.out;
}

struct ScreenArgs {
    const char* name;
    std::vector<std::string> args;
    int width;
    int height;
};

void PrintTo(const ScreenArgs& c, std::ostream* os) {
    *os << c.name;
}

class CheckerProgramScreen : public ::testing::TestWithParam<ScreenArgs> {};

TEST_P(CheckerProgramScreen, PlacesTheMenuOnTheGivenScreen) {
    TempDir dir;
    test::writeFile(dir / "velmini", "[position]\nxAlign=2\nyAlign=1\n");
    std::vector<std::string> args = GetParam().args;
    args.push_back((dir / "velmini"));
    const ProgramRun run = check(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const JsonValue json = parsed(run);
    const JsonValue& menu = *json.find(u"menu");
    EXPECT_EQ(menu.find(u"screen")->find(u"width")->integer, GetParam().width);
    EXPECT_EQ(menu.find(u"screen")->find(u"height")->integer, GetParam().height);
    EXPECT_EQ(menu.find(u"x")->integer, GetParam().width);
    EXPECT_EQ(menu.find(u"y")->integer, GetParam().height / 2);
    EXPECT_EQ(menu.find(u"flags")->integer, 0x0118);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CheckerProgramScreen,
    ::testing::Values(ScreenArgs{"default", {"--json"}, 240, 320},
                      ScreenArgs{"separate", {"--json", "--screen", "480x641"}, 480, 641},
                      ScreenArgs{"inline", {"--screen=800X600", "--json"}, 800, 600}),
    [](const ::testing::TestParamInfo<ScreenArgs>& p) { return p.param.name; });

TEST(CheckerProgram, BadUsageExitsWithTwo) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--screen", "wide"}, {"--nope"}, {"a", "b"}}) {
        const ProgramRun run = check(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("usage: velmora-check"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST(CheckerProgram, UnopenableFileExitsWithTwoAndCreatesNothing) {
    TempDir dir;
    const fs::path missing = dir / "velmini";
    fs::create_directory(dir / "folder");
    for (const fs::path& path : {missing, fs::path(dir / "folder")}) {
        const ProgramRun text = check({path.string()});
        EXPECT_EQ(text.status, 2);
        EXPECT_EQ(text.out, "");
        EXPECT_NE(text.err.find("cannot open \"" + path.string() + "\""), std::string::npos)
            << text.err;

        const ProgramRun json = check({"--json", path.string()});
        EXPECT_EQ(json.status, 2);
        const JsonValue value = parsed(json);
        EXPECT_TRUE(value.find(u"fileMissing")->boolean);
        EXPECT_TRUE(value.find(u"sections")->items.empty());
        EXPECT_TRUE(value.find(u"menu")->find(u"items")->items.empty());
    }
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

// The reason a file cannot be opened is named: not found, a folder, a FIFO,
// and a file another user may not read (the checker run as nobody).
TEST(CheckerProgram, SaysWhyAFileCannotBeOpened) {
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    test::writeFile(dir / "secret", "[1]\ntitle=A\n");
    fs::permissions(dir / "secret", fs::perms::owner_read | fs::perms::owner_write);
    const fs::path copy = dir / "velmora-check";
    fs::copy_file(CHECKER, copy);
    fs::permissions(copy, fs::perms::all);

    const struct {
        fs::path path;
        std::string reason;
        bool asNobody;
    } cases[] = {
        {dir / "missing", "no such file", false},
        {dir / "folder", "it is a folder", false},
        {dir / "fifo", "it is a FIFO", false},
        {dir / "secret", "Permission denied", true},
    };
    for (const auto& c : cases) {
        const ProgramRun run =
            c.asNobody
                ? runProgram("/usr/bin/setpriv", {"--reuid=nobody", "--regid=nogroup",
                                                  "--clear-groups", copy.string(), c.path.string()})
                : runProgram(copy, {c.path.string()});
        EXPECT_EQ(run.status, 2) << c.path << run.err;
        EXPECT_NE(run.err.find("cannot open \"" + c.path.string() + "\": " + c.reason),
                  std::string::npos)
            << run.err;
    }
}

// A regular file that never ends is read up to the limit, and the checker
// says so; the configuration before it still counts.
TEST(CheckerProgram, AFileThatNeverEndsStopsAtTheReadLimitWithAWarning) {
    TempDir dir;
    fs::create_symlink("/proc/self/pagemap", dir / "velmini");
    const ProgramRun run = check({"--json", (dir / "velmini")});
    ASSERT_EQ(run.status, 1) << run.err;
    const JsonValue json = parsed(run);
    const auto& warnings = json.find(u"warnings")->items;
    ASSERT_FALSE(warnings.empty());
    EXPECT_NE(utf16ToUtf8(warnings.back().find(u"message")->string)
                  .find("the file goes on past 256 MiB; the launcher reads no further"),
              std::string::npos)
        << run.out.substr(0, 2000);
}

// Lines are numbered as the file has them however long it is, and only what
// the document keeps is kept: a large file of empty lines with an item at
// its end.
TEST(CheckerProgram, NumbersTheLinesOfALargeFile) {
    TempDir dir;
    std::string text(3 * 1024 * 1024, '\n');
    text += "[1]\ntitle=Last\nexec=a \n";
    test::writeFile(dir / "velmini", text);
    const ProgramRun run = check({(dir / "velmini")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("40001  [1] Last  ->  a \n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("line " + std::to_string(3 * 1024 * 1024 + 3) +
                           ": the value \"a \" ends with a blank"),
              std::string::npos)
        << run.out;
}

// A file whose report would pass the checker's memory budget (here 2 MiB of
// lines without "=", each an entry and a warning) ends with a clear message
// and exit status 2, in either form, with nothing on standard output; the
// same lines as comments are checked to the end.
TEST(CheckerProgram, AFileTooLargeToReportEndsWithTwoAndSaysWhy) {
    TempDir dir;
    test::writeFile(
        dir / "velmini", std::string("[1]\ntitle=A\n") + [] {
            std::string lines;
            for (int i = 0; i < (1 << 20); ++i)
                lines += "x\n";
            return lines;
        }());
    for (const char* form : {"--json", "--screen=240x320"}) {
        const ProgramRun run = check({form, (dir / "velmini")});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("\" is too large to check: by line "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("need more than 96 MiB, the checker's limit"), std::string::npos)
            << run.err;
    }
    std::string comments = "[1]\ntitle=A\nexec=/bin/true\n";
    comments.resize(comments.size() + (std::size_t{64} << 20), '#');
    for (std::size_t at = 40; at < comments.size(); at += 2)
        comments[at] = '\n';
    test::writeFile(dir / "comments", comments);
    const ProgramRun run = check({(dir / "comments")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("40001  [1] A  ->  /bin/true\n"), std::string::npos);
}

// Escape sequences in the file (C1 CSI and ST, ESC, OSC, BEL) never reach
// the terminal raw: the text report shows them as escapes, JSON as \u00XX.
TEST(CheckerProgram, ControlCharactersAreEscapedInBothForms) {
    TempDir dir;
    test::writeFile(dir / "velmini", "[1]\ntitle=\xC2\x9B"
                                     "31mRed\x1B]0;x\x07\xC2\x9C\nexec=a\n");
    const ProgramRun text = check({(dir / "velmini")});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("title=\\u009B31mRed\\x1B]0;x\\x07\\u009C\n"), std::string::npos)
        << text.out;
    for (const char c : text.out + text.err) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte >= 0x20 || byte == '\n') << "a control byte reached the output";
    }
    EXPECT_EQ(text.out.find("\xC2\x9B"), std::string::npos);
    EXPECT_EQ(text.out.find("\xC2\x9C"), std::string::npos);

    const ProgramRun json = check({"--json", (dir / "velmini")});
    EXPECT_NE(json.out.find("\"\\u009b31mRed\\u001b]0;x\\u0007\\u009c\""), std::string::npos)
        << json.out;
    EXPECT_EQ(parsed(json).find(u"menu")->find(u"items")->items.at(0).find(u"title")->string,
              u"\u009B31mRed\u001B]0;x\u0007\u009C");
}

// A folder whose name is not UTF-8 (Latin-1 "jos\xE9"): the checker beside a
// launcher there reads that launcher's file, and a FILE argument naming it
// reaches the system byte for byte; the report shows the byte as \xE9.
TEST(CheckerProgram, FileNamesThatAreNotUtf8AreKeptByteForByte) {
    TempDir dir;
    const std::string own = dir / "jos\xE9";
    const std::string lookalike = dir / "jos\xEF\xBF\xBD";
    fs::create_directory(own);
    fs::create_directory(lookalike);
    test::writeFile(own + "/velmini", "[1]\ntitle=Own\nexec=a\n");
    test::writeFile(lookalike + "/velmini", "[1]\ntitle=Wrong\nexec=a\n");
    const fs::path copy = own + "/velmora-check";
    fs::copy_file(CHECKER, copy);
    fs::permissions(copy, fs::perms::owner_all);

    for (const ProgramRun& run :
         {runProgram(copy, {"--json"}), check({"--json", own + "/velmini"})}) {
        EXPECT_EQ(run.status, 0) << run.err;
        const JsonValue json = parsed(run);
        EXPECT_EQ(json.find(u"file")->string, argumentText(own + "/velmini"));
        EXPECT_EQ(json.find(u"menu")->find(u"items")->items.at(0).find(u"title")->string, u"Own");
    }
    const ProgramRun text = check({own + "/velmini"});
    EXPECT_NE(text.out.find("File: " + std::string(dir.path()) + "/jos\\xE9/velmini\n"),
              std::string::npos)
        << text.out;
}

TEST(CheckerProgram, LeavesAnExistingFileUntouched) {
    TempDir dir;
    const fs::path file = dir / "velmini";
    const std::string text = "\xEF\xBB\xBF[1]\r\ntitle =A\r\n[position]\r\n";
    test::writeFile(file, text);
    const auto written = fs::last_write_time(file);

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {file.string()}, {"--json", file.string()}, {"--screen", "1x1", file.string()}}) {
        EXPECT_EQ(check(args).status, 1);
    }
    EXPECT_EQ(test::readFile(file), text);
    EXPECT_EQ(fs::last_write_time(file), written);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// Without FILE the checker reads the file that a launcher beside it reads:
// "velmini" in the checker's own folder.
TEST(CheckerProgram, DefaultFileIsTheLaunchersBesideIt) {
    TempDir dir;
    const fs::path copy = dir / "velmora-check";
    fs::copy_file(CHECKER, copy);
    fs::permissions(copy, fs::perms::owner_all);

    const ProgramRun missing = runProgram(copy, {});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot open \"" + (dir / "velmini") + "\""), std::string::npos)
        << missing.err;
    EXPECT_FALSE(fs::exists(dir / "velmini")); // no default file is written
    EXPECT_FALSE(fs::exists(dir / "velmora"));

    writeDefaultFile(dir / "velmini");
    const std::string written = test::readFile(dir / "velmini").value_or("");
    const ProgramRun found = runProgram(copy, {"--json"});
    EXPECT_EQ(found.status, 0) << found.err;
    const JsonValue json = parsed(found);
    EXPECT_EQ(json.find(u"file")->string, utf8ToUtf16((dir / "velmini")));
    EXPECT_EQ(json.find(u"menu")->find(u"items")->items.size(), 3u);
    EXPECT_EQ(test::readFile(dir / "velmini"), written);
}

TEST(CheckerProgram, JsonEscapesWhatTheFileHolds) {
    TempDir dir;
    // An invalid byte, a tab, a lone CR, a quote, a backslash and Japanese.
    test::writeFile(dir / "velmini", "[1]\ntitle=\xFF\t\"a\\b\"\rx\nexec=\xE5\x9F\xBA\n");
    const ProgramRun run = check({"--json", (dir / "velmini")});
    EXPECT_EQ(run.status, 1) << run.out; // the invalid byte is warned about
    EXPECT_TRUE(isValidUtf8(run.out));
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1); // one line, one object
    const JsonValue json = parsed(run);
    const JsonValue& item = json.find(u"menu")->find(u"items")->items.at(0);
    EXPECT_EQ(item.find(u"title")->string, u"\uFFFD\t\"a\\b\"\rx");
    EXPECT_EQ(item.find(u"exec")->string, u"基");
}

} // namespace
} // namespace velmora::check
