// What every drawn pop-up menu shares, kept apart from the drawing itself:
// where the menu's rectangle lies, how an item's title reads, and how the
// keys move the highlight. The terminal and X11 menus draw; this decides.
#pragma once

#include <cstddef>
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

} // namespace velmora
