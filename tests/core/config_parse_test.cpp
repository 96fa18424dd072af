// Reading and parsing configuration files: line forms, limits, the path rule.
#include "config/config_file.h"
#include "platform/fake/platform_fake.h"
#include "text/text_codec.h"

#include <gtest/gtest.h>

#include <optional>

#include <string>
#include <utility>
#include <vector>

using namespace velmora;

namespace {

using Entries = std::vector<std::pair<std::u16string, std::u16string>>;
using Document = std::vector<std::pair<std::u16string, Entries>>;

Document documentOf(const ConfigFile& doc) {
    Document out;
    for (const ConfigSection& section : doc.sections()) {
        Entries entries;
        for (const ConfigEntry& entry : section.entries)
            entries.emplace_back(entry.key, entry.value);
        out.emplace_back(section.name, entries);
    }
    return out;
}

Document load(const std::string& bytes) {
    PlatformFake system;
    system.files[u"/c.ini"].bytes = bytes;
    ConfigFile doc(system, std::u16string(u"/c.ini"));
    EXPECT_FALSE(doc.fileMissing());
    return documentOf(doc);
}

struct ParseCase {
    const char* name;
    std::string bytes;
    Document expected;
};

class Parse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Parse, GivesTheDocument) {
    EXPECT_EQ(load(GetParam().bytes), GetParam().expected);
}

const ParseCase parseCases[] = {
    {"ZeroBytes", "", {}},
    {"OnlyCommentsAndHeaders", "# c\n[1]\n[2]\n\n", {}},
    {"BlanksAroundEquals", "[1]\ntitle = Opera\n", {{u"1", {{u"title ", u" Opera"}}}}},
    {"TwoEquals", "[s]\na=b=c\n", {{u"s", {{u"a", u"b=c"}}}}},
    {"EmptyKeyAndEmptyValue", "[s]\n=v\nk=\n", {{u"s", {{u"", u"v"}, {u"k", u""}}}}},
    {"IndentedHashIsAnEntry", "[s]\n #k=v\n", {{u"s", {{u" #k", u"v"}}}}},
    {"HashInsideIsOrdinary", "[s]\nk#=v#\n", {{u"s", {{u"k#", u"v#"}}}}},
    {"HeaderWithTrailingBlankIsNoHeader",
     "[1]\nx=1\n[2] \ny=2\n",
     {{u"1", {{u"x", u"1"}, {u"[2] ", u"[2] "}, {u"y", u"2"}}}}},
    {"HeaderLikeEntry", "[a]=b\n", {{u"", {{u"[a]", u"b"}}}}},
    {"EntriesBeforeHeaderGoToEmptyName",
     "k=v\n[]\nk2=v2\n",
     {{u"", {{u"k", u"v"}, {u"k2", u"v2"}}}}},
    {"NameWithBrackets", "[a]b]\nk=v\n", {{u"a]b", {{u"k", u"v"}}}}},
    {"HeaderWithoutEntriesLeavesNothing", "[1]\n[2]\nk=v\n", {{u"2", {{u"k", u"v"}}}}},
    {"SectionsInOrderOfFirstEntry",
     "[2]\na=1\n[1]\nb=2\n",
     {{u"2", {{u"a", u"1"}}}, {u"1", {{u"b", u"2"}}}}},
    {"RepeatedHeaderJoins",
     "[1]\na=1\n[2]\nb=2\n[1]\nc=3\n",
     {{u"1", {{u"a", u"1"}, {u"c", u"3"}}}, {u"2", {{u"b", u"2"}}}}},
    {"RepeatedKeyKeptTwice", "[1]\nt=a\nt=b\n", {{u"1", {{u"t", u"a"}, {u"t", u"b"}}}}},
    {"LastLineWithoutFeed", "[1]\nt=a", {{u"1", {{u"t", u"a"}}}}},
    {"LineWithoutEqualsKeyAndValueAreTheLine", "[1]\nhello\n", {{u"1", {{u"hello", u"hello"}}}}},
    {"NulCutsTheLine",
     std::string("[1]\nt=ab\0cd\nu=1\n", 16),
     {{u"1", {{u"t", u"ab"}, {u"u", u"1"}}}}},
    {"CrLfReadsAsLf", "[1]\r\nt=a\r\n", {{u"1", {{u"t", u"a"}}}}},
    {"LoneCrStays", "[1]\nt=a\rb\n", {{u"1", {{u"t", u"a\rb"}}}}},
    {"CrCrLfLeavesCrOnHeader", "[1]\r\r\nt=a\n", {{u"", {{u"[1]\r", u"[1]\r"}, {u"t", u"a"}}}}},
    {"ByteOrderMarkIsSkipped", "\xEF\xBB\xBF[1]\nt=a\n", {{u"1", {{u"t", u"a"}}}}},
    {"ByteOrderMarkOnlyAtTheStart", "[1]\n\xEF\xBB\xBFt=a\n", {{u"1", {{u"\uFEFFt", u"a"}}}}},
    {"JapaneseText", "[1]\ntitle=メモ帳\n", {{u"1", {{u"title", u"メモ帳"}}}}},
    {"InvalidBytesBecomeReplacement", "[1]\nt=a\xFF\xC3(\n", {{u"1", {{u"t", u"a\uFFFD\uFFFD("}}}}},
};

INSTANTIATE_TEST_SUITE_P(Lines, Parse, ::testing::ValuesIn(parseCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ConfigRead, MissingFileSetsTheFlagAndLeavesTheDocumentEmpty) {
    PlatformFake system;
    ConfigFile doc(system, std::u16string(u"/nothing.ini"));
    EXPECT_TRUE(doc.fileMissing());
    EXPECT_TRUE(doc.sections().empty());
}

TEST(ConfigRead, UnreadableFileCountsAsMissing) {
    PlatformFake system;
    system.files[u"/c.ini"] = FakeFile{"[1]\nt=a\n", false};
    ConfigFile doc(system, std::u16string(u"/c.ini"));
    EXPECT_TRUE(doc.fileMissing());
    EXPECT_TRUE(doc.sections().empty());
}

TEST(ConfigRead, ReloadReplacesEverything) {
    PlatformFake system;
    system.files[u"/c.ini"].bytes = "[1]\nt=a\n";
    ConfigFile doc(system, std::u16string(u"/c.ini"));
    doc.getIntDefault(u"position", u"x", 0, true);
    system.files[u"/c.ini"].bytes = "[2]\nt=b\n";
    doc.load();
    EXPECT_EQ(documentOf(doc), (Document{{u"2", {{u"t", u"b"}}}}));
}

TEST(ConfigRead, LegacyDecodingIsUsedOnlyForInvalidUtf8) {
    PlatformFake system;
    system.legacyDecoding = u"[1]\nt=legacy\n";
    system.files[u"/bad.ini"].bytes = "[1]\nt=\x83\x81\n";
    system.files[u"/good.ini"].bytes = "[1]\nt=good\n";
    EXPECT_EQ(ConfigFile(system, std::u16string(u"/bad.ini")).getString(u"1", u"t"), u"legacy");
    EXPECT_EQ(ConfigFile(system, std::u16string(u"/good.ini")).getString(u"1", u"t"), u"good");
}

// --- line length limit -----------------------------------------------------

struct LengthCase {
    std::size_t length;
    bool feedAfter;
};

class LineLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(LineLength, KeepsAtMost1023UnitsAndNoPhantomLine) {
    const std::u16string value(GetParam().length - 2, u'v');
    std::u16string text = u"k=" + value;
    if (GetParam().feedAfter)
        text += u"\nnext=1\n";
    std::vector<std::size_t> cut;
    const auto lines = splitConfigLines(text, &cut);
    const std::size_t kept = std::min<std::size_t>(GetParam().length, LINE_BUFFER_CHARS - 1);
    EXPECT_EQ(lines[0].size(), kept);
    EXPECT_EQ(cut.size(), GetParam().length > 1023 ? 1u : 0u);
    if (GetParam().feedAfter) {
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[1], u"next=1");
        EXPECT_EQ(lines[2], u"");
    } else {
        EXPECT_EQ(lines.size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, LineLength,
                         ::testing::Values(LengthCase{1022, true}, LengthCase{1023, true},
                                           LengthCase{1023, false}, LengthCase{1024, true},
                                           LengthCase{1024, false}, LengthCase{5000, true}));

TEST(ConfigRead, EveryReadStepYieldsALine) {
    EXPECT_EQ(splitConfigLines(u""), std::vector<std::u16string>{u""});
    EXPECT_EQ(splitConfigLines(u"a\n"), (std::vector<std::u16string>{u"a", u""}));
    EXPECT_EQ(splitConfigLines(u"\n\n"), (std::vector<std::u16string>{u"", u"", u""}));
}

// --- the path rule ---------------------------------------------------------

struct PathCase {
    std::u16string module;
    std::u16string expected;
};

class ConfigPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(ConfigPath, ReplacesTheLastThreeCharacters) {
    PlatformFake system;
    system.moduleFileName = GetParam().module;
    EXPECT_EQ(makeConfigPath(system, nullptr), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ConfigPath,
    ::testing::Values(PathCase{u"\\Windows\\velmora.exe", u"\\Windows\\velmora.ini"},
                      PathCase{u"\\Windows\\VELMORA.EXE", u"\\Windows\\VELMORA.ini"},
                      PathCase{u"/opt/bin/menu", u"/opt/bin/mini"},
                      PathCase{u"/opt/bin/velmora", u"/opt/bin/velmini"}, PathCase{u"abc", u"ini"},
                      // A name of fewer than three characters is replaced
                      // whole: the file stays in the executable's folder.
                      PathCase{u"ab", u"ini"}, PathCase{u"/x/short/ve", u"/x/short/ini"},
                      PathCase{u"/x/ab.d/v", u"/x/ab.d/ini"}, PathCase{u"/x/y/abc", u"/x/y/ini"},
                      PathCase{u"", u""},
                      PathCase{u"/" + std::u16string(4000, u'd') + u"/x.exe",
                               u"/" + std::u16string(4000, u'd') + u"/x.ini"}));

#ifdef _WIN32
TEST(ConfigPath, AShortNameAfterABackslashIsReplacedWhole) {
    PlatformFake system;
    system.moduleFileName = u"\\Windows\\v";
    EXPECT_EQ(makeConfigPath(system, nullptr), u"\\Windows\\ini");
}
#endif

TEST(ConfigPath, ConstructorLoadsTheFileBesideTheExecutable) {
    PlatformFake system;
    system.moduleFileName = u"/apps/menu.exe";
    system.files[u"/apps/menu.ini"].bytes = "[1]\ntitle=Mail\n";
    ConfigFile doc(system, nullptr);
    EXPECT_EQ(doc.path(), u"/apps/menu.ini");
    EXPECT_EQ(doc.getString(u"1", u"title"), u"Mail");
}

// --- what the launcher keeps ------------------------------------------------

std::optional<std::u16string> lookup(const ConfigFile& doc, std::u16string_view section,
                                     std::u16string_view key) {
    try {
        return doc.getString(section, key);
    } catch (const ConfigError&) {
        return std::nullopt;
    }
}

ConfigFile loadKeeping(PlatformFake& system, const std::string& bytes, ConfigKeep keep) {
    system.files[u"/c.ini"].bytes = bytes;
    return ConfigFile(system, std::u16string(u"/c.ini"), ConfigFile::LoadOptions{keep, {}, {}});
}

// Whatever else the file holds, the menu's lookups answer as on the whole
// document.
class MenuValues : public ::testing::TestWithParam<const char*> {};

TEST_P(MenuValues, AnswerTheMenusLookupsAsTheWholeDocument) {
    PlatformFake system;
    const ConfigFile whole = loadKeeping(system, GetParam(), ConfigKeep::Everything);
    const ConfigFile kept = loadKeeping(system, GetParam(), ConfigKeep::MenuValues);
    for (const char16_t* section : {u"1", u"2", u"3", u"4"}) {
        for (const char16_t* key : {u"title", u"exec"})
            EXPECT_EQ(lookup(kept, section, key), lookup(whole, section, key)) << GetParam();
    }
    for (const char16_t* key : {u"x", u"y", u"xAlign", u"yAlign"})
        EXPECT_EQ(lookup(kept, u"position", key), lookup(whole, u"position", key)) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    Files, MenuValues,
    ::testing::Values("[1]\ntitle=a\ntitle=b\nexec=x\n[2]\nexec=y\n[1]\nexec=z\n[2]\ntitle=c\n",
                      "[position]\nx=1\n[3]\ntitle=t\n[position]\nx=2\ny=3\nxAlign=1\nyAlign=2\n",
                      "title=none\n[1] \ntitle=cut\n[1]\n[01]\ntitle=zero\n[1]\ntitle=one\n",
                      "[4]\ntitle\n[4]\ntitle=second\nexec\n", "[1]\r\ntitle=crlf\r\n",
                      "[position]\nx\nX=9\nx=5\n"));

TEST(MenuValues, KeepOnlyTheFirstOfWhatTheMenuReads) {
    PlatformFake system;
    const ConfigFile kept =
        loadKeeping(system,
                    "k=v\n[1]\ntitle=a\nname=n\ntitle=b\n[01]\ntitle=z\n[2147483648]\ntitle=big\n"
                    "[2147483647]\nexec=last\n[position]\nx=1\nx=2\nwidth=3\n[Position]\ny=4\n"
                    "[1]\nexec=e\n",
                    ConfigKeep::MenuValues);
    EXPECT_EQ(documentOf(kept), (Document{{u"1", {{u"title", u"a"}, {u"exec", u"e"}}},
                                          {u"2147483647", {{u"exec", u"last"}}},
                                          {u"position", {{u"x", u"1"}}}}));
}

TEST(MenuValues, EveryEntryIsShownToTheEntryObserverWithItsSection) {
    PlatformFake system;
    system.files[u"/c.ini"].bytes = "k=v\n[1]\ntitle=a\n[2]\nplain\n[1]\ntitle=b\n";
    std::vector<std::u16string> seen;
    ConfigFile::LoadOptions options;
    options.keep = ConfigKeep::MenuValues;
    options.onEntry = [&seen](std::u16string_view section, std::u16string_view key,
                              std::u16string_view value) {
        seen.push_back(std::u16string(section) + u"|" + std::u16string(key) + u"|" +
                       std::u16string(value));
    };
    const ConfigFile kept(system, std::u16string(u"/c.ini"), options);
    EXPECT_EQ(seen,
              (std::vector<std::u16string>{u"|k|v", u"1|title|a", u"2|plain|plain", u"1|title|b"}));
}

// A platform with a legacy code page reads the file twice: once to tell
// whether it is UTF-8, once for its lines; neither holds the file.
TEST(ConfigRead, ACodePagePlatformReadsTwiceAndDecodesLineByLine) {
    PlatformFake system;
    system.legacyDecoding = u"";
    system.files[u"/c.ini"].bytes = "[1]\ntitle=a\n";
    const ConfigFile utf8(system, std::u16string(u"/c.ini"));
    EXPECT_EQ(utf8.getString(u"1", u"title"), u"a");
    EXPECT_FALSE(utf8.readByCodePage());
    std::size_t opens = 0;
    for (const FakeCall& call : system.calls)
        opens += call.name == "fopen" ? 1 : 0;
    EXPECT_EQ(opens, 2u);
}

} // namespace

// --- reading as a stream -----------------------------------------------------

// Whatever pieces the file arrives in, the stream yields the lines of the
// whole text split at once: a signature, CR LF pairs, long lines of
// multi-byte characters cut at 1023 units, bytes that are not UTF-8, NUL bytes.
class StreamedLines : public ::testing::TestWithParam<std::size_t> {};

TEST_P(StreamedLines, AreTheLinesOfTheWholeText) {
    std::string bytes = "\xEF\xBB\xBF[1]\r\ntitle=a\r\r\n";
    for (int i = 0; i < 1500; ++i)
        bytes += "\xE6\x97\xA5"; // three bytes, one unit
    bytes += "\r\nexec=x";
    bytes += '\0';
    bytes += "hidden\nbad=\xFF\xE6\x97\n";
    bytes += std::string(5000, 'z') + "\xF0\x9F\x98\x80\r";

    std::vector<std::size_t> cuts;
    const std::vector<std::u16string> whole = splitConfigLines(decodeTextFile(bytes), &cuts);

    PlatformFake system;
    system.files[u"/c.ini"].bytes = bytes;
    const std::size_t piece = GetParam();
    system.readPiece = [piece](std::size_t) { return piece; };
    const auto reader = system.openFileForRead(u"/c.ini");
    ASSERT_NE(reader, nullptr);
    std::vector<std::u16string> streamed;
    std::vector<std::size_t> streamedCuts;
    std::vector<std::u16string> hidden;
    std::vector<bool> replaced;
    readConfigLines(*reader, &system, [&](const ConfigLine& line) {
        if (line.cut)
            streamedCuts.push_back(streamed.size());
        streamed.emplace_back(line.text);
        hidden.emplace_back(line.hidden);
        replaced.push_back(line.replaced);
    });
    EXPECT_EQ(streamed, whole);
    EXPECT_EQ(streamedCuts, cuts);
    ASSERT_EQ(streamed.size(), 6u);
    EXPECT_EQ(hidden[3], u"hidden");
    EXPECT_EQ(replaced, (std::vector<bool>{false, false, false, false, true, false}));
}

INSTANTIATE_TEST_SUITE_P(Pieces, StreamedLines, ::testing::Values(1u, 2u, 3u, 7u, 4096u, 65536u));

// Whatever pieces the file arrives in, the first reading of a code-page
// platform tells UTF-8 as the whole text would.
class Utf8Stream : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Utf8Stream, TellsUtf8AsTheWholeTextWould) {
    const std::string samples[] = {"",
                                   "plain",
                                   "\xE6\x97\xA5\xE6\x9C\xAC",
                                   "\xF0\x9F\x98\x80x",
                                   "cut \xE6\x97",
                                   "bad \xFF tail",
                                   "\x83\x81\x83\x6A",
                                   "\xED\xA0\x80",
                                   std::string(20000, 'a') + "\xC3",
                                   std::string(16383, 'a') + "\xF0\x9F\x98\x80" +
                                       std::string(20000, 'b')};
    for (const std::string& bytes : samples) {
        PlatformFake system;
        system.files[u"/c.ini"].bytes = bytes;
        const std::size_t piece = GetParam();
        system.readPiece = [piece](std::size_t) { return piece; };
        const auto reader = system.openFileForRead(u"/c.ini");
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(isUtf8Stream(*reader), isValidUtf8(bytes)) << bytes.substr(0, 40);
    }
}

INSTANTIATE_TEST_SUITE_P(Pieces, Utf8Stream, ::testing::Values(1u, 2u, 3u, 5u, 16384u));
