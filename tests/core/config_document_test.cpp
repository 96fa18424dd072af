// The in-memory configuration document: lookups, first-match rules, defaults.
#include "config/config_file.h"
#include "platform/fake/platform_fake.h"
#include "text/text_codec.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace velmora;

namespace {

// Runs `lookup` and returns the message of the ConfigError it throws.
template <typename F> std::u16string errorOf(F lookup) {
    try {
        lookup();
    } catch (const ConfigError& error) {
        return error.message();
    }
    return u"(no error)";
}

ConfigFile& sample(ConfigFile& doc) {
    doc.addEntry(u"position", u"x", u"5");
    doc.addEntry(u"1", u"title", u"first");
    doc.addEntry(u"1", u"title", u"second");
    doc.addEntry(u"1", u"exec", u"a.exe");
    return doc;
}

} // namespace

TEST(ConfigDocument, MissesThrowTheTwoMessages) {
    ConfigFile doc;
    sample(doc);
    EXPECT_EQ(errorOf([&] { doc.getString(u"Position", u"x"); }),
              u"セクション[Position]が見つかりません。");
    EXPECT_EQ(errorOf([&] { doc.getString(u"position", u"X"); }), u"キー[X]が見つかりません。");
    EXPECT_EQ(errorOf([&] { doc.findSection(u"9"); }), u"セクション[9]が見つかりません。");
    EXPECT_EQ(errorOf([&] { ConfigFile::findKey(doc.findSection(u"1").entries, u"title "); }),
              u"キー[title ]が見つかりません。");
    EXPECT_EQ(errorOf([&] { doc.sectionFor(u"nope", false); }),
              u"セクション[nope]が見つかりません。");
}

TEST(ConfigDocument, MessagesHoldNamesOfAnyLength) {
    ConfigFile doc;
    const std::u16string longName(5000, u'n');
    EXPECT_EQ(errorOf([&] { doc.getString(longName, u"k"); }),
              u"セクション[" + longName + u"]が見つかりません。");
}

TEST(ConfigDocument, FirstMatchWinsAndSetStringReplacesOnlyTheFirst) {
    ConfigFile doc;
    sample(doc);
    EXPECT_EQ(doc.getString(u"1", u"title"), u"first");
    EXPECT_TRUE(doc.setString(u"1", u"title", u"new", false));
    const auto& entries = doc.findSection(u"1").entries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].value, u"new");
    EXPECT_EQ(entries[1].value, u"second");
}

TEST(ConfigDocument, AddEntryJoinsTheExistingSection) {
    ConfigFile doc;
    sample(doc);
    doc.addEntry(u"position", u"y", u"7");
    ASSERT_EQ(doc.sections().size(), 2u);
    EXPECT_EQ(doc.sections()[0].name, u"position");
    EXPECT_EQ(doc.sections()[0].entries.back().key, u"y");
}

TEST(ConfigDocument, ReferencesStayValidWhileTheDocumentGrows) {
    ConfigFile doc;
    doc.addEntry(u"1", u"title", u"kept");
    const std::u16string& value = doc.getString(u"1", u"title");
    const ConfigSection* section = &doc.findSection(u"1");
    for (int i = 0; i < 10000; ++i) {
        doc.addEntry(decimalText(i + 2), u"title", u"t");
        doc.addEntry(u"1", u"k", u"v");
    }
    EXPECT_EQ(value, u"kept");
    EXPECT_EQ(section, &doc.findSection(u"1"));
}

TEST(ConfigDocument, FailedLookupsChangeNothing) {
    ConfigFile doc;
    EXPECT_THROW(doc.getString(u"a", u"b"), ConfigError);
    EXPECT_THROW(doc.findSection(u"a"), ConfigError);
    EXPECT_TRUE(doc.sections().empty());
}

TEST(ConfigDocument, EmptyNameIsASectionAndAKey) {
    ConfigFile doc;
    doc.addEntry(u"", u"", u"v");
    EXPECT_EQ(doc.getString(u"", u""), u"v");
    EXPECT_THROW(doc.getString(u" ", u""), ConfigError);
}

struct IntCase {
    std::u16string text;
    std::int32_t expected;
};

class GetInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(GetInt, ConvertsLikeTheWideConversion) {
    ConfigFile doc;
    doc.addEntry(u"s", u"k", GetParam().text);
    EXPECT_EQ(doc.getInt(u"s", u"k"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, GetInt,
    ::testing::Values(IntCase{u" 42", 42}, IntCase{u"-7", -7}, IntCase{u"12abc", 12},
                      IntCase{u"abc", 0}, IntCase{u"", 0}, IntCase{u"+5", 5}, IntCase{u"\t\n 3", 3},
                      IntCase{u"- 3", 0}, IntCase{u"0x10", 0}, IntCase{u"007", 7},
                      IntCase{u"2147483647", INT_MAX}, IntCase{u"2147483648", INT_MAX},
                      IntCase{u"99999999999999999999", INT_MAX}, IntCase{u"-2147483648", INT_MIN},
                      IntCase{u"-2147483649", INT_MIN},
                      IntCase{u"-99999999999999999999999", INT_MIN}, IntCase{u"１２", 0}));

TEST(ConfigDocument, GetIntDefaultStoresTheDefaultOnceAtTheEnd) {
    ConfigFile doc;
    sample(doc);
    doc.addEntry(u"2", u"title", u"t");
    // The section exists: the key goes to its end.
    EXPECT_EQ(doc.getIntDefault(u"position", u"y", 0, true), 0);
    EXPECT_EQ(doc.findSection(u"position").entries.back().key, u"y");
    EXPECT_EQ(doc.findSection(u"position").entries.back().value, u"0");
    // No section: it is created last, holding only the key.
    EXPECT_EQ(doc.getIntDefault(u"place", u"x", -15, true), -15);
    EXPECT_EQ(doc.sections().back().name, u"place");
    ASSERT_EQ(doc.sections().back().entries.size(), 1u);
    EXPECT_EQ(doc.sections().back().entries[0].value, u"-15");
    // A second call reads the stored text and adds nothing.
    EXPECT_EQ(doc.getIntDefault(u"place", u"x", 99, true), -15);
    EXPECT_EQ(doc.sections().back().entries.size(), 1u);
}

TEST(ConfigDocument, GetIntDefaultWithoutStoreAndOnNonNumbers) {
    ConfigFile doc;
    doc.addEntry(u"position", u"x", u"left");
    EXPECT_EQ(doc.getIntDefault(u"position", u"x", 9, true), 0); // present: converted, not default
    EXPECT_EQ(doc.findSection(u"position").entries.size(), 1u);
    EXPECT_EQ(doc.getIntDefault(u"position", u"y", 9, false), 9);
    EXPECT_EQ(doc.findSection(u"position").entries.size(), 1u);
    EXPECT_EQ(doc.sections().size(), 1u);
}

TEST(ConfigDocument, SetStringKeepExisting) {
    ConfigFile doc;
    doc.addEntry(u"s", u"k", u"old");
    EXPECT_FALSE(doc.setString(u"s", u"k", u"new", true));
    EXPECT_EQ(doc.getString(u"s", u"k"), u"old");
    EXPECT_TRUE(doc.setString(u"s", u"other", u"v", true));
    EXPECT_EQ(doc.findSection(u"s").entries.back().key, u"other");
}

TEST(ConfigDocument, SetIntWritesDecimalText) {
    ConfigFile doc;
    doc.setInt(u"s", u"neg", -15, false);
    doc.setInt(u"s", u"zero", 0, false);
    doc.setInt(u"s", u"min", INT_MIN, false);
    EXPECT_EQ(doc.getString(u"s", u"neg"), u"-15");
    EXPECT_EQ(doc.getString(u"s", u"zero"), u"0");
    EXPECT_EQ(doc.getString(u"s", u"min"), u"-2147483648");
}

TEST(ConfigDocument, ClearKeepsPathAndResetsTheFlag) {
    PlatformFake system;
    system.files[u"/c.ini"].bytes = "[position]\nx=1\n";
    ConfigFile doc(system, std::u16string(u"/c.ini"));
    doc.clear();
    EXPECT_EQ(doc.path(), u"/c.ini");
    EXPECT_TRUE(doc.sections().empty());
    EXPECT_FALSE(doc.fileMissing());
    doc.addEntry(u"position", u"x", u"1"); // the name index was cleared too
    EXPECT_EQ(doc.sections().size(), 1u);
}

TEST(ConfigDocument, ComparisonIsExactUtf16) {
    ConfigFile doc;
    doc.addEntry(u"位置", u"ｘ", u"1");
    EXPECT_EQ(doc.getString(u"位置", u"ｘ"), u"1");
    EXPECT_THROW(doc.getString(u"位置", u"x"), ConfigError);
    EXPECT_THROW(doc.getString(u"位置 ", u"ｘ"), ConfigError);
}
