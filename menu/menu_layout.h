// Where a drawn menu lies and what lies where inside it: the rectangle kept
// on the screen, the frame, rows and scroll arrows, and which of them a point
// hits. In the display's own units: pixels, or character cells.
#pragma once

#include "menu/menu_style.h"

#include <cstddef>

namespace velmora {

struct MenuRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The rectangle of a menu of `width` x `height` anchored at (x, y) by the
// TrackPopupMenuEx alignment flags (the left edge, centre or right edge at x;
// the top edge, centre or bottom edge at y), then moved just enough to lie
// wholly on a screen of `screenWidth` x `screenHeight` with its origin at the
// top left. A menu larger than the screen is put at the screen's edge.
MenuRect placeMenuRect(unsigned int flags, int x, int y, int width, int height, int screenWidth,
                       int screenHeight);

// Inside the frame's border a margin, then, when the menu scrolls, an arrow
// above and below the item rows.
struct MenuGeometry {
    MenuRect frame;      // the whole menu, border included
    int border = 0;      // on every side
    int margin = 0;      // between the top and bottom border and what is inside
    int arrowHeight = 0; // of each scroll arrow; 0 when the menu does not scroll
    int rowHeight = 1;
    std::size_t rows = 1; // item rows shown

    bool scrolls() const { return arrowHeight > 0; }
    // The top of row `row` (0: the first shown), from the frame's top.
    long long rowTop(std::size_t row) const;
    // The top of the lower scroll arrow, from the frame's top.
    long long rowsBottom() const { return rowTop(rows); }
};

// The size of a pixel menu of `items` rows whose widest row is `textWidth`
// and whose font is `fontHeight` high (ascent and descent): as wide as its
// text needs, at least `minWidth`, at most the screen; taller than the
// screen, it shows what fits between two scroll arrows. The frame lies at
// the origin; its sides stay within what a window may have.
MenuGeometry layoutPixelMenu(const MenuMetrics& metrics, long long textWidth, int fontHeight,
                             std::size_t items, long long screenWidth, long long screenHeight);

// Where a point of a drawn menu lies.
struct MenuHit {
    enum class Kind { Outside, Frame, Item, ScrollUp, ScrollDown } kind = Kind::Outside;
    std::size_t item = 0; // of an Item hit
};

// What (x, y) hits in a menu of `itemCount` items showing the rows from
// `firstVisible` on.
MenuHit hitTestMenu(const MenuGeometry& geometry, std::size_t firstVisible, std::size_t itemCount,
                    int x, int y);

} // namespace velmora
