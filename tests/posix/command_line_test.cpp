// The command-line text: the launcher's argument vector in, the same vector
// out, whatever bytes the arguments hold.
#include "platform/posix/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;
using Args = std::vector<std::string>;

namespace {

class RoundTrip : public testing::TestWithParam<Args> {};

TEST_P(RoundTrip, SplitGivesBackTheArguments) {
    EXPECT_EQ(splitCommandLine(joinCommandLine(GetParam())), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RoundTrip,
    testing::Values(Args{}, Args{""}, Args{"", ""}, Args{"a", "", "b"}, Args{"plain", "words"},
                    Args{"two words", "  lead and trail  "}, Args{"tab\there"},
                    Args{"new\nline", "\n", "cr\r\n"}, Args{"it's", "'", "''", "'\\''"},
                    Args{"\"quoted\"", "\"", "say \"hi\""},
                    Args{"back\\slash", "\\", "\\\\", "end\\"},
                    Args{"$HOME", "`id`", "$(id)", "*", "?", "a;b", "a|b", "a&b", "~", "#c"},
                    Args{"日本語", "メニュー型ランチャ", "ü", "emoji \xF0\x9F\x98\x80"},
                    Args{"\xFF", "\xC3", "a\x80z", "\xED\xA0\x80", "\xF4\x90\x80\x80"},
                    Args{"-x", "--flag=value", "/path/to/file", "a=b:c,d.e@f%g+h"}));

struct Joined {
    Args arguments;
    std::u16string text;
};

class JoinForm : public testing::TestWithParam<Joined> {};

TEST_P(JoinForm, WritesTheDocumentedForm) {
    EXPECT_EQ(joinCommandLine(GetParam().arguments), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Forms, JoinForm,
                         testing::Values(Joined{{}, u""}, Joined{{""}, u"''"},
                                         Joined{{"a", "b/c"}, u"a b/c"}, Joined{{"a b"}, u"'a b'"},
                                         Joined{{"it's"}, u"'it'\\''s'"},
                                         Joined{{"a\"b"}, u"'a\"b'"}, Joined{{"\\"}, u"'\\'"},
                                         Joined{{"日本"}, u"'日本'"},
                                         Joined{{"\xFF"}, u"'\xDCFF'"}));

struct Split {
    std::u16string text;
    Args arguments;
};

class SplitForm : public testing::TestWithParam<Split> {};

TEST_P(SplitForm, ReadsShellQuoting) {
    EXPECT_EQ(splitCommandLine(GetParam().text), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SplitForm,
    testing::Values(Split{u"", {}}, Split{u"   \t\n ", {}},
                    Split{u" a  b\tc\nd ", {"a", "b", "c", "d"}},
                    Split{u"\"a b\" 'c d'", {"a b", "c d"}}, Split{u"a'b'\"c\"d", {"abcd"}},
                    Split{u"\"\" ''", {"", ""}}, Split{u"a\\ b", {"a b"}}, Split{u"a\\\nb", {"ab"}},
                    Split{u"\"\\\" \\\\ \\$ \\a\"", {"\" \\ $ \\a"}}, Split{u"'\\'", {"\\"}},
                    Split{u"'open", {"open"}}, Split{u"trailing\\", {"trailing\\"}},
                    Split{u"\xDC80\xDCFF", {"\x80\xFF"}}, Split{u"\xD800", {"\xEF\xBF\xBD"}}));

TEST(ArgumentText, KeepsEveryByteThatIsNotUtf8) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(argumentBytes(argumentText(all)), all);
    EXPECT_EQ(argumentText("\xE6\x97\xA5\xFF"), u"日\xDCFF");
    EXPECT_EQ(argumentText("\xF0\x9F\x98\x80"), u"\U0001F600");
}

} // namespace
