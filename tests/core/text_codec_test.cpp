// The text layer: UTF-8 decoding with replacement, the signature, line ends.
#include "text/text_codec.h"

#include <gtest/gtest.h>

#include <string>

using namespace velmora;

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::u16string text;
};

class Utf8Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8Decode, ReplacesEachMaximalInvalidSubpart) {
    EXPECT_EQ(utf8ToUtf16(GetParam().bytes), GetParam().text);
}

// The cases of the Unicode standard's table of U+FFFD substitution.
INSTANTIATE_TEST_SUITE_P(
    Bytes, Utf8Decode,
    ::testing::Values(DecodeCase{"Ascii", "abc", u"abc"},
                      DecodeCase{"TwoThreeFour", "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", u"é日😀"},
                      DecodeCase{"LoneContinuation",
                                 "a\x80"
                                 "b",
                                 u"a\uFFFDb"},
                      DecodeCase{"TruncatedThreeByte",
                                 "\xE6\x97"
                                 "a",
                                 u"\uFFFDa"},
                      DecodeCase{"TruncatedAtEnd", "a\xF0\x9F\x98", u"a\uFFFD"},
                      DecodeCase{"Overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
                      DecodeCase{"OverlongThree", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
                      DecodeCase{"Surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                      DecodeCase{"AboveMax", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                      DecodeCase{"UnicodeTable",
                                 "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
                                 u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
                      DecodeCase{"Ff", "\xFF\xFE", u"\uFFFD\uFFFD"},
                      DecodeCase{"Nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TextFile, SignatureOnlyAtTheStartAndCrLfAsLf) {
    EXPECT_EQ(decodeTextFile("\xEF\xBB\xBF"
                             "a\r\nb\rc\r"),
              u"a\nb\rc\r");
    EXPECT_EQ(decodeTextFile("\xEF\xBB\xBF\xEF\xBB\xBF"), u"\uFEFF");
    EXPECT_EQ(decodeTextFile("\xEF\xBB"), u"\uFFFD");
    EXPECT_EQ(decodeTextFile("\r\r\n"), u"\r\n");
}

TEST(TextFile, ValidityCheck) {
    EXPECT_TRUE(isValidUtf8("日本語 text"));
    EXPECT_FALSE(isValidUtf8("\x93\xfa\x96\x7b")); // Shift_JIS
    EXPECT_FALSE(isValidUtf8("\xE6\x97"));
}

TEST(Utf8Encode, RoundTripsAndReplacesLoneSurrogates) {
    const std::u16string text = u"a é 日本 😀";
    EXPECT_EQ(utf8ToUtf16(utf16ToUtf8(text)), text);
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD83D)) + u"x"), "\xEF\xBF\xBDx");
}
