// What a key means to the menu, from its keysym: a key that moves, picks or
// closes, or the character it types (for the mnemonics). X11 and xkbcommon
// (Wayland) number keysyms alike, so one table serves both.
#pragma once

#include "menu/menu_session.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora {

using Keysym = std::uint32_t;

// Up, Down, Home, End, Page Up, Page Down (also on the keypad), Return and
// keypad Enter, Escape.
std::optional<MenuKey> menuKeyOf(Keysym keysym);

// The character a key types: Latin-1, Unicode, Cyrillic and Greek keysyms, or
// else the single ASCII character `typed` holds (what the display's own
// lookup made of the key: keypad digits); 0 for none.
char32_t keyCharacter(Keysym keysym, std::string_view typed);

} // namespace velmora
