// Where a drawn menu must lie for a "position" section, on a 240 x 320
// screen or output, as the X11 and Wayland suites both read it back from the
// real menu: the point from the section and the side of the menu that the
// alignment puts there, then moved to stay on the screen.
#pragma once

#include <gtest/gtest.h>

#include <ostream>

namespace velmora::test {

// The screen (or output) that the drawn-menu suites start, in pixels.
constexpr int SCREEN_WIDTH = 240;
constexpr int SCREEN_HEIGHT = 320;

// The values of the "position" section.
struct Position {
    int x = 0;
    int y = 0;
    int xAlign = 0;
    int yAlign = 0;
};

enum class Side { Start, Centre, End };

struct Expected {
    Side side;
    int at;
};

struct PlacementCase {
    const char* name;
    Position position;
    Expected horizontal;
    Expected vertical;
};

inline void PrintTo(const PlacementCase& c, std::ostream* out) {
    *out << c.name;
}

// The menu's extent `start`, `size` on one axis against what was expected.
inline void expectSide(const Expected& expected, int start, int size, const char* axis) {
    switch (expected.side) {
    case Side::Start:
        EXPECT_EQ(start, expected.at) << axis << ": the menu's first edge";
        break;
    case Side::Centre:
        EXPECT_EQ(start, expected.at - size / 2) << axis << ": the menu's centre";
        break;
    case Side::End:
        EXPECT_EQ(start + size, expected.at) << axis << ": the menu's far edge";
        break;
    }
}

// On the 240 x 320 screen the anchors are 0 / 120 / 240 and 0 / 160 / 320.
inline const PlacementCase PLACEMENT_CASES[] = {
    {"LeftTop", {10, 15, 0, 0}, {Side::Start, 10}, {Side::Start, 15}},
    {"CentreTop", {-5, 15, 1, 0}, {Side::Centre, 115}, {Side::Start, 15}},
    {"RightTop", {-10, 15, 2, 0}, {Side::End, 230}, {Side::Start, 15}},
    {"LeftMiddle", {10, 7, 0, 1}, {Side::Start, 10}, {Side::Centre, 167}},
    {"CentreMiddle", {0, 0, 1, 1}, {Side::Centre, 120}, {Side::Centre, 160}},
    {"RightMiddle", {-10, 7, 2, 1}, {Side::End, 230}, {Side::Centre, 167}},
    {"LeftBottom", {10, -26, 0, 2}, {Side::Start, 10}, {Side::End, 294}},
    {"CentreBottomAbovePanel", {0, -26, 1, 2}, {Side::Centre, 120}, {Side::End, 294}},
    {"RightBottom", {-10, -26, 2, 2}, {Side::End, 230}, {Side::End, 294}},
    {"OtherCodesCountAsLeftTop", {10, 12, 3, -1}, {Side::Start, 10}, {Side::Start, 12}},
    {"PastRightEdgeMovesLeft", {200, 15, 0, 0}, {Side::End, 240}, {Side::Start, 15}},
    {"PastLeftEdgeMovesRight", {-300, 15, 2, 0}, {Side::Start, 0}, {Side::Start, 15}},
    {"LeftOfScreenMovesRight", {-50, 15, 0, 0}, {Side::Start, 0}, {Side::Start, 15}},
    {"CentredPastRightEdge", {110, 15, 1, 0}, {Side::End, 240}, {Side::Start, 15}},
    {"BelowBottomMovesUp", {10, 300, 0, 0}, {Side::Start, 10}, {Side::End, 320}},
    {"AboveTopMovesDown", {10, -400, 0, 2}, {Side::Start, 10}, {Side::Start, 0}},
    {"OffBothEdges", {500, 500, 2, 2}, {Side::End, 240}, {Side::End, 320}},
};

} // namespace velmora::test
