// The terminal menu's geometry, kept apart from the terminal itself: how
// many cells a character takes, how large the box is and where it lies, and
// what each item row holds.
//
// The box is one border cell wide on every side; an item row holds a blank,
// the title's left part, at least two blanks and the right part flush right
// when there is one, and a closing blank. A row wider than the screen allows
// is cut in cells by the rule every drawn menu shares (fitMenuRow).
#pragma once

#include "menu/menu_session.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Cells a character takes on a terminal: 2 for East Asian wide and full-width
// characters, 0 for combining marks and other zero-width characters, else 1.
int cellWidth(char32_t c);

// Cells of a text.
int textCells(std::u32string_view text);

// An item's row text (see menuRowText) with the controls, which could steer
// the terminal, shown as "?".
MenuRowText terminalRowText(const MenuTitle& title);

struct TerminalMenuLayout {
    MenuRect box;            // in cells, borders included
    int innerWidth = 0;      // cells between the left and right border
    std::size_t visibleRows; // item rows inside the box
};

// Places the box of `titles` anchored at (x, y) by the tracking flags on a
// terminal of `columns` x `rows` cells (through placeMenuRect), as large as
// the titles need and no larger than the terminal.
TerminalMenuLayout layoutTerminalMenu(const std::vector<MenuTitle>& titles, unsigned int flags,
                                      int x, int y, int columns, int rows);

struct ItemRow {
    std::u32string text;                           // fills exactly innerWidth cells
    std::size_t mnemonicAt = std::u32string::npos; // index into text of the underlined character
};

// The characters of one item row of `innerWidth` cells.
ItemRow layoutItemRow(const MenuTitle& title, int innerWidth);

} // namespace velmora
