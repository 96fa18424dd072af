// What an X11 key press means to the menu, from its keysym: a key that moves,
// picks or closes, or the character it types (for the mnemonics). Only the
// keysym tables are used; no display is needed.
#pragma once

#include "menu/menu_view.h"

#include <X11/X.h>

#include <optional>
#include <string_view>

namespace velmora::x11 {

// Up, Down, Home, End, Page Up, Page Down (also on the keypad), Return and
// keypad Enter, Escape.
std::optional<MenuKey> navigationKey(KeySym keysym);

// The character a key types: Latin-1, Unicode, Cyrillic and Greek keysyms, or
// else the single ASCII character `typed` holds (what XLookupString made of
// the key: keypad digits); 0 for none.
char32_t keyCharacter(KeySym keysym, std::string_view typed);

} // namespace velmora::x11
