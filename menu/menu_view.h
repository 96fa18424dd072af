// What every drawn pop-up menu shares, kept apart from the drawing itself:
// where the menu's rectangle lies, how an item's title reads and fills its
// row, how the keys move the highlight, which row a point hits and which
// command a pick returns. The terminal and X11 menus only draw and read
// events; this decides.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// An item's title read by the Windows menu conventions: "&" marks the next
// character as the mnemonic ("&&" is a literal "&"), and the first tab splits
// the text into a left part and a right-aligned part.
struct MenuTitle {
    std::u16string left;
    std::u16string right;
    // Index into `left` of the mnemonic character, or npos when there is none.
    std::size_t mnemonicIndex = std::u16string::npos;
    // The mnemonic, folded to lower case for ASCII; 0 when there is none.
    char32_t mnemonic = 0;
};

MenuTitle parseMenuTitle(std::u16string_view title);

// One item as a drawn menu is given it: the command identifier that tracking
// returns when the item is picked, and its title.
struct MenuItem {
    unsigned int commandId = 0;
    std::u16string text;
};

std::vector<MenuTitle> parseMenuTitles(const std::vector<MenuItem>& items);

// What tracking returns for a pick of item `index`: its command identifier,
// or 0 when there is no such item (Enter on an empty menu).
unsigned int pickedCommand(const std::vector<MenuItem>& items, std::size_t index);

// The characters of an item's row: surrogate pairs joined, an unpaired
// surrogate shown as U+FFFD, the mnemonic as an index into `left` (npos when
// there is none, or when it does not start a character).
struct MenuRowText {
    std::u32string left;
    std::u32string right;
    std::size_t mnemonic = std::u32string::npos;
};

MenuRowText menuRowText(const MenuTitle& title);

// The width of the widest row in the display's units: the left part, then,
// when the right part takes room, `gap` and the right part.
long long widestMenuRow(const std::vector<MenuRowText>& rows, long long gap,
                        const std::function<long long(const std::u32string&)>& measure);

// Lower-case folding for mnemonic matching (ASCII and Latin letters of the
// BMP that have a simple one-to-one lower case; others unchanged).
char32_t foldMnemonic(char32_t c);

enum class MenuKey { Up, Down, Home, End, PageUp, PageDown, Enter, Cancel };

// The keyboard and pointer state of an open menu: the highlighted item and
// the first visible row of a menu that scrolls.
class MenuNavigator {
public:
    enum class Result { None, Picked, Dismissed };

    MenuNavigator(std::vector<MenuTitle> titles, std::size_t visibleRows);

    std::size_t itemCount() const { return titles_.size(); }
    const MenuTitle& title(std::size_t index) const { return titles_[index]; }
    // The highlighted item (0 also when the menu is empty).
    std::size_t highlighted() const { return highlighted_; }
    std::size_t firstVisible() const { return firstVisible_; }
    std::size_t visibleRows() const { return visibleRows_; }
    void setVisibleRows(std::size_t rows);

    // A navigation key. Enter on an item picks it; Cancel dismisses.
    Result press(MenuKey key);
    // A typed character: picks the item whose mnemonic it is, or moves to
    // the next of several items that share it.
    Result type(char32_t character);
    // The pointer is over `index` (hover): highlight it.
    void point(std::size_t index);
    // Scrolls by `rows` (mouse wheel) without moving past either end.
    void scroll(long rows);

private:
    void moveTo(std::size_t index);

    std::vector<MenuTitle> titles_;
    std::size_t visibleRows_;
    std::size_t highlighted_;
    std::size_t firstVisible_ = 0;
};

// Where a drawn menu's item rows lie, in the units and coordinates its
// pointer events come in (pixels, character cells): inside the frame's
// border a margin, then, when the menu scrolls, an arrow above and below the
// rows.
struct MenuGeometry {
    MenuRect frame;      // the whole menu, border included
    int border = 0;      // on every side
    int margin = 0;      // between the top and bottom border and what is inside
    int arrowHeight = 0; // of each scroll arrow; 0 when the menu does not scroll
    int rowHeight = 1;
    std::size_t rows = 0; // item rows shown

    bool scrolls() const { return arrowHeight > 0; }
    // The top of row `row` (0: the first shown), from the frame's top.
    long long rowTop(std::size_t row) const;
    // The top of the lower scroll arrow, from the frame's top.
    long long rowsBottom() const { return rowTop(rows); }
};

// Where a point of a drawn menu lies.
struct MenuHit {
    enum class Kind { Outside, Frame, Item, ScrollUp, ScrollDown } kind = Kind::Outside;
    std::size_t item = 0; // of an Item hit
};

MenuHit hitTestMenu(const MenuGeometry& geometry, const MenuNavigator& navigator, int x, int y);

} // namespace velmora
