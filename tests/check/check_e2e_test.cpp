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
    EXPECT_EQ(run.status, 0) << run.out;
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
