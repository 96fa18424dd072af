// What drawn menus share: the rectangle kept on screen, titles, keys.
#include "menu/launcher_menu.h"
#include "menu/menu_view.h"

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
    MenuNavigator nav(titles, 3);
    EXPECT_EQ(nav.highlighted(), 0u);
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
