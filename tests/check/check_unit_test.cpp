// The checker's logic in process: the warnings of each trap read from real
// files, the JSON form, the flag names, the screen size and the arguments.
#include "check_report.h"
#include "check_test_support.h"
#include "json_reader.h"
#include "text/text_codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace velmora::check {
namespace {

using test::LintCase;
using test::TempDir;

class CheckerLint : public ::testing::TestWithParam<LintCase> {};

TEST_P(CheckerLint, WarnsOnTheTrapAtItsLine) {
    const LintCase& fixture = GetParam();
    TempDir dir;
    test::writeFile(dir / "velmini", fixture.text);
    const std::unique_ptr<Platform> host = createHostPlatform();

    const CheckReport report = checkConfigFile(*host, utf8ToUtf16((dir / "velmini")), ScreenSize{});

    ASSERT_FALSE(report.fileMissing);
    ASSERT_EQ(report.warnings.size(), fixture.warnings.size()) << reportToText(report);
    for (std::size_t i = 0; i < fixture.warnings.size(); ++i) {
        EXPECT_EQ(report.warnings[i].line, fixture.warnings[i].line) << reportToText(report);
        EXPECT_NE(utf16ToUtf8(report.warnings[i].message).find(fixture.warnings[i].fragment),
                  std::string::npos)
            << "warning " << i << ": " << utf16ToUtf8(report.warnings[i].message);
    }
}

INSTANTIATE_TEST_SUITE_P(Traps, CheckerLint, ::testing::ValuesIn(test::lintCases()),
                         [](const ::testing::TestParamInfo<LintCase>& p) { return p.param.name; });

TEST(CheckerLint, CutLineLeavesNoPhantomLineBehind) {
    // The tail of a cut line holds an "=", which would make an entry if the
    // tail were read as a line of its own.
    const std::string text = "[1]\ntitle=A\nexec=a\n" + std::string(1030, 'k') + "tail=1\ny=2\n";
    TempDir dir;
    test::writeFile(dir / "c.ini", text);
    const std::unique_ptr<Platform> host = createHostPlatform();
    const CheckReport report = checkConfigFile(*host, utf8ToUtf16((dir / "c.ini")), ScreenSize{});
    ASSERT_EQ(report.document.sections().size(), 1u);
    ASSERT_EQ(report.document.sections()[0].entries.size(), 4u);
    EXPECT_EQ(report.document.sections()[0].entries[2].key, std::u16string(1023, u'k'));
    EXPECT_EQ(report.document.sections()[0].entries[3].key, u"y");
    ASSERT_EQ(report.warnings.size(), 2u);
    EXPECT_EQ(report.warnings[0].line, 4u); // cut
    EXPECT_EQ(report.warnings[1].line, 4u); // and, cut before its "=", without one
}

TEST(CheckerReport, SectionsAreTheDocumentBeforeThePlacementDefaults) {
    TempDir dir;
    test::writeFile(dir / "a.ini", "[1]\ntitle=A\n");
    const std::unique_ptr<Platform> host = createHostPlatform();
    const CheckReport report = checkConfigFile(*host, utf8ToUtf16((dir / "a.ini")), ScreenSize{});
    ASSERT_EQ(report.document.sections().size(), 1u); // no "position" section stored by the menu
    ASSERT_EQ(report.items.size(), 1u);
    EXPECT_EQ(report.items[0].command, 40001u);
    EXPECT_EQ(report.items[0].entry, 1u);
    EXPECT_FALSE(report.items[0].exec.has_value());
    EXPECT_EQ(report.flags, 0x0100u);
}

TEST(CheckerPlatform, ReadsThroughTheHostButNeverWritesOrLaunches) {
    TempDir dir;
    test::writeFile(dir / "a.ini", "x");
    const std::unique_ptr<Platform> host = createHostPlatform();
    CheckPlatform platform(*host, ScreenSize{320, 240});

    const std::unique_ptr<ByteReader> reader =
        platform.openFileForRead(utf8ToUtf16((dir / "a.ini")));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(readAllBytes(*reader), "x");
    EXPECT_FALSE(platform.createFileWithContent(utf8ToUtf16((dir / "new.ini")), "x"));
    EXPECT_FALSE(std::filesystem::exists(dir / "new.ini"));
    EXPECT_FALSE(platform.shellExecuteEx(ShellExecuteRequest{u"Open", u"a.exe", u""}));
    EXPECT_EQ(platform.refusedWrites(), 1);
    EXPECT_EQ(platform.refusedLaunches(), 1);
    EXPECT_EQ(platform.getSystemMetrics(SM_CXSCREEN), 320);
    EXPECT_EQ(platform.getSystemMetrics(SM_CYSCREEN), 240);

    const std::unique_ptr<PopupMenu> menu = platform.createPopupMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->appendMenu(0, 40001, u"A"));
    EXPECT_EQ(menu->trackPopupMenuEx(0x0124, 5, -6), 0u); // always dismissed
    ASSERT_EQ(platform.menuItems().size(), 1u);
    EXPECT_EQ(platform.menuItems()[0].commandId, 40001u);
    EXPECT_EQ(platform.menuItems()[0].text, u"A");
    ASSERT_TRUE(platform.track().has_value());
    EXPECT_EQ(platform.track()->flags, 0x0124u);
    EXPECT_EQ(platform.track()->x, 5);
    EXPECT_EQ(platform.track()->y, -6);
}

struct FlagCase {
    unsigned int flags;
    const char* names;
};

void PrintTo(const FlagCase& c, std::ostream* os) {
    *os << c.names;
}

class CheckerFlagNames : public ::testing::TestWithParam<FlagCase> {};

TEST_P(CheckerFlagNames, NameEveryAlignment) {
    EXPECT_EQ(tpmFlagNames(GetParam().flags), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    NineValues, CheckerFlagNames,
    ::testing::Values(FlagCase{0x0100, "TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN"},
                      FlagCase{0x0110, "TPM_RETURNCMD | TPM_LEFTALIGN | TPM_VCENTERALIGN"},
                      FlagCase{0x0120, "TPM_RETURNCMD | TPM_LEFTALIGN | TPM_BOTTOMALIGN"},
                      FlagCase{0x0104, "TPM_RETURNCMD | TPM_CENTERALIGN | TPM_TOPALIGN"},
                      FlagCase{0x0114, "TPM_RETURNCMD | TPM_CENTERALIGN | TPM_VCENTERALIGN"},
                      FlagCase{0x0124, "TPM_RETURNCMD | TPM_CENTERALIGN | TPM_BOTTOMALIGN"},
                      FlagCase{0x0108, "TPM_RETURNCMD | TPM_RIGHTALIGN | TPM_TOPALIGN"},
                      FlagCase{0x0118, "TPM_RETURNCMD | TPM_RIGHTALIGN | TPM_VCENTERALIGN"},
                      FlagCase{0x0128, "TPM_RETURNCMD | TPM_RIGHTALIGN | TPM_BOTTOMALIGN"}));

struct PlacementCase {
    const char* name;
    const char* position;
    ScreenSize screen;
    int x;
    int y;
    unsigned int flags;
};

void PrintTo(const PlacementCase& c, std::ostream* os) {
    *os << c.name;
}

class CheckerPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(CheckerPlacement, UsesTheGivenScreen) {
    const PlacementCase& c = GetParam();
    TempDir dir;
    test::writeFile(dir / "p.ini", std::string("[position]\n") + c.position);
    const std::unique_ptr<Platform> host = createHostPlatform();
    const CheckReport report = checkConfigFile(*host, utf8ToUtf16((dir / "p.ini")), c.screen);
    EXPECT_EQ(report.x, c.x);
    EXPECT_EQ(report.y, c.y);
    EXPECT_EQ(report.flags, c.flags);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, CheckerPlacement,
    ::testing::Values(
        PlacementCase{
            "bottom_centre", "xAlign=1\nyAlign=2\nx=0\ny=-26\n", {240, 320}, 120, 294, 0x0124},
        PlacementCase{"odd_width", "xAlign=1\n", {241, 100}, 120, 0, 0x0104},
        PlacementCase{"right_middle", "xAlign=2\nyAlign=1\nx=-5\n", {480, 640}, 475, 320, 0x0118},
        PlacementCase{"saturated", "xAlign=2\nx=2147483647\n", {240, 320}, 2147483647, 0, 0x0108},
        PlacementCase{
            "unknown_codes", "xAlign=3\nyAlign=-1\nx=7\ny=9\n", {240, 320}, 7, 9, 0x0100}),
    [](const ::testing::TestParamInfo<PlacementCase>& p) { return p.param.name; });

struct ScreenCase {
    const char* text;
    bool valid;
    int width;
    int height;
};

void PrintTo(const ScreenCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class CheckerScreenSize : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(CheckerScreenSize, ParsesWidthByHeight) {
    const ScreenCase& c = GetParam();
    const std::optional<ScreenSize> screen = parseScreenSize(c.text);
    ASSERT_EQ(screen.has_value(), c.valid) << c.text;
    if (c.valid) {
        EXPECT_EQ(screen->width, c.width);
        EXPECT_EQ(screen->height, c.height);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CheckerScreenSize,
    ::testing::Values(ScreenCase{"240x320", true, 240, 320}, ScreenCase{"1X1", true, 1, 1},
                      ScreenCase{"2147483647x2147483647", true, 2147483647, 2147483647},
                      ScreenCase{"0x320", false, 0, 0}, ScreenCase{"240x0", false, 0, 0},
                      ScreenCase{"2147483648x1", false, 0, 0},
                      ScreenCase{"99999999999x1", false, 0, 0}, ScreenCase{"x320", false, 0, 0},
                      ScreenCase{"240x", false, 0, 0}, ScreenCase{"240", false, 0, 0},
                      ScreenCase{"240x320x1", false, 0, 0}, ScreenCase{"-1x5", false, 0, 0},
                      ScreenCase{"+1x5", false, 0, 0}, ScreenCase{" 240x320", false, 0, 0},
                      ScreenCase{"240*320", false, 0, 0}, ScreenCase{"", false, 0, 0}));

struct JsonStringCase {
    const char* name;
    std::u16string text;
    std::string json;
};

void PrintTo(const JsonStringCase& c, std::ostream* os) {
    *os << c.name;
}

class CheckerJsonString : public ::testing::TestWithParam<JsonStringCase> {};

TEST_P(CheckerJsonString, WritesValidUtf8AndReadsBack) {
    const JsonStringCase& c = GetParam();
    std::string out;
    appendJsonString(out, c.text);
    EXPECT_EQ(out, c.json);
    EXPECT_TRUE(isValidUtf8(out));
    const std::optional<JsonValue> back = parseJson(out);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->string, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CheckerJsonString,
    ::testing::Values(
        JsonStringCase{"plain", u"Opera", "\"Opera\""},
        JsonStringCase{"quote_and_backslash", u"\\Program Files\\\"x\"",
                       "\"\\\\Program Files\\\\\\\"x\\\"\""},
        JsonStringCase{"controls", u"a\tb\rc\nd\x01\x1f\x7f",
                       "\"a\\tb\\rc\\nd\\u0001\\u001f\\u007f\""},
        JsonStringCase{"japanese", u"基準", "\"\xE5\x9F\xBA\xE6\xBA\x96\""},
        JsonStringCase{"surrogate_pair", u"\U0001F600", "\"\xF0\x9F\x98\x80\""},
        JsonStringCase{"lone_high_surrogate", std::u16string{u'a', char16_t(0xD800), u'b'},
                       "\"a\\ud800b\""},
        JsonStringCase{"lone_low_surrogate", std::u16string{char16_t(0xDFFF)}, "\"\\udfff\""},
        JsonStringCase{"reversed_pair", std::u16string{char16_t(0xDC00), char16_t(0xD800)},
                       "\"\\udc00\\ud800\""},
        JsonStringCase{"nul", std::u16string(1, u'\0'), "\"\\u0000\""}),
    [](const ::testing::TestParamInfo<JsonStringCase>& p) { return p.param.name; });

TEST(CheckerJson, ReaderRejectsMalformedText) {
    for (const char* bad : {"", "{", "{\"a\":}", "[1,]", "\"\x01\"", "\"\xC3\"", "01", "1 2",
                            "{\"a\" 1}", "\"\\x\"", "\"\\u12\"", "tru", "[1] x"}) {
        EXPECT_FALSE(parseJson(bad).has_value()) << bad;
    }
    EXPECT_TRUE(parseJson(" {\"a\": [1, -2.5e3, true, null, \"\\u00e9\"]} ").has_value());
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    const char* stderrFragment;
};

void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.name;
}

class CheckerUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CheckerUsage, BadArgumentsExitWithTwoAndSayWhy) {
    const std::unique_ptr<Platform> host = createHostPlatform();
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runChecker(GetParam().args, *host, out, err), 2);
    EXPECT_NE(err.str().find(GetParam().stderrFragment), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("usage: velmora-check"), std::string::npos);
    EXPECT_EQ(out.str(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CheckerUsage,
    ::testing::Values(UsageCase{"unknown_option", {"--yaml"}, "unknown option \"--yaml\""},
                      UsageCase{"two_files", {"a.ini", "b.ini"}, "only one FILE"},
                      UsageCase{"screen_without_size", {"--screen"}, "--screen needs a size"},
                      UsageCase{"bad_screen", {"--screen", "240"}, "bad screen size \"240\""},
                      UsageCase{"bad_screen_inline", {"--screen=0x1"}, "bad screen size \"0x1\""},
                      UsageCase{"empty_file", {""}, "FILE must not be empty"}),
    [](const ::testing::TestParamInfo<UsageCase>& p) { return p.param.name; });

TEST(CheckerUsage, HelpPrintsTheUsage) {
    const std::unique_ptr<Platform> host = createHostPlatform();
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runChecker({"--help"}, *host, out, err), 0);
    EXPECT_EQ(out.str(), "usage: velmora-check [--json] [--screen WIDTHxHEIGHT] [FILE]\n");
}

TEST(CheckerUsage, DoubleDashEndsTheOptions) {
    TempDir dir;
    test::writeFile(dir / "--json", "[1]\ntitle=A\nexec=a\n");
    const std::unique_ptr<Platform> host = createHostPlatform();
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runChecker({"--json", "--", (dir / "--json")}, *host, out, err), 0) << err.str();
    const std::optional<JsonValue> json = parseJson(out.str());
    ASSERT_TRUE(json.has_value());
    EXPECT_EQ(json->find(u"file")->string, utf8ToUtf16((dir / "--json")));
}

struct BesideCase {
    std::u16string module;
    std::u16string launcher;
};

void PrintTo(const BesideCase& c, std::ostream* os) {
    *os << velmora::utf16ToUtf8(c.module);
}

class CheckerLauncherBeside : public ::testing::TestWithParam<BesideCase> {};

TEST_P(CheckerLauncherBeside, ReplacesTheLastPathComponent) {
    EXPECT_EQ(launcherBeside(GetParam().module), GetParam().launcher);
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(
    Names, CheckerLauncherBeside,
    ::testing::Values(BesideCase{u"C:\\Tools\\velmora-check.exe", u"C:\\Tools\\velmora.exe"},
                      BesideCase{u"C:/a/b/velmora-check.exe", u"C:/a/b/velmora.exe"},
                      BesideCase{u"", u""}));
#else
INSTANTIATE_TEST_SUITE_P(
    Names, CheckerLauncherBeside,
    ::testing::Values(BesideCase{u"/opt/velmora/velmora-check", u"/opt/velmora/velmora"},
                      BesideCase{u"/velmora-check", u"/velmora"},
                      BesideCase{u"velmora-check", u"velmora"}, BesideCase{u"", u""}));
#endif

} // namespace
} // namespace velmora::check
