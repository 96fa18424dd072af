// What drawn menus share: the rectangle kept on screen, titles, keys.
#include "menu/launcher_menu.h"
#include "menu/menu_session.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace velmora;

struct RectCase {
    unsigned int flags;
    int x;
    int y;
    int left;
    int top;
};

class MenuRectPlacement : public ::testing::TestWithParam<RectCase> {};

// A 40 x 30 menu on a 240 x 320 screen.
TEST_P(MenuRectPlacement, AnchorsThenKeepsOnScreen) {
    const MenuRect rect =
        placeMenuRect(GetParam().flags, GetParam().x, GetParam().y, 40, 30, 240, 320);
    EXPECT_EQ(rect.left, GetParam().left);
    EXPECT_EQ(rect.top, GetParam().top);
    EXPECT_EQ(rect.width, 40);
    EXPECT_EQ(rect.height, 30);
}

INSTANTIATE_TEST_SUITE_P(
    Anchors, MenuRectPlacement,
    ::testing::Values(RectCase{0x100, 0, 0, 0, 0}, RectCase{0x104, 120, 0, 100, 0},
                      RectCase{0x108, 240, 0, 200, 0}, RectCase{0x110, 0, 160, 0, 145},
                      RectCase{0x120, 0, 320, 0, 290}, RectCase{0x124, 120, 294, 100, 264},
                      RectCase{0x128, 240, 320, 200, 290}, RectCase{0x114, 120, 160, 100, 145},
                      // moved back on screen
                      RectCase{0x100, 230, 310, 200, 290}, RectCase{0x108, 10, -5, 0, 0},
                      RectCase{0x100, INT_MAX, INT_MIN, 200, 0},
                      RectCase{0x128, INT_MIN, INT_MAX, 0, 290}));

TEST(MenuRectPlacement, LargerThanTheScreenStartsAtTheEdge) {
    const MenuRect rect = placeMenuRect(0x120, 50, 50, 300, 400, 240, 320);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
}

struct TitleCase {
    std::u16string title;
    std::u16string left;
    std::u16string right;
    std::size_t mnemonicIndex;
    char32_t mnemonic;
};

class Titles : public ::testing::TestWithParam<TitleCase> {};

TEST_P(Titles, ReadByTheMenuConventions) {
    const MenuTitle title = parseMenuTitle(GetParam().title);
    EXPECT_EQ(title.left, GetParam().left);
    EXPECT_EQ(title.right, GetParam().right);
    EXPECT_EQ(title.mnemonicIndex, GetParam().mnemonicIndex);
    EXPECT_EQ(title.mnemonic, GetParam().mnemonic);
}

constexpr auto none = std::u16string::npos;

INSTANTIATE_TEST_SUITE_P(Forms, Titles,
                         ::testing::Values(TitleCase{u"Plain", u"Plain", u"", none, 0},
                                           TitleCase{u"&Mail", u"Mail", u"", 0, U'm'},
                                           TitleCase{u"Save &As", u"Save As", u"", 5, U'a'},
                                           TitleCase{u"R&&D", u"R&D", u"", none, 0},
                                           TitleCase{u"&&&x", u"&x", u"", 1, U'x'},
                                           TitleCase{u"Open\tCtrl+O", u"Open", u"Ctrl+O", none, 0},
                                           TitleCase{u"&File\tF&1", u"File", u"F1", 0, U'f'},
                                           TitleCase{u"a\tb\tc", u"a", u"b\tc", none, 0},
                                           TitleCase{u"end&", u"end", u"", none, 0},
                                           TitleCase{u"メモ帳(&M)", u"メモ帳(M)", u"", 4, U'm'},
                                           TitleCase{u"&日本", u"日本", u"", 0, U'日'}));

TEST(Navigator, KeysWrapJumpAndPick) {
    std::vector<MenuTitle> titles;
    for (const char16_t* t : {u"&One", u"&Two", u"T&hree", u"&Four", u"&Five", u"Six"})
        titles.push_back(parseMenuTitle(t));
    EXPECT_EQ(MenuNavigator(titles, 3).press(MenuKey::Enter), MenuNavigator::Result::Dismissed);
    MenuNavigator nav(titles, 3);
    EXPECT_EQ(nav.highlighted(), MenuNavigator::NONE);
    nav.press(MenuKey::Up);
    EXPECT_EQ(nav.highlighted(), 5u);
    EXPECT_EQ(nav.firstVisible(), 3u);
    nav.press(MenuKey::Down);
    EXPECT_EQ(nav.highlighted(), 0u);
    EXPECT_EQ(nav.firstVisible(), 0u);
    nav.press(MenuKey::PageDown);
    EXPECT_EQ(nav.highlighted(), 3u);
    nav.press(MenuKey::PageUp);
    EXPECT_EQ(nav.highlighted(), 0u);
    nav.press(MenuKey::End);
    EXPECT_EQ(nav.highlighted(), 5u);
    nav.press(MenuKey::Home);
    EXPECT_EQ(nav.highlighted(), 0u);
    // "f" is shared: it moves between the items; "h" is unique: it picks.
    EXPECT_EQ(nav.type(U'F'), MenuNavigator::Result::None);
    EXPECT_EQ(nav.highlighted(), 3u);
    EXPECT_EQ(nav.type(U'f'), MenuNavigator::Result::None);
    EXPECT_EQ(nav.highlighted(), 4u);
    EXPECT_EQ(nav.type(U'f'), MenuNavigator::Result::None);
    EXPECT_EQ(nav.highlighted(), 3u);
    EXPECT_EQ(nav.type(U'z'), MenuNavigator::Result::None);
    EXPECT_EQ(nav.type(U'H'), MenuNavigator::Result::Picked);
    EXPECT_EQ(nav.highlighted(), 2u);
    EXPECT_EQ(nav.press(MenuKey::Enter), MenuNavigator::Result::Picked);
    EXPECT_EQ(nav.press(MenuKey::Cancel), MenuNavigator::Result::Dismissed);
}

TEST(Navigator, EmptyMenuOnlyDismisses) {
    MenuNavigator nav({}, 5);
    EXPECT_EQ(nav.press(MenuKey::Down), MenuNavigator::Result::None);
    EXPECT_EQ(nav.press(MenuKey::Enter), MenuNavigator::Result::None);
    EXPECT_EQ(nav.type(U'a'), MenuNavigator::Result::None);
    EXPECT_EQ(nav.press(MenuKey::Cancel), MenuNavigator::Result::Dismissed);
}

TEST(Navigator, ScrollStaysWithinTheList) {
    std::vector<MenuTitle> titles(10);
    MenuNavigator nav(titles, 4);
    nav.scroll(100);
    EXPECT_EQ(nav.firstVisible(), 6u);
    nav.scroll(-2);
    EXPECT_EQ(nav.firstVisible(), 4u);
    nav.scroll(-100);
    EXPECT_EQ(nav.firstVisible(), 0u);
    nav.point(9);
    EXPECT_EQ(nav.highlighted(), 9u);
    EXPECT_EQ(nav.firstVisible(), 6u);
    nav.point(42); // outside: ignored
    EXPECT_EQ(nav.highlighted(), 9u);
}

TEST(MenuItems, TitlesAreParsedInItemOrder) {
    const std::vector<MenuItem> items = {{40000, u"&One"}, {40001, u"T&wo\tCtrl+2"}};
    const std::vector<MenuTitle> titles = parseMenuTitles(items);
    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(titles[1].left, u"Two");
    EXPECT_EQ(titles[1].right, u"Ctrl+2");
}

struct RowTextCase {
    std::u16string title;
    std::u32string left;
    std::u32string right;
    std::size_t mnemonic;
};

class RowTexts : public ::testing::TestWithParam<RowTextCase> {};

TEST_P(RowTexts, JoinPairsAndMoveTheMnemonic) {
    const MenuRowText row = menuRowText(parseMenuTitle(GetParam().title));
    EXPECT_EQ(row.left, GetParam().left);
    EXPECT_EQ(row.right, GetParam().right);
    EXPECT_EQ(row.mnemonic, GetParam().mnemonic);
}

constexpr auto noRow = std::u32string::npos;

INSTANTIATE_TEST_SUITE_P(
    Titles, RowTexts,
    ::testing::Values(RowTextCase{u"&Open\tCtrl+O", U"Open", U"Ctrl+O", 0},
                      RowTextCase{u"メモ帳(&M)", U"メモ帳(M)", U"", 4},
                      // after a surrogate pair the mnemonic moves back by one
                      RowTextCase{u"\U0001F600&x\t\U0001F600", U"\U0001F600x", U"\U0001F600", 1},
                      RowTextCase{u"&\U0001F600", U"\U0001F600", U"", 0},
                      // unpaired surrogates are shown as U+FFFD
                      RowTextCase{u"a\xDC00&b\t\xD800",
                                  U"a\xFFFD"
                                  U"b",
                                  U"\xFFFD", 2},
                      // "&" between the halves of a pair: they join, nothing is underlined
                      RowTextCase{u"\xD83D&\xDE00z", U"\U0001F600z", U"", noRow},
                      RowTextCase{u"", U"", U"", noRow}));

TEST(RowTexts, TheWidestRowHasAGapOnlyWhenItsRightPartTakesRoom) {
    const auto length = [](std::u32string_view text) -> long long {
        return static_cast<long long>(text.size());
    };
    std::vector<MenuRowText> rows;
    EXPECT_EQ(widestMenuRow(rows, 2, length), 0);
    for (const char16_t* title : {u"Open\tCtrl+O", u"A much longer title", u"x\t"})
        rows.push_back(menuRowText(parseMenuTitle(title)));
    EXPECT_EQ(widestMenuRow(rows, 2, length), 19);
    EXPECT_EQ(widestMenuRow(rows, 20, length), 4 + 20 + 6);
}

struct HitCase {
    int x;
    int y;
    MenuHit::Kind kind;
    std::size_t item;
};

// A menu at (100, 50), 60 x 50: a border of 1, a margin of 2, rows 10 high.
// Without arrows it shows four rows from y 53; with arrows of 5 it shows
// three, from y 58 to 88, the arrows above and below.
MenuGeometry hitGeometry(bool arrows) {
    MenuGeometry geometry;
    geometry.frame = MenuRect{100, 50, 60, 50};
    geometry.border = 1;
    geometry.margin = 2;
    geometry.rowHeight = 10;
    geometry.arrowHeight = arrows ? 5 : 0;
    geometry.rows = arrows ? 3 : 4;
    return geometry;
}

class FlatHits : public ::testing::TestWithParam<HitCase> {};
class ScrollingHits : public ::testing::TestWithParam<HitCase> {};

void expectHit(const MenuGeometry& geometry, const MenuNavigator& navigator, const HitCase& c) {
    const MenuHit hit =
        hitTestMenu(geometry, navigator.firstVisible(), navigator.itemCount(), c.x, c.y);
    EXPECT_EQ(hit.kind, c.kind) << c.x << "," << c.y;
    if (c.kind == MenuHit::Kind::Item) {
        EXPECT_EQ(hit.item, c.item) << c.x << "," << c.y;
    }
}

// Three items in four rows: the last row is empty.
TEST_P(FlatHits, FindTheRowUnderThePoint) {
    const MenuNavigator navigator(std::vector<MenuTitle>(3), 4);
    expectHit(hitGeometry(false), navigator, GetParam());
}

using K = MenuHit::Kind;

INSTANTIATE_TEST_SUITE_P(
    Points, FlatHits,
    ::testing::Values(HitCase{99, 60, K::Outside, 0}, HitCase{160, 60, K::Outside, 0},
                      HitCase{130, 49, K::Outside, 0}, HitCase{130, 100, K::Outside, 0},
                      HitCase{INT_MIN, INT_MAX, K::Outside, 0}, HitCase{100, 60, K::Frame, 0},
                      HitCase{159, 60, K::Frame, 0}, HitCase{130, 52, K::Frame, 0},
                      HitCase{101, 53, K::Item, 0}, HitCase{158, 62, K::Item, 0},
                      HitCase{130, 63, K::Item, 1}, HitCase{130, 82, K::Item, 2},
                      HitCase{130, 83, K::Frame, 0} /* the empty row */,
                      HitCase{130, 93, K::Frame, 0} /* the bottom margin */));

// Ten items, scrolled to the fourth.
TEST_P(ScrollingHits, FindTheArrowsAndTheScrolledRows) {
    MenuNavigator navigator(std::vector<MenuTitle>(10), 3);
    navigator.scroll(3);
    expectHit(hitGeometry(true), navigator, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Points, ScrollingHits,
    ::testing::Values(HitCase{130, 52, K::Frame, 0}, HitCase{130, 53, K::ScrollUp, 0},
                      HitCase{130, 57, K::ScrollUp, 0}, HitCase{130, 58, K::Item, 3},
                      HitCase{130, 87, K::Item, 5}, HitCase{130, 88, K::ScrollDown, 0},
                      HitCase{130, 92, K::ScrollDown, 0}, HitCase{130, 93, K::Frame, 0},
                      HitCase{100, 55, K::Frame, 0}));

// The terminal's box: one cell of border, a row per cell, no arrows.
TEST(MenuHits, ABoxOfCellsHasItsBorderOnEverySide) {
    MenuGeometry box;
    box.frame = MenuRect{2, 1, 8, 4};
    box.border = 1;
    box.rows = 2;
    const MenuNavigator navigator(std::vector<MenuTitle>(2), 2);
    for (const HitCase& c :
         {HitCase{3, 2, K::Item, 0}, HitCase{8, 3, K::Item, 1}, HitCase{2, 2, K::Frame, 0},
          HitCase{9, 3, K::Frame, 0}, HitCase{5, 1, K::Frame, 0}, HitCase{5, 4, K::Frame, 0},
          HitCase{10, 2, K::Outside, 0}, HitCase{5, 5, K::Outside, 0}})
        expectHit(box, navigator, c);
    // A box of two lines holds no row.
    box.frame.height = 2;
    box.rows = 0;
    expectHit(box, navigator, HitCase{5, 2, K::Frame, 0});
}

// The row rule every drawn menu fits its titles by, measured here in cells.
struct FitCase {
    std::u16string title;
    long long room;
    std::u32string left;
    std::u32string right;
    std::size_t mnemonic;
};

class FittedRows : public ::testing::TestWithParam<FitCase> {};

TEST_P(FittedRows, CutWithAnEllipsisAndNeverOverlap) {
    const FitCase& c = GetParam();
    const MeasureText cells = [](std::u32string_view text) {
        return static_cast<long long>(text.size());
    };
    const MenuRowText fitted = fitMenuRow(menuRowText(parseMenuTitle(c.title)), c.room, 2, cells);
    EXPECT_EQ(fitted.left, c.left);
    EXPECT_EQ(fitted.right, c.right);
    EXPECT_EQ(fitted.mnemonic, c.mnemonic);
    const long long used =
        cells(fitted.left) + (fitted.right.empty() ? 0 : 2 + cells(fitted.right));
    EXPECT_LE(used, std::max(c.room, 0LL));
}

constexpr std::size_t NONE = std::u32string::npos;

INSTANTIATE_TEST_SUITE_P(Rooms, FittedRows,
                         ::testing::Values(FitCase{u"Mail", 10, U"Mail", U"", NONE},
                                           FitCase{u"Mail\tCtrl+M", 12, U"Mail", U"Ctrl+M", NONE},
                                           FitCase{u"Mailbox\tCtrl+M", 10, U"Ma…", U"Ctrl…", NONE},
                                           FitCase{u"abcdefghij\tF1", 8, U"abc…", U"F1", NONE},
                                           FitCase{u"abcdefghij", 5, U"abcd…", U"", NONE},
                                           FitCase{u"a&bcdef", 3, U"ab…", U"", 1},
                                           FitCase{u"a&bcdef", 2, U"a…", U"", NONE},
                                           FitCase{u"ab", 1, U"…", U"", NONE},
                                           FitCase{u"ab\tcd", 0, U"", U"", NONE},
                                           FitCase{u"ab", -5, U"", U"", NONE}));

struct PixelLayoutCase {
    double scale;
    long long textWidth;
    std::size_t items;
    long long screenWidth;
    long long screenHeight;
    int width;
    int height;
    std::size_t rows;
    bool scrolls;
};

class PixelLayouts : public ::testing::TestWithParam<PixelLayoutCase> {};

// A font 14 pixels high at 96 dpi: rows of 20 (3 above and below).
TEST_P(PixelLayouts, FitTheTextAndTheScreen) {
    const PixelLayoutCase& c = GetParam();
    const MenuMetrics metrics = scaledMenuMetrics(c.scale);
    const MenuGeometry g = layoutPixelMenu(metrics, c.textWidth, static_cast<int>(14 * c.scale),
                                           c.items, c.screenWidth, c.screenHeight);
    EXPECT_EQ(g.frame.width, c.width);
    EXPECT_EQ(g.frame.height, c.height);
    EXPECT_EQ(g.rows, c.rows);
    EXPECT_EQ(g.scrolls(), c.scrolls);
}

INSTANTIATE_TEST_SUITE_P(
    Menus, PixelLayouts,
    ::testing::Values(PixelLayoutCase{1.0, 100, 3, 240, 320, 122, 66, 3, false},
                      PixelLayoutCase{1.0, 100, 3, 80, 320, 80, 66, 3, false},
                      PixelLayoutCase{1.0, 4, 3, 240, 320, 48, 66, 3, false},
                      PixelLayoutCase{1.0, 100, 0, 240, 320, 122, 6, 1, false},
                      PixelLayoutCase{1.0, 100, 100, 240, 320, 122, 310, 14, true},
                      PixelLayoutCase{1.0, 100, 1000000, 0, 0, 122, 32767, 1000000, false},
                      PixelLayoutCase{2.0, 200, 3, 480, 640, 244, 132, 3, false}));
