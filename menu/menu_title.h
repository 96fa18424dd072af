// An item's title as every drawn menu reads and fits it: the Windows menu
// conventions ("&" mnemonics, a tab before a right-aligned part), the
// characters of its row, and the one rule that cuts a row to a narrowed menu.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// One item as a drawn menu is given it: the command identifier that tracking
// returns when the item is picked, and its title.
struct MenuItem {
    unsigned int commandId = 0;
    std::u16string text;
};

// "&" marks the next character as the mnemonic ("&&" is a literal "&"), and
// the first tab splits the text into a left part and a right-aligned part.
struct MenuTitle {
    std::u16string left;
    std::u16string right;
    // Index into `left` of the mnemonic character, or npos when there is none.
    std::size_t mnemonicIndex = std::u16string::npos;
    // The mnemonic, folded to lower case for ASCII; 0 when there is none.
    char32_t mnemonic = 0;
};

MenuTitle parseMenuTitle(std::u16string_view title);
std::vector<MenuTitle> parseMenuTitles(const std::vector<MenuItem>& items);

// Lower-case folding for mnemonic matching (ASCII and Latin letters of the
// BMP that have a simple one-to-one lower case; others unchanged).
char32_t foldMnemonic(char32_t c);

// The characters of an item's row: surrogate pairs joined, an unpaired
// surrogate shown as U+FFFD, the mnemonic as an index into `left` (npos when
// there is none, or when it does not start a character).
struct MenuRowText {
    std::u32string left;
    std::u32string right;
    std::size_t mnemonic = std::u32string::npos;
};

MenuRowText menuRowText(const MenuTitle& title);

// The width of a text in a display's units (pixels, character cells).
using MeasureText = std::function<long long(std::u32string_view)>;

// The width of the widest row: the left part, then, when the right part
// takes room, `gap` and the right part.
long long widestMenuRow(const std::vector<MenuRowText>& rows, long long gap,
                        const MeasureText& measure);

// What a text cut short ends with: U+2026 HORIZONTAL ELLIPSIS.
constexpr char32_t MENU_ELLIPSIS = 0x2026;

// `text` cut to fit `room`, ending in the ellipsis where it was cut; empty
// when not even the ellipsis fits.
std::u32string elideText(std::u32string_view text, long long room, const MeasureText& measure);

// A row fitted into `room`. When both parts do not fit, the right part keeps
// at most half the row, the left part what is left before it, `gap` apart,
// and each part that was cut ends in the ellipsis, so that they never
// overlap. The mnemonic stays only while its character is shown.
MenuRowText fitMenuRow(const MenuRowText& row, long long room, long long gap,
                       const MeasureText& measure);

} // namespace velmora
