// The menus' key translation, from keysyms as Xlib names them, checked
// against libxkbcommon's own keysym-to-Unicode table. No display is opened.
// (GoogleTest first: the X headers define None as a macro.)
#include <gtest/gtest.h>

#include "menu/menu_keys.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <optional>
#include <string>

using namespace velmora;

namespace {

struct NavigationCase {
    KeySym keysym;
    std::optional<MenuKey> key;
};

class NavigationKeys : public testing::TestWithParam<NavigationCase> {};

TEST_P(NavigationKeys, MoveOrPickOrClose) {
    EXPECT_EQ(menuKeyOf(GetParam().keysym), GetParam().key) << std::hex << GetParam().keysym;
}

INSTANTIATE_TEST_SUITE_P(
    Keysyms, NavigationKeys,
    testing::Values(
        NavigationCase{XK_Up, MenuKey::Up}, NavigationCase{XK_KP_Up, MenuKey::Up},
        NavigationCase{XK_Down, MenuKey::Down}, NavigationCase{XK_KP_Down, MenuKey::Down},
        NavigationCase{XK_Home, MenuKey::Home}, NavigationCase{XK_KP_Home, MenuKey::Home},
        NavigationCase{XK_End, MenuKey::End}, NavigationCase{XK_KP_End, MenuKey::End},
        NavigationCase{XK_Prior, MenuKey::PageUp}, NavigationCase{XK_KP_Prior, MenuKey::PageUp},
        NavigationCase{XK_Next, MenuKey::PageDown}, NavigationCase{XK_KP_Next, MenuKey::PageDown},
        NavigationCase{XK_Return, MenuKey::Enter}, NavigationCase{XK_KP_Enter, MenuKey::Enter},
        NavigationCase{XK_Escape, MenuKey::Cancel}, NavigationCase{XK_Left, std::nullopt},
        NavigationCase{XK_Tab, std::nullopt}, NavigationCase{XK_BackSpace, std::nullopt},
        NavigationCase{XK_F1, std::nullopt}, NavigationCase{XK_a, std::nullopt},
        NavigationCase{NoSymbol, std::nullopt}));

struct CharacterCase {
    const char* name; // as XStringToKeysym reads it
    std::string typed;
    char32_t character;
};

class KeyCharacters : public testing::TestWithParam<CharacterCase> {};

TEST_P(KeyCharacters, AreWhatTheKeyTypes) {
    const KeySym keysym = XStringToKeysym(GetParam().name);
    ASSERT_NE(keysym, static_cast<KeySym>(NoSymbol)) << GetParam().name;
    EXPECT_EQ(keyCharacter(keysym, GetParam().typed), GetParam().character) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Keysyms, KeyCharacters,
    testing::Values(CharacterCase{"a", "a", U'a'}, CharacterCase{"A", "A", U'A'},
                    CharacterCase{"space", " ", U' '}, CharacterCase{"eacute", "", U'é'},
                    CharacterCase{"ssharp", "", U'ß'}, CharacterCase{"Cyrillic_ya", "", U'я'},
                    CharacterCase{"Cyrillic_YA", "", U'Я'}, CharacterCase{"Cyrillic_yu", "", U'ю'},
                    CharacterCase{"Cyrillic_HARDSIGN", "", U'Ъ'},
                    CharacterCase{"Cyrillic_io", "", U'ё'}, CharacterCase{"Cyrillic_IO", "", U'Ё'},
                    CharacterCase{"Greek_alpha", "", U'α'}, CharacterCase{"Greek_OMEGA", "", U'Ω'},
                    CharacterCase{"Greek_SIGMA", "", U'Σ'}, CharacterCase{"Greek_sigma", "", U'σ'},
                    CharacterCase{"Greek_finalsmallsigma", "", U'ς'},
                    CharacterCase{"U65E5", "", U'日'}, CharacterCase{"U1F600", "", U'\U0001F600'},
                    // keypad digits type through what XLookupString made of them
                    CharacterCase{"KP_1", "1", U'1'}, CharacterCase{"KP_1", "", 0},
                    CharacterCase{"KP_Multiply", "*", U'*'},
                    // keys that type controls or nothing
                    CharacterCase{"Return", "\r", 0}, CharacterCase{"Tab", "\t", 0},
                    CharacterCase{"BackSpace", "\b", 0}, CharacterCase{"Delete", "\x7f", 0},
                    CharacterCase{"Left", "", 0}, CharacterCase{"F1", "", 0},
                    // more than one byte typed is not a mnemonic
                    CharacterCase{"Multi_key", "ab", 0}));

TEST(KeyCharacters, MalformedUnicodeKeysymsTypeNothing) {
    EXPECT_EQ(keyCharacter(0x0110FFFF, ""), U'\U0010FFFF');
    EXPECT_EQ(keyCharacter(0x01110000, ""), 0u);
    EXPECT_EQ(keyCharacter(0x01FFFFFF, ""), 0u);
    EXPECT_EQ(keyCharacter(0x0100D800, ""), 0u);
    EXPECT_EQ(keyCharacter(0x0100DFFF, ""), 0u);
    EXPECT_EQ(keyCharacter(0x02000041, ""), 0u);
}

// Every keysym of the Latin-1, Cyrillic and Greek blocks, and Unicode
// keysyms across the code space: a character the menu reads from a keysym
// is the one libxkbcommon gives it; and the letter blocks are read whole.
TEST(KeyCharacters, AgreeWithXkbcommon) {
    const auto readWhole = [](KeySym k) {
        return (k >= 0x20 && k <= 0x7E) || (k >= 0xA0 && k <= 0xFF) || (k >= 0x6C0 && k <= 0x6FF) ||
               k == 0x6A3 || k == 0x6B3 || (k >= 0x7C1 && k <= 0x7D9 && k != 0x7D3) ||
               (k >= 0x7E1 && k <= 0x7F9);
    };
    std::size_t read = 0;
    const auto check = [&](KeySym keysym) {
        const char32_t ours = keyCharacter(keysym, "");
        const std::uint32_t theirs = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(keysym));
        if (ours != 0) {
            ++read;
            EXPECT_EQ(static_cast<std::uint32_t>(ours), theirs) << std::hex << keysym;
        }
        if (readWhole(keysym)) {
            EXPECT_NE(ours, 0u) << std::hex << keysym;
        }
    };
    for (KeySym keysym = 0x20; keysym <= 0x7FF; ++keysym)
        check(keysym);
    for (KeySym c = 0x100; c <= 0x10FFFF; c += 0x101)
        check(0x01000000 | c);
    EXPECT_GT(read, 400u);
}

} // namespace
