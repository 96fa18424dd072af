// The terminal menu's geometry: cell widths, the box, the item rows.
#include "display/terminal/terminal_layout.h"
#include "menu/launcher_menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;

namespace {

struct Width {
    char32_t c;
    int cells;
};

class CellWidth : public testing::TestWithParam<Width> {};

TEST_P(CellWidth, CountsWideAndZeroWidthCharacters) {
    EXPECT_EQ(cellWidth(GetParam().c), GetParam().cells) << std::hex << GetParam().c;
}

INSTANTIATE_TEST_SUITE_P(Characters, CellWidth,
                         testing::Values(Width{U'a', 1}, Width{U'~', 1}, Width{U'é', 1},
                                         Width{U'─', 1}, Width{U'Ω', 1},
                                         Width{U'ｱ', 1} /* half-width katakana */, Width{U'基', 2},
                                         Width{U'あ', 2}, Width{U'ア', 2}, Width{U'한', 2},
                                         Width{U'Ａ', 2}, Width{U'　', 2}, Width{U'。', 2},
                                         Width{0x20000, 2}, Width{0x1F600, 2}, Width{0x0301, 0},
                                         Width{0x200B, 0}, Width{0xFE0F, 0}, Width{0x3099, 0}));

TEST(TerminalRowText, ControlsCannotReachTheTerminal) {
    MenuTitle title;
    title.left = u"\x1b[2J\x7f\x85\xD800z\U0001F600x";
    title.right = u"\t\x1b";
    title.mnemonicIndex = 10; // the "x", after a surrogate pair
    const MenuRowText row = terminalRowText(title);
    EXPECT_EQ(row.left, U"?[2J??\xFFFDz\U0001F600x");
    EXPECT_EQ(row.right, U"??");
    EXPECT_EQ(row.mnemonic, 9u);
}

std::vector<MenuTitle> titles(std::initializer_list<std::u16string_view> texts) {
    std::vector<MenuTitle> parsed;
    for (const auto text : texts)
        parsed.push_back(parseMenuTitle(text));
    return parsed;
}

TEST(Layout, BoxFitsTheWidestTitleAndOneRowPerItem) {
    // " 日本語 " is 8 cells, "Open  Ctrl+O" 12 (2 blanks of gap), plus a blank each side.
    const auto layout = layoutTerminalMenu(titles({u"日本語", u"&Open\tCtrl+O", u"x"}),
                                           TPM_RETURNCMD, 0, 0, 80, 24);
    EXPECT_EQ(layout.innerWidth, 14);
    EXPECT_EQ(layout.box.width, 16);
    EXPECT_EQ(layout.box.height, 5);
    EXPECT_EQ(layout.visibleRows, 3u);
}

TEST(Layout, AnEmptyMenuIsABareBox) {
    const auto layout = layoutTerminalMenu({}, TPM_RETURNCMD, 5, 5, 80, 24);
    EXPECT_EQ(layout.box.width, 4);
    EXPECT_EQ(layout.box.height, 2);
    EXPECT_EQ(layout.visibleRows, 0u);
    EXPECT_EQ(layout.box.left, 5);
    EXPECT_EQ(layout.box.top, 5);
}

TEST(Layout, MoreItemsThanRowsScrollInsideTheScreen) {
    std::vector<MenuTitle> many(40, parseMenuTitle(u"item"));
    const auto layout = layoutTerminalMenu(many, TPM_RETURNCMD | TPM_BOTTOMALIGN, 3, 10, 30, 12);
    EXPECT_EQ(layout.box.height, 12);
    EXPECT_EQ(layout.box.top, 0);
    EXPECT_EQ(layout.visibleRows, 10u);
}

TEST(Layout, WiderThanTheScreenIsCutToIt) {
    const auto layout = layoutTerminalMenu(titles({u"a title far wider than ten"}),
                                           TPM_RETURNCMD | TPM_RIGHTALIGN, 10, 0, 10, 5);
    EXPECT_EQ(layout.box.width, 10);
    EXPECT_EQ(layout.box.left, 0);
    EXPECT_EQ(layoutItemRow(parseMenuTitle(u"a title far wider than ten"), layout.innerWidth).text,
              U" a tit\u2026 ");
}

struct Placement {
    unsigned int flags;
    int x, y;
    int left, top;
};

class BoxPlacement : public testing::TestWithParam<Placement> {};

// A 6 x 4 box ("abcd" padded, two items) on a 40 x 12 terminal.
TEST_P(BoxPlacement, AnchorsTheBoxAndKeepsItOnScreen) {
    const Placement& p = GetParam();
    const auto layout = layoutTerminalMenu(titles({u"abcd", u"e"}), p.flags, p.x, p.y, 40, 12);
    ASSERT_EQ(layout.box.width, 8);
    ASSERT_EQ(layout.box.height, 4);
    EXPECT_EQ(layout.box.left, p.left);
    EXPECT_EQ(layout.box.top, p.top);
}

INSTANTIATE_TEST_SUITE_P(
    Anchors, BoxPlacement,
    testing::Values(Placement{0x100, 0, 0, 0, 0}, Placement{0x104, 20, 0, 16, 0},
                    Placement{0x108, 40, 0, 32, 0}, Placement{0x110, 0, 6, 0, 4},
                    Placement{0x114, 20, 6, 16, 4}, Placement{0x118, 40, 6, 32, 4},
                    Placement{0x120, 0, 12, 0, 8}, Placement{0x124, 20, 12, 16, 8},
                    Placement{0x128, 40, 12, 32, 8}, Placement{0x100, -5, -5, 0, 0},
                    Placement{0x100, 39, 11, 32, 8}, Placement{0x128, 3, 2, 0, 0}));

struct Row {
    std::u16string title;
    int innerWidth;
    std::u32string text;
    std::size_t mnemonicAt;
};

class ItemRows : public testing::TestWithParam<Row> {};

TEST_P(ItemRows, FillTheInnerWidth) {
    const Row& r = GetParam();
    const ItemRow row = layoutItemRow(parseMenuTitle(r.title), r.innerWidth);
    EXPECT_EQ(row.text, r.text);
    EXPECT_EQ(row.mnemonicAt, r.mnemonicAt);
    EXPECT_EQ(textCells(row.text), r.innerWidth);
}

constexpr std::size_t NONE = std::u32string::npos;

// Rows cut in cells by the rule every drawn menu shares: a wide character
// that would straddle the cut leaves a blank, and the mnemonic stays only
// while its character is shown.
INSTANTIATE_TEST_SUITE_P(
    Titles, ItemRows,
    testing::Values(Row{u"Plain", 9, U" Plain   ", NONE},
                    Row{u"Open\tCtrl+O", 16, U" Open    Ctrl+O ", NONE},
                    Row{u"日本語", 7, U" 日本\u2026 ", NONE},
                    Row{u"日本語", 6, U" 日\u2026  ", NONE} /* cut inside 本 */,
                    Row{u"File\t日本語", 12, U" Fi\u2026  日本\u2026 ", NONE},
                    Row{u"&日本", 6, U" 日本 ", 1},
                    Row{u"a&bcdef", 6, U" abc\u2026 ", 2} /* the mnemonic kept */,
                    Row{u"abc&d", 4, U" a\u2026 ", NONE} /* the mnemonic cut off */,
                    Row{u"x", 1, U" ", NONE}, Row{u"x", 0, U"", NONE}));

} // namespace
