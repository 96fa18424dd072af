// The font cache's text form and key: what is written reads back the same,
// and anything cut, foreign, stale or malformed reads as no cache; its
// glyphs draw a text only when they hold all of it, each by its face.
#include "display/fontcache/font_cache_format.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace velmora::fontcache {
namespace {

FileStamp stamp(const std::string& path, unsigned long long size) {
    return FileStamp{path, true, 65024, 627, size, 1750775815000000001LL, 1750775815000000002LL};
}

FontCache sample() {
    FontCache cache;
    cache.key.settings = {
        {"family", "sans-serif"}, {"pixelsize", "12.5"}, {"Xft.dpi", ""}, {"HOME", "=/home/a b%~"}};
    cache.key.files = {stamp("/etc/fonts/fonts.conf", 2760), stamp("/f/DejaVu Sans.ttf", 759720),
                       stamp("/f/ipag.ttf", 6235344), FileStamp{"/home/u/.fonts", false}};
    CachedFace latin;
    latin.elements = {{"family", {'s', "DejaVu Sans"}},
                      {"file", {'s', "/f/DejaVu Sans.ttf"}},
                      {"index", {'i', "0"}},
                      {"pixelsize", {'d', "12.5"}},
                      {"antialias", {'b', "1"}},
                      {"matrix", {'m', "1,0.2,0,1"}},
                      {"style", {'s', ""}}};
    latin.covers = U"Web";
    CachedFace japanese;
    japanese.elements = {{"file", {'s', "/f/ipag.ttf"}}, {"family", {'s', "IPAゴシック"}}};
    japanese.covers = U"ブラウザ日本";
    cache.faces = {latin, japanese};
    cache.uncovered = U"\U0001F600";
    cache.glyphs = CachedGlyphs{12, 3, {}};
    cache.glyphs->glyphs = {{U'W', 0, 3, 2, -1, 11, 9, 0, std::string("\0\x80\xff\x10\x20\x30", 6)},
                            {U' ', 0, 0, 0, 0, 0, 4, 0, ""},
                            {U'日', 1, 2, 1, 0, 10, 12, 0, "\x7f\x01"},
                            {U'\U0001F600', 0, 1, 1, 0, 0, 5, 0, "\xff"}};
    return cache;
}

bool same(const FontCache& a, const FontCache& b) {
    if (a.key.settings != b.key.settings || !(a.key.files == b.key.files) ||
        a.uncovered != b.uncovered || a.faces.size() != b.faces.size() ||
        a.glyphs.has_value() != b.glyphs.has_value())
        return false;
    if (a.glyphs &&
        (a.glyphs->ascent != b.glyphs->ascent || a.glyphs->descent != b.glyphs->descent ||
         !(a.glyphs->glyphs == b.glyphs->glyphs)))
        return false;
    for (std::size_t i = 0; i < a.faces.size(); ++i) {
        if (!(a.faces[i].elements == b.faces[i].elements) || a.faces[i].covers != b.faces[i].covers)
            return false;
    }
    return true;
}

std::string replacedOnce(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(FontCacheFormat, WhatIsWrittenReadsBackTheSame) {
    const auto read = parse(serialise(sample()));
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(same(*read, sample()));
}

TEST(FontCacheFormat, ACacheWithoutGlyphsReadsBackWithout) {
    FontCache cache = sample();
    cache.glyphs.reset();
    const auto read = parse(serialise(cache));
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(same(*read, cache));
}

TEST(FontCacheFormat, EveryCutOfTheTextReadsAsNoCache) {
    const std::string text = serialise(sample());
    for (std::size_t length = 0; length < text.size(); ++length)
        EXPECT_FALSE(parse(text.substr(0, length)).has_value()) << "cut at " << length;
}

TEST(FontCacheFormat, ForeignOrMalformedTextReadsAsNoCache) {
    const std::string good = serialise(sample());
    const std::map<std::string, std::string> cases = {
        {"empty", ""},
        {"garbage", "\x7f"
                    "ELF\x02\x01\x01\n"},
        {"another version", replacedOnce(good, "velmora-font-cache ", "velmora-font-cache 0")},
        {"larger than a cache", good + std::string(MAX_CACHE_BYTES, '\n')},
        {"text after the end", good + "face\n"},
        {"an unknown line", replacedOnce(good, "face\n", "fate\n")},
        {"a setting after a face", replacedOnce(good, "uncovered", "set a b\nuncovered")},
        {"a face whose file the key lacks", replacedOnce(good, "file /f/ipag.ttf ", "file /f/x ")},
        {"a face whose file was absent",
         replacedOnce(good, "file /f/ipag.ttf 1 ", "file /f/ipag.ttf 0 ")},
        {"a face without a file", replacedOnce(good, "element file s /f/ipag.ttf\n", "")},
        {"no face", good.substr(0, good.find("face\n")) + "uncovered\nend\n"},
        {"a stamp short of a field", replacedOnce(good, " 759720 ", " ")},
        {"a stamp not a number", replacedOnce(good, " 759720 ", " 75972O ")},
        {"a negative size", replacedOnce(good, " 759720 ", " -759720 ")},
        {"a broken escape", replacedOnce(good, "%7e\n", "%7\n")},
        {"an escape not hex", replacedOnce(good, "%20", "%g0")},
        {"an integer that is not", replacedOnce(good, "index i 0", "index i zero")},
        {"a double that is not", replacedOnce(good, "d 12.5", "d 12.5.1")},
        {"a bool out of range", replacedOnce(good, "antialias b 1", "antialias b 3")},
        {"a matrix of three", replacedOnce(good, "1,0.2,0,1", "1,0.2,0")},
        {"a matrix of five", replacedOnce(good, "1,0.2,0,1", "1,0.2,0,1,1")},
        {"an unknown type", replacedOnce(good, "antialias b 1", "antialias x 1")},
        {"a character past Unicode", replacedOnce(good, "uncovered 1f600", "uncovered 110000")},
        {"a surrogate", replacedOnce(good, "uncovered 1f600", "uncovered d800")},
        {"a character not hex", replacedOnce(good, "uncovered 1f600", "uncovered 1f60z")},
        {"covers outside a face", replacedOnce(good, "face\n", "covers 41\nface\n")},
        {"a carriage return", replacedOnce(good, "end\n", "end\r\n")},
        {"glyph lines without their header", replacedOnce(good, "glyphs 12 3\n", "")},
        {"glyphs twice", replacedOnce(good, "end\n", "glyphs 12 3\nend\n")},
        {"a face after the glyphs", replacedOnce(good, "end\n", "face\nend\n")},
        {"a glyph of no face", replacedOnce(good, "glyph 65e5 1 ", "glyph 65e5 2 ")},
        {"a glyph twice", replacedOnce(good, "end\n", "glyph 20 0 0 0 0 0 4 0 ~\nend\n")},
        {"a glyph short of a field",
         replacedOnce(good, "glyph 20 0 0 0 0 0 4 0", "glyph 20 0 0 0 0 4 0")},
        {"coverage short of its box", replacedOnce(good, " 0080ff102030\n", " 0080ff1020\n")},
        {"coverage of an odd length", replacedOnce(good, " 0080ff102030\n", " 0080ff10203\n")},
        {"coverage not hex", replacedOnce(good, " 0080ff102030\n", " 0080ff10203g\n")},
        {"a box larger than a glyph is",
         replacedOnce(good, "glyph 57 0 3 2 ", "glyph 57 0 3 2000 ")},
        {"a placement past 16 bits", replacedOnce(good, " -1 11 9 ", " -1 40000 9 ")},
        {"a negative box", replacedOnce(good, "glyph 20 0 0 0 ", "glyph 20 0 -0 -1 ")},
    };
    for (const auto& [name, text] : cases)
        EXPECT_FALSE(parse(text).has_value()) << name;
}

TEST(FontCacheDecimal, WrittenShortestAndReadBackExactly) {
    const std::map<double, std::string> shortest = {
        {12.0, "12"},    {12.5, "12.5"},   {0.1, "0.1"},    {100.0, "100"},
        {1e16, "1e+16"}, {-0.75, "-0.75"}, {1e-7, "1e-07"}, {4.0 / 3.0, "1.3333333333333333"}};
    for (const auto& [value, text] : shortest) {
        EXPECT_EQ(decimalText(value), text);
        double read = 0;
        EXPECT_TRUE(readDecimal(text, read)) << text;
        EXPECT_EQ(read, value) << text;
    }
    for (const char* bad : {"", " 1", "+1", "1 ", "0x10", "1.5.1", "1e", "1e999", "12,5"}) {
        double read = 0;
        EXPECT_FALSE(readDecimal(bad, read)) << bad;
    }
}

TEST(FontCacheKey, HoldsOnlyWhileEverySettingAndStampIsUnchanged) {
    const FontCache cache = sample();
    const auto settings = cache.key.settings;
    const auto asStored = [&](const std::string& path) {
        for (const FileStamp& file : cache.key.files) {
            if (file.path == path)
                return file;
        }
        return FileStamp{path, false};
    };
    EXPECT_TRUE(keyHolds(cache.key, settings, asStored));

    for (std::size_t i = 0; i < settings.size(); ++i) {
        auto changed = settings;
        changed[i].second += "x";
        EXPECT_FALSE(keyHolds(cache.key, changed, asStored)) << settings[i].first;
    }
    auto more = settings;
    more.emplace_back("FONTCONFIG_FILE", "=/x");
    EXPECT_FALSE(keyHolds(cache.key, more, asStored));

    const std::map<std::string, std::function<void(FileStamp&)>> changes = {
        {"appeared or went", [](FileStamp& s) { s.present = !s.present; }},
        {"another device", [](FileStamp& s) { ++s.device; }},
        {"another inode", [](FileStamp& s) { ++s.inode; }},
        {"another size", [](FileStamp& s) { ++s.size; }},
        {"modified", [](FileStamp& s) { ++s.modified; }},
        {"changed", [](FileStamp& s) { ++s.changed; }},
    };
    for (const FileStamp& file : cache.key.files) {
        for (const auto& change : changes) {
            const auto restamped = [&](const std::string& path) {
                FileStamp now = asStored(path);
                if (path == file.path)
                    change.second(now);
                return now;
            };
            EXPECT_FALSE(keyHolds(cache.key, settings, restamped))
                << file.path << ": " << change.first;
        }
    }
}

TEST(FontCacheKey, AccountsOnlyForCharactersItListed) {
    const FontCache cache = sample();
    EXPECT_TRUE(accountsFor(cache, U"Web日本\U0001F600"));
    EXPECT_TRUE(accountsFor(cache, U""));
    EXPECT_FALSE(accountsFor(cache, U"Webx"));
    EXPECT_FALSE(accountsFor(cache, U"語"));
}

TEST(FontCacheGlyphs, DrawOnlyTextTheyHoldEachByItsFace) {
    FontCache cache = sample();
    const std::u32string text = U"W 日\U0001F600";
    EXPECT_TRUE(glyphsDraw(cache, text, text));
    EXPECT_TRUE(glyphsDraw(cache, U"", U""));
    EXPECT_FALSE(glyphsDraw(cache, U"We", U"We")) << "a character without a glyph";
    EXPECT_FALSE(glyphsDraw(cache, U"W\n", U"W")) << "a control character without a glyph";
    ASSERT_NE(glyphOf(*cache.glyphs, U'日'), nullptr);
    EXPECT_EQ(glyphOf(*cache.glyphs, U'日')->width, 2);
    EXPECT_EQ(glyphOf(*cache.glyphs, U'x'), nullptr);

    FontCache otherFace = cache;
    otherFace.glyphs->glyphs[2].face = 0;
    EXPECT_FALSE(glyphsDraw(otherFace, text, text)) << "日 drawn by a face that does not cover it";
    EXPECT_TRUE(glyphsDraw(otherFace, text, U"W")) << "only the needed characters go by covers";
    FontCache coveredTwice = cache;
    coveredTwice.faces[0].covers += U'日';
    EXPECT_FALSE(glyphsDraw(coveredTwice, text, text)) << "the first face covering it draws it";
    FontCache none = cache;
    none.glyphs.reset();
    EXPECT_FALSE(glyphsDraw(none, U"", U""));
}

} // namespace
} // namespace velmora::fontcache
