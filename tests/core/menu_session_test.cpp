// The one behaviour of every drawn menu, as tables: each case is a menu, the
// inputs a display would turn its events into, and how the menu ends up.
#include "menu/menu_session.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;

namespace {

// A menu of `count` items "&0 item", "&1 item", ... with the identifiers
// 40001, 40002, ...; a border of 1 and a margin of 2 around rows 10 high, the
// frame 100 wide at (0, 0). A menu of more than four items shows three rows
// between two arrows 5 high: the up arrow at y 3-7, the rows from y 8, the
// down arrow at y 38-42.
std::vector<MenuItem> itemsOf(std::size_t count) {
    std::vector<MenuItem> items;
    for (std::size_t i = 0; i < count; ++i)
        items.push_back({static_cast<unsigned int>(40001 + i),
                         u"&" + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u" item"});
    return items;
}

MenuGeometry geometryFor(std::size_t count) {
    MenuGeometry g;
    g.border = 1;
    g.margin = 2;
    g.rowHeight = 10;
    const bool scrolls = count > 4;
    g.arrowHeight = scrolls ? 5 : 0;
    g.rows = scrolls ? 3 : std::max<std::size_t>(count, 1);
    g.frame = MenuRect{0, 0, 100, static_cast<int>(g.rowsBottom()) + g.arrowHeight + 3};
    return g;
}

enum class Op { Key, Type, Move, Drag, Press, Release, Wheel, Tick, Dismiss };

struct Step {
    Op op;
    int a = 0; // key, character, button, notches or time
    MenuPointer pointer{};
};

int rowY(std::size_t count, int row) {
    return static_cast<int>(geometryFor(count).rowTop(static_cast<std::size_t>(row))) + 4;
}

// Where things are in a menu of the case's size (the helpers take it from the
// case below through a global: the tables stay one line per step).
std::size_t sizeNow = 3;
MenuPointer onRow(int row) {
    return MenuPointer::at(50, rowY(sizeNow, row));
}
const MenuPointer OFF = MenuPointer::elsewhere();

Step key(MenuKey k) {
    return {Op::Key, static_cast<int>(k)};
}
Step type(char32_t c) {
    return {Op::Type, static_cast<int>(c)};
}
Step move(MenuPointer p) {
    return {Op::Move, 0, p};
}
Step drag(MenuPointer p) {
    return {Op::Drag, 0, p};
}
Step press(MenuButton b, MenuPointer p) {
    return {Op::Press, static_cast<int>(b), p};
}
Step release(MenuButton b, MenuPointer p) {
    return {Op::Release, static_cast<int>(b), p};
}
Step click(MenuPointer p) {
    return press(MenuButton::Left, p);
}
Step wheel(int notches) {
    return {Op::Wheel, notches};
}
Step tick(int ms) {
    return {Op::Tick, ms};
}
Step dismiss() {
    return {Op::Dismiss};
}

constexpr auto L = MenuButton::Left;
constexpr auto M = MenuButton::Middle;
constexpr auto R = MenuButton::Right;

struct SessionCase {
    const char* name;
    std::size_t items;
    std::vector<Step> (*steps)();
    bool closed;
    unsigned int command; // 0: dismissed, or still open
    std::size_t highlighted;
    std::size_t first;
};

MenuUpdate apply(MenuSession& session, const Step& s) {
    switch (s.op) {
    case Op::Key:
        return session.key(static_cast<MenuKey>(s.a));
    case Op::Type:
        return session.type(static_cast<char32_t>(s.a));
    case Op::Move:
        return session.motion(s.pointer, false);
    case Op::Drag:
        return session.motion(s.pointer, true);
    case Op::Press:
        return session.press(static_cast<MenuButton>(s.a), s.pointer);
    case Op::Release:
        return session.release(static_cast<MenuButton>(s.a), s.pointer);
    case Op::Wheel:
        return session.wheel(s.a);
    case Op::Tick:
        return session.tick(s.a);
    case Op::Dismiss:
        return session.dismiss();
    }
    return {};
}

class Sessions : public testing::TestWithParam<SessionCase> {};

TEST_P(Sessions, EndAsTheNativeMenuDoes) {
    const SessionCase& c = GetParam();
    sizeNow = c.items;
    MenuSession session(itemsOf(c.items));
    session.setGeometry(geometryFor(c.items));
    MenuUpdate last;
    for (const Step& step : c.steps())
        last = apply(session, step);
    EXPECT_EQ(session.closed(), c.closed);
    EXPECT_EQ(last.closed, c.closed);
    EXPECT_EQ(session.command(), c.command);
    if (!c.closed) {
        EXPECT_EQ(session.navigator().highlighted(), c.highlighted);
        EXPECT_EQ(session.navigator().firstVisible(), c.first);
    }
}

using MK = MenuKey;
constexpr std::size_t NO = MenuNavigator::NONE;

const SessionCase CASES[] = {
    // keys
    {"EnterWithNothingHighlightedCloses", 3, [] { return std::vector<Step>{key(MK::Enter)}; }, true,
     0, 0, 0},
    {"DownEnterPicksTheFirst", 3,
     [] {
         return std::vector<Step>{key(MK::Down), key(MK::Enter)};
     },
     true, 40001, 0, 0},
    {"EscapeCloses", 3, [] { return std::vector<Step>{key(MK::Cancel)}; }, true, 0, 0, 0},
    {"DownDownEnter", 3,
     [] {
         return std::vector<Step>{key(MK::Down), key(MK::Down), key(MK::Enter)};
     },
     true, 40002, 0, 0},
    {"UpFromNothingIsTheLast", 3, [] { return std::vector<Step>{key(MK::Up)}; }, false, 0, 2, 0},
    {"EndScrollsTheLastIntoView", 10, [] { return std::vector<Step>{key(MK::End)}; }, false, 0, 9,
     7},
    {"MnemonicPicks", 3, [] { return std::vector<Step>{type(U'2')}; }, true, 40003, 0, 0},
    {"UnknownCharacterDoesNothing", 3, [] { return std::vector<Step>{type(U'x')}; }, false, 0, NO,
     0},
    {"EmptyMenuEnterStaysOpen", 0, [] { return std::vector<Step>{key(MK::Enter)}; }, false, 0, NO,
     0},
    {"EmptyMenuEscapeCloses", 0, [] { return std::vector<Step>{key(MK::Cancel)}; }, true, 0, 0, 0},
    // the left button's release over an item picks
    {"ClickPicks", 3,
     [] {
         return std::vector<Step>{click(onRow(1)), release(L, onRow(1))};
     },
     true, 40002, 0, 0},
    {"PressAlonePicksNothing", 3, [] { return std::vector<Step>{click(onRow(1))}; }, false, 0, 1,
     0},
    {"DragToAnotherItemPicksThat", 3,
     [] {
         return std::vector<Step>{click(onRow(0)), drag(onRow(2)), release(L, onRow(2))};
     },
     true, 40003, 0, 0},
    {"ReleaseOffTheItemsPicksNothing", 3,
     [] {
         return std::vector<Step>{click(onRow(0)), release(L, MenuPointer::at(50, 1))};
     },
     false, 0, 0, 0},
    {"PressOnTheFrameThenReleaseOnAnItemPicks", 3,
     [] {
         return std::vector<Step>{click(MenuPointer::at(0, 5)), release(L, onRow(2))};
     },
     true, 40003, 0, 0},
    {"RightButtonNeverPicks", 3,
     [] {
         return std::vector<Step>{press(R, onRow(2)), release(R, onRow(2))};
     },
     false, 0, 2, 0},
    {"MiddleButtonNeverPicks", 3,
     [] {
         return std::vector<Step>{press(M, onRow(1)), release(M, onRow(1))};
     },
     false, 0, 1, 0},
    {"RightPressThenLeftReleasePicksNothing", 3,
     [] {
         return std::vector<Step>{press(R, onRow(1)), release(L, onRow(1))};
     },
     false, 0, 1, 0},
    // the press that opened the menu
    {"OpeningPressDraggedOntoAnItemPicks", 3,
     [] {
         return std::vector<Step>{drag(onRow(1)), release(L, onRow(1))};
     },
     true, 40002, 0, 0},
    {"OpeningPressReleasedInPlacePicksNothing", 3,
     [] { return std::vector<Step>{release(L, onRow(1))}; }, false, 0, NO, 0},
    {"OnlyTheFirstReleaseEndsTheOpeningPress", 3,
     [] {
         return std::vector<Step>{drag(onRow(1)), release(L, MenuPointer::at(50, 1)),
                                  release(L, onRow(1))};
     },
     false, 0, 1, 0},
    // outside
    {"PressElsewhereCloses", 3, [] { return std::vector<Step>{press(R, OFF)}; }, true, 0, 0, 0},
    {"PressBesideTheFrameCloses", 3,
     [] { return std::vector<Step>{click(MenuPointer::at(100, 5))}; }, true, 0, 0, 0},
    {"ReleaseElsewhereDoesNothing", 3, [] { return std::vector<Step>{release(L, OFF)}; }, false, 0,
     NO, 0},
    {"InputAfterClosingChangesNothing", 3,
     [] {
         return std::vector<Step>{key(MK::Cancel), key(MK::Enter)};
     },
     true, 0, 0, 0},
    {"DismissedByTheDisplay", 3,
     [] {
         return std::vector<Step>{key(MK::Down), dismiss()};
     },
     true, 0, 0, 0},
    // hover
    {"HoverHighlights", 3, [] { return std::vector<Step>{move(onRow(2))}; }, false, 0, 2, 0},
    {"HoverThenEnter", 3,
     [] {
         return std::vector<Step>{move(onRow(2)), key(MK::Enter)};
     },
     true, 40003, 0, 0},
    {"LeavingKeepsTheHighlight", 3,
     [] {
         return std::vector<Step>{move(onRow(1)), move(OFF)};
     },
     false, 0, 1, 0},
    // scrolling: the wheel, the arrows, resting on an arrow
    {"WheelNotchMovesOneRow", 10, [] { return std::vector<Step>{wheel(1)}; }, false, 0, NO, 1},
    {"WheelStopsAtTheEnds", 10,
     [] {
         return std::vector<Step>{wheel(-2), wheel(99)};
     },
     false, 0, NO, 7},
    {"PressOnTheDownArrowMovesOneRow", 10,
     [] { return std::vector<Step>{click(MenuPointer::at(50, 40))}; }, false, 0, NO, 1},
    {"ArrowPressThenReleaseOnAnItemPicksIt", 10,
     [] {
         return std::vector<Step>{click(MenuPointer::at(50, 40)), release(L, onRow(0))};
     },
     true, 40002, 0, 0},
    {"RestingOnTheArrowMovesOneRowPerPace", 10,
     [] {
         return std::vector<Step>{move(MenuPointer::at(50, 40)), tick(1000), tick(1059), tick(1060),
                                  tick(1120)};
     },
     false, 0, NO, 2},
    {"MovingOnTheArrowKeepsThePace", 10,
     [] {
         return std::vector<Step>{move(MenuPointer::at(50, 40)), tick(0),
                                  move(MenuPointer::at(60, 41)), tick(60),
                                  move(MenuPointer::at(61, 41)), tick(120)};
     },
     false, 0, NO, 2},
    {"LeavingTheArrowStopsIt", 10,
     [] {
         return std::vector<Step>{move(MenuPointer::at(50, 40)),
                                  tick(0),
                                  tick(60),
                                  move(onRow(1)),
                                  tick(120),
                                  tick(180)};
     },
     false, 0, 2, 1},
    {"UpArrowAtTheTopStaysPut", 10,
     [] {
         return std::vector<Step>{move(MenuPointer::at(50, 4)), tick(0), tick(60)};
     },
     false, 0, NO, 0},
};

INSTANTIATE_TEST_SUITE_P(Rules, Sessions, testing::ValuesIn(CASES), velmora::test::CaseName());

TEST(Sessions, AnswerWhatToDrawAgain) {
    sizeNow = 10;
    MenuSession session(itemsOf(10));
    session.setGeometry(geometryFor(10));
    const MenuUpdate first = session.key(MenuKey::Down);
    EXPECT_EQ(first.repaint, MenuUpdate::Repaint::Rows);
    EXPECT_EQ(first.rows[0], 0u);
    EXPECT_EQ(first.rows[1], 0u);
    const MenuUpdate down = session.key(MenuKey::Down);
    EXPECT_EQ(down.repaint, MenuUpdate::Repaint::Rows);
    EXPECT_EQ(down.rows[0], 0u);
    EXPECT_EQ(down.rows[1], 1u);
    EXPECT_EQ(session.motion(onRow(1), false).repaint, MenuUpdate::Repaint::Nothing);
    EXPECT_EQ(session.wheel(1).repaint, MenuUpdate::Repaint::Everything);
    EXPECT_EQ(session.key(MenuKey::Enter).command, 40002u);
}

TEST(Sessions, TickTimeoutRunsOnlyWhileRestingOnAnArrow) {
    sizeNow = 10;
    MenuSession session(itemsOf(10));
    session.setGeometry(geometryFor(10));
    EXPECT_EQ(session.tickTimeout(0), -1);
    session.motion(MenuPointer::at(50, 40), false);
    EXPECT_EQ(session.tickTimeout(500), MENU_SCROLL_REPEAT_MILLISECONDS);
    EXPECT_EQ(session.tickTimeout(530), MENU_SCROLL_REPEAT_MILLISECONDS - 30);
    EXPECT_EQ(session.tickTimeout(5000), 0); // late: due at once
    session.motion(onRow(0), false);
    EXPECT_EQ(session.tickTimeout(5000), -1);
}

} // namespace
