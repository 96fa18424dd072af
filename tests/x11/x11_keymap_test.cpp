// The keysym of a key event from the core keyboard and modifier maps, for
// small literal maps: the keysyms Xlib's XLookupString chooses, and the case
// forms its XConvertCase gives. No display is opened.
#include "display/x11/x11_keymap.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace velmora::x11;

namespace {

// The event state's bits: Shift, Lock, Control, Mod2 and Mod5 (Num_Lock and
// Mode_switch in the maps below), and XKB's group.
constexpr uint16_t SHIFT = 1u << 0;
constexpr uint16_t LOCK = 1u << 1;
constexpr uint16_t CONTROL = 1u << 2;
constexpr uint16_t NUM = 1u << 4;
constexpr uint16_t MODE = 1u << 7;
constexpr uint16_t GROUP2 = 1u << 13;
constexpr uint16_t GROUP3 = 2u << 13;
constexpr uint16_t GROUP4 = 3u << 13;

// Keycodes of the us+ru map, from 10 on, four keysyms each.
enum : uint8_t {
    KEY_1 = 10,
    KEY_2,
    KEY_A,
    KEY_SEMICOLON, // ru in its third keysym only
    KEY_B,         // ru in its fourth keysym only
    KEY_E,         // one keysym
    KEY_CAPITAL_E, // one keysym, uppercase
    KEY_EACUTE,    // one Unicode keysym
    KEY_ALPHA,     // one Greek keysym
    KEY_SLASH,     // one keysym without case
    KEY_KP_7,
    KEY_KP_PRIVATE,
    KEY_VOID,
    KEY_EMPTY,
    KEY_SHIFT_L,
    KEY_CAPS_LOCK,
    KEY_SHIFT_LOCK,
    KEY_NUM_LOCK,
    KEY_MODE_SWITCH,
    KEY_OTHER,    // a key with no lock keysym
    KEY_EACUTE_I, // e acute in the first group, Cyrillic_I in the second, alone
};

const std::vector<uint32_t> US_RU_KEYSYMS = {
    0x31,      0x21,       0x31,  0x22,  // 1 exclam 1 quotedbl
    0x32,      0x40,       0x32,  0x22,  // 2 at 2 quotedbl
    0x61,      0x41,       0x6c6, 0x6e6, // a A Cyrillic_ef Cyrillic_EF
    0x3b,      0x3a,       0x6d6, 0,     // semicolon colon Cyrillic_zhe
    0x62,      0x42,       0,     0x6e9, // b B NoSymbol Cyrillic_I
    0x65,      0,          0,     0,     // e
    0x45,      0,          0,     0,     // E
    0x10000e9, 0,          0,     0,     // U+00E9
    0x7e1,     0,          0,     0,     // Greek_alpha
    0x2f,      0,          0,     0,     // slash
    0xff95,    0xffb7,     0,     0,     // KP_Home KP_7
    0xff9c,    0x11000001, 0,     0,     // KP_End, a vendor's keypad keysym
    0x61,      0xffffff,   0,     0,     // a VoidSymbol
    0,         0,          0,     0,     //
    0xffe1,    0,          0,     0,     // Shift_L
    0xffe5,    0,          0,     0,     // Caps_Lock
    0xffe6,    0,          0,     0,     // Shift_Lock
    0xff7f,    0,          0,     0,     // Num_Lock
    0xff7e,    0,          0,     0,     // Mode_switch
    0x7a,      0x5a,       0,     0,     // z Z
    0xe9,      0,          0,     0x6e9, // eacute NoSymbol NoSymbol Cyrillic_I
};

// Shift, Lock, Control, Mod1 ... Mod5, two keycodes each.
CoreKeymap usRu(uint8_t lock1, uint8_t lock2 = 0) {
    return {KEY_1,
            4,
            US_RU_KEYSYMS,
            2,
            {KEY_SHIFT_L, 0, lock1, lock2, 0, 0, 0, 0, KEY_NUM_LOCK, 0, 0, 0, 0, 0, KEY_MODE_SWITCH,
             0}};
}

const CoreKeymap CAPS = usRu(KEY_CAPS_LOCK);
const CoreKeymap SHIFT_LOCK = usRu(KEY_SHIFT_LOCK);
const CoreKeymap BOTH_LOCKS = usRu(KEY_SHIFT_LOCK, KEY_CAPS_LOCK);
const CoreKeymap NO_LOCK = usRu(KEY_OTHER);

// Odd answers: one keysym per keycode; a table cut off in its second key;
// none per keycode; a short modifier map, its Lock key beyond the table's
// keycodes; nothing at all; the widest rows.
const CoreKeymap ONE_PER_KEY = {8, 1, {0x61, 0x31, 0xffe5}, 1, {0, 10}};
const CoreKeymap CUT_SHORT = {8, 4, {0x61, 0x41, 0x6c6, 0x6e6, 0x62}, 1, {0, 8, 9, 200}};
const CoreKeymap ZERO_PER_KEY = {8, 0, {0x61, 0x41}, 0, {8}};
const CoreKeymap EMPTY = {0, 0, {}, 0, {}};
const CoreKeymap WIDE = [] {
    CoreKeymap keymap{0, 255, std::vector<uint32_t>(2 * 255), 255, std::vector<uint8_t>(8 * 255)};
    keymap.keysyms[255] = 0x61;
    keymap.modifierKeycodes[255] = 255;
    return keymap;
}();

struct KeyCase {
    const char* name;
    const CoreKeymap* keymap;
    uint8_t keycode;
    uint16_t state;
    uint32_t keysym;
};

class CoreKeysym : public testing::TestWithParam<KeyCase> {};

TEST_P(CoreKeysym, IsTheOneXlibChooses) {
    const KeyCase& c = GetParam();
    EXPECT_EQ(coreKeysym(*c.keymap, c.keycode, c.state), c.keysym) << std::hex << c.keysym;
}

INSTANTIATE_TEST_SUITE_P(
    Maps, CoreKeysym,
    testing::Values(
        // Letters, digits and punctuation, Shift and Caps Lock
        KeyCase{"a", &CAPS, KEY_A, 0, 0x61}, KeyCase{"a_shift", &CAPS, KEY_A, SHIFT, 0x41},
        KeyCase{"a_caps", &CAPS, KEY_A, LOCK, 0x41},
        KeyCase{"a_caps_shift", &CAPS, KEY_A, LOCK | SHIFT, 0x41},
        KeyCase{"digit", &CAPS, KEY_1, 0, 0x31}, KeyCase{"digit_shift", &CAPS, KEY_1, SHIFT, 0x21},
        KeyCase{"digit_caps", &CAPS, KEY_1, LOCK, 0x31},
        KeyCase{"digit_caps_shift", &CAPS, KEY_1, LOCK | SHIFT, 0x21},
        KeyCase{"control", &CAPS, KEY_A, CONTROL, 0x61},
        // Shift Lock; both locks (the protocol: Caps Lock wins); a Lock with
        // neither (as in Xlib: Caps Lock)
        KeyCase{"a_shift_lock", &SHIFT_LOCK, KEY_A, LOCK, 0x41},
        KeyCase{"digit_shift_lock", &SHIFT_LOCK, KEY_1, LOCK, 0x21},
        KeyCase{"digit_shift_lock_shift", &SHIFT_LOCK, KEY_1, LOCK | SHIFT, 0x21},
        KeyCase{"e_shift_lock", &SHIFT_LOCK, KEY_E, LOCK, 0x45},
        KeyCase{"digit_both_locks", &BOTH_LOCKS, KEY_1, LOCK, 0x31},
        KeyCase{"a_lock_unbound", &NO_LOCK, KEY_A, LOCK, 0x41},
        KeyCase{"digit_lock_unbound", &NO_LOCK, KEY_1, LOCK, 0x31},
        // The second group, by Mode_switch and by XKB's group (3 and 4 too: a
        // client without XKB is handed every group but the first as Mode_switch)
        KeyCase{"ru", &CAPS, KEY_A, MODE, 0x6c6},
        KeyCase{"ru_shift", &CAPS, KEY_A, MODE | SHIFT, 0x6e6},
        KeyCase{"ru_caps", &CAPS, KEY_A, MODE | LOCK, 0x6e6},
        KeyCase{"ru_digit_shift", &CAPS, KEY_2, MODE | SHIFT, 0x22},
        KeyCase{"ru_one_keysym", &CAPS, KEY_SEMICOLON, MODE, 0x6d6},
        KeyCase{"ru_one_keysym_shift", &CAPS, KEY_SEMICOLON, MODE | SHIFT, 0x6f6},
        KeyCase{"ru_one_keysym_caps", &CAPS, KEY_SEMICOLON, MODE | LOCK, 0x6f6},
        KeyCase{"ru_first_missing", &CAPS, KEY_B, MODE, 0},
        KeyCase{"ru_first_missing_shift", &CAPS, KEY_B, MODE | SHIFT, 0x6e9},
        KeyCase{"ru_of_one_keysym_key", &CAPS, KEY_E, MODE | SHIFT, 0x45},
        KeyCase{"group2", &CAPS, KEY_A, GROUP2, 0x6c6},
        KeyCase{"group2_shift", &CAPS, KEY_A, GROUP2 | SHIFT, 0x6e6},
        KeyCase{"group2_caps", &CAPS, KEY_SEMICOLON, GROUP2 | LOCK, 0x6f6},
        KeyCase{"group3", &CAPS, KEY_A, GROUP3, 0x6c6},
        KeyCase{"group4_shift", &CAPS, KEY_A, GROUP4 | SHIFT, 0x6e6},
        // Control: a keysym beyond ASCII gives way to the other group's ASCII one
        KeyCase{"ru_control", &CAPS, KEY_A, MODE | CONTROL, 0x61},
        KeyCase{"ru_control_shift", &CAPS, KEY_B, MODE | CONTROL | SHIFT, 0x42},
        KeyCase{"ru_control_no_symbol", &CAPS, KEY_B, MODE | CONTROL, 0},
        KeyCase{"group2_control", &CAPS, KEY_A, GROUP2 | CONTROL, 0x61},
        KeyCase{"control_latin1", &CAPS, KEY_EACUTE_I, CONTROL, 0xe9},
        KeyCase{"control_keypad", &CAPS, KEY_KP_7, CONTROL, 0xff95},
        // One keysym: its lowercase and uppercase
        KeyCase{"e", &CAPS, KEY_E, 0, 0x65}, KeyCase{"e_shift", &CAPS, KEY_E, SHIFT, 0x45},
        KeyCase{"e_caps", &CAPS, KEY_E, LOCK, 0x45},
        KeyCase{"capital_e", &CAPS, KEY_CAPITAL_E, 0, 0x65},
        KeyCase{"unicode_eacute", &CAPS, KEY_EACUTE, 0, 0x10000e9},
        KeyCase{"unicode_eacute_caps", &CAPS, KEY_EACUTE, LOCK, 0x10000c9},
        KeyCase{"greek_alpha_shift", &CAPS, KEY_ALPHA, SHIFT, 0x7c1},
        KeyCase{"slash_shift", &CAPS, KEY_SLASH, SHIFT, 0x2f},
        KeyCase{"slash_caps", &CAPS, KEY_SLASH, LOCK, 0x2f},
        // The keypad, Num Lock and Shift
        KeyCase{"kp", &CAPS, KEY_KP_7, 0, 0xff95}, KeyCase{"kp_num", &CAPS, KEY_KP_7, NUM, 0xffb7},
        KeyCase{"kp_num_shift", &CAPS, KEY_KP_7, NUM | SHIFT, 0xff95},
        KeyCase{"kp_shift", &CAPS, KEY_KP_7, SHIFT, 0xffb7},
        KeyCase{"kp_num_caps", &CAPS, KEY_KP_7, NUM | LOCK, 0xffb7},
        KeyCase{"kp_num_shift_lock", &SHIFT_LOCK, KEY_KP_7, NUM | LOCK, 0xff95},
        KeyCase{"kp_private_num", &CAPS, KEY_KP_PRIVATE, NUM, 0x11000001},
        KeyCase{"kp_private_num_shift", &CAPS, KEY_KP_PRIVATE, NUM | SHIFT, 0xff9c},
        KeyCase{"kp_mode_switch_num", &CAPS, KEY_KP_7, MODE | NUM, 0xffb7},
        // NoSymbol, VoidSymbol, keycodes outside the map
        KeyCase{"void_shift", &CAPS, KEY_VOID, SHIFT, 0},
        KeyCase{"void_a", &CAPS, KEY_VOID, 0, 0x61},
        KeyCase{"empty_key", &CAPS, KEY_EMPTY, SHIFT, 0},
        KeyCase{"below_map", &CAPS, KEY_1 - 1, 0, 0}, KeyCase{"above_map", &CAPS, 200, 0, 0},
        KeyCase{"last_keycode", &CAPS, 255, 0xffff, 0},
        // Odd answers
        KeyCase{"one_per_key_shift", &ONE_PER_KEY, 8, SHIFT, 0x41},
        KeyCase{"one_per_key_caps", &ONE_PER_KEY, 8, LOCK, 0x41},
        KeyCase{"one_per_key_digit_shift", &ONE_PER_KEY, 9, SHIFT, 0x31},
        KeyCase{"cut_short_first", &CUT_SHORT, 8, GROUP2 | SHIFT, 0x6e6},
        KeyCase{"cut_short_second", &CUT_SHORT, 9, SHIFT, 0x42},
        KeyCase{"cut_short_lock_unbound", &CUT_SHORT, 9, LOCK, 0x42},
        KeyCase{"cut_short_third", &CUT_SHORT, 10, 0, 0},
        KeyCase{"zero_per_key", &ZERO_PER_KEY, 8, 0, 0}, KeyCase{"empty", &EMPTY, 8, 0xffff, 0},
        KeyCase{"empty_keycode_0", &EMPTY, 0, 0, 0}, KeyCase{"wide", &WIDE, 1, SHIFT, 0x41},
        KeyCase{"wide_beyond", &WIDE, 255, 0xffff, 0}),
    velmora::test::CaseName());

struct CaseCase {
    const char* name;
    uint32_t keysym;
    uint32_t lower;
    uint32_t upper;
};

class KeysymCaseForms : public testing::TestWithParam<CaseCase> {};

TEST_P(KeysymCaseForms, AreXConvertCases) {
    const CaseCase& c = GetParam();
    const KeysymCase forms = keysymCase(c.keysym);
    EXPECT_EQ(forms.lower, c.lower);
    EXPECT_EQ(forms.upper, c.upper);
}

INSTANTIATE_TEST_SUITE_P(
    Keysyms, KeysymCaseForms,
    testing::Values(
        CaseCase{"latin1_a", 0x61, 0x61, 0x41}, CaseCase{"latin1_A", 0x41, 0x61, 0x41},
        CaseCase{"latin1_eacute", 0xe9, 0xe9, 0xc9}, CaseCase{"latin1_division", 0xf7, 0xf7, 0xf7},
        // Xlib's quirks: code points without keysyms of their own
        CaseCase{"latin1_mu", 0xb5, 0xb5, 0x39c}, CaseCase{"latin1_ydiaeresis", 0xff, 0xff, 0x178},
        CaseCase{"latin1_ssharp", 0xdf, 0xdf, 0x1e9e},
        CaseCase{"latin2_lstroke", 0x1b3, 0x1b3, 0x1a3},
        CaseCase{"latin2_Zabovedot", 0x1af, 0x1bf, 0x1af},
        CaseCase{"latin3_gbreve", 0x2bb, 0x2bb, 0x2ab},
        CaseCase{"latin3_idotless", 0x2b9, 0x2b9, 0x2b9},
        CaseCase{"latin4_ENG", 0x3bd, 0x3bf, 0x3bd}, CaseCase{"cyrillic_ya", 0x6d1, 0x6d1, 0x6f1},
        CaseCase{"cyrillic_IO", 0x6b3, 0x6a3, 0x6b3},
        CaseCase{"cyrillic_numero", 0x6b0, 0x6b0, 0x6b0},
        CaseCase{"greek_omegaaccent", 0x7bb, 0x7bb, 0x7ab},
        CaseCase{"greek_iotaaccentdieresis", 0x7b6, 0x7b6, 0x7b6},
        CaseCase{"greek_finalsmallsigma", 0x7f3, 0x7f3, 0x7d2},
        CaseCase{"unicode_a", 0x1000061, 0x1000061, 0x1000041},
        CaseCase{"unicode_dotless_i", 0x1000131, 0x1000131, 0x1000049},
        CaseCase{"unicode_Lacute", 0x1000139, 0x100013a, 0x1000139},
        CaseCase{"unicode_final_sigma", 0x10003c2, 0x10003c2, 0x10003a3},
        CaseCase{"unicode_cyrillic_dje", 0x1000452, 0x1000452, 0x1000402},
        CaseCase{"unicode_cyrillic_zhe_breve", 0x10004c2, 0x10004c2, 0x10004c1},
        CaseCase{"unicode_capital_sharp_s", 0x1001e9e, 0x10000df, 0x1001e9e},
        CaseCase{"unicode_cjk", 0x10065e5, 0x10065e5, 0x10065e5},
        CaseCase{"function_key", 0xffbe, 0xffbe, 0xffbe}),
    velmora::test::CaseName());

} // namespace
