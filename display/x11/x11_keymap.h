// The keysym of a key event, from the keyboard as the core protocol's
// GetKeyboardMapping and GetModifierMapping replies describe it, chosen as
// Xlib's XLookupString chooses it on a display without XKB; where libX11
// departs from a plain rule of the protocol, by the protocol. For a client
// that talks to the server through XCB, which has no such lookup. Pure: no
// X library, no connection.
#pragma once

#include <cstdint>
#include <vector>

namespace velmora::x11 {

constexpr uint32_t NO_SYMBOL = 0;

// The two replies, as they came.
struct CoreKeymap {
    uint8_t minKeycode = 8; // the first keycode asked for (the setup's min-keycode)
    uint8_t keysymsPerKeycode = 0;
    std::vector<uint32_t> keysyms; // keysymsPerKeycode for each keycode from minKeycode on
    uint8_t keycodesPerModifier = 0;
    // Shift, Lock, Control, Mod1 ... Mod5, keycodesPerModifier keycodes each; 0 is no key.
    std::vector<uint8_t> modifierKeycodes;
};

// The keysym that a press of `keycode` with `state` (a key event's state:
// the eight modifier bits, and XKB's group in bits 13-14 when the client
// uses XKB) stands for; NO_SYMBOL when it stands for none. Any answer is
// taken: keycodes outside the table and rows cut short have no keysyms.
uint32_t coreKeysym(const CoreKeymap& keymap, uint8_t keycode, uint16_t state);

struct KeysymCase {
    uint32_t lower;
    uint32_t upper;
};

// The lowercase and uppercase forms of a keysym, as Xlib's XConvertCase
// gives them, for these keysyms only: Latin-1 (0x20-0xff), Latin-2, -3
// and -4 (0x1a1-0x3fe), Cyrillic (0x6a1-0x6ff), Greek (0x7a1-0x7f9) and the
// Unicode keysyms (0x01000000 + code point) of U+0000-U+017F, U+0370-U+04FF
// and U+1E9E. Any other keysym is its own lowercase and uppercase.
KeysymCase keysymCase(uint32_t keysym);

} // namespace velmora::x11
