#include "display/x11/x11_keymap.h"

#include <algorithm>
#include <cstddef>

namespace velmora::x11 {

namespace {

// The protocol's values, so that no X header is needed.
constexpr uint16_t SHIFT_MASK = 1u << 0;
constexpr uint16_t LOCK_MASK = 1u << 1;
constexpr uint16_t CONTROL_MASK = 1u << 2;
constexpr std::size_t LOCK_MODIFIER = 1;
constexpr std::size_t MOD1_MODIFIER = 3;
constexpr unsigned XKB_GROUP_SHIFT = 13;
constexpr uint32_t XK_VOID_SYMBOL = 0xffffff;
constexpr uint32_t XK_MODE_SWITCH = 0xff7e;
constexpr uint32_t XK_NUM_LOCK = 0xff7f;
constexpr uint32_t XK_CAPS_LOCK = 0xffe5;
constexpr uint32_t XK_SHIFT_LOCK = 0xffe6;
constexpr uint32_t XK_ISO_LOCK = 0xfe01;
constexpr uint32_t UNICODE_KEYSYM = 0x01000000;

// Uppercase first..last and lowercase other.. map to each other (SPAN);
// upper and lower alternate from first on (PAIRS); other.. are the uppercase
// (UPPER) or lowercase (LOWER) of first..last, but do not map back.
enum CaseKind : uint8_t { SPAN, PAIRS, UPPER, LOWER };

struct CaseRule {
    uint32_t first;
    uint32_t last;
    uint32_t other; // the other form of `first`
    CaseKind kind;
};

// Code points, Unicode's simple mappings as libX11 1.8 has them. Latin-1
// keysyms go through these too, so that, as in Xlib, micro, y diaeresis and
// sharp s turn into bare code points that are no keysyms of their own.
constexpr CaseRule UNICODE_RULES[] = {
    {0x41, 0x5a, 0x61, SPAN},     {0xc0, 0xd6, 0xe0, SPAN},     {0xd8, 0xde, 0xf8, SPAN},
    {0xb5, 0xb5, 0x39c, UPPER},   {0x178, 0x178, 0xff, SPAN},   {0x1e9e, 0x1e9e, 0xdf, SPAN},
    {0x100, 0x12f, 0x101, PAIRS}, {0x130, 0x130, 0x69, LOWER},  {0x131, 0x131, 0x49, UPPER},
    {0x132, 0x137, 0x133, PAIRS}, {0x139, 0x148, 0x13a, PAIRS}, {0x14a, 0x177, 0x14b, PAIRS},
    {0x179, 0x17e, 0x17a, PAIRS}, {0x17f, 0x17f, 0x53, UPPER},  {0x370, 0x373, 0x371, PAIRS},
    {0x376, 0x377, 0x377, PAIRS}, {0x3fd, 0x3ff, 0x37b, SPAN},  {0x37f, 0x37f, 0x3f3, SPAN},
    {0x3cf, 0x3cf, 0x3d7, SPAN},  {0x386, 0x386, 0x3ac, SPAN},  {0x388, 0x38a, 0x3ad, SPAN},
    {0x38c, 0x38c, 0x3cc, SPAN},  {0x38e, 0x38f, 0x3cd, SPAN},  {0x391, 0x3a1, 0x3b1, SPAN},
    {0x3a3, 0x3ab, 0x3c3, SPAN},  {0x3c2, 0x3c2, 0x3a3, UPPER}, {0x3d0, 0x3d0, 0x392, UPPER},
    {0x3d1, 0x3d1, 0x398, UPPER}, {0x3d5, 0x3d5, 0x3a6, UPPER}, {0x3d6, 0x3d6, 0x3a0, UPPER},
    {0x3d8, 0x3ef, 0x3d9, PAIRS}, {0x3f0, 0x3f0, 0x39a, UPPER}, {0x3f1, 0x3f1, 0x3a1, UPPER},
    {0x3f9, 0x3f9, 0x3f2, SPAN},  {0x3f4, 0x3f4, 0x3b8, LOWER}, {0x3f5, 0x3f5, 0x395, UPPER},
    {0x3f7, 0x3f8, 0x3f8, PAIRS}, {0x3fa, 0x3fb, 0x3fb, PAIRS}, {0x400, 0x40f, 0x450, SPAN},
    {0x410, 0x42f, 0x430, SPAN},  {0x460, 0x481, 0x461, PAIRS}, {0x48a, 0x4bf, 0x48b, PAIRS},
    {0x4c1, 0x4ce, 0x4c2, PAIRS}, {0x4d0, 0x4f5, 0x4d1, PAIRS}, {0x4f8, 0x4f9, 0x4f9, PAIRS}};

// Legacy keysyms of Latin-2, -3, -4, Cyrillic and Greek. As in Xlib, the
// ranges run over the gaps between the letters.
constexpr CaseRule LEGACY_RULES[] = {
    {0x1a1, 0x1a1, 0x1b1, SPAN},  {0x1a3, 0x1a6, 0x1b3, SPAN},  {0x1a9, 0x1ac, 0x1b9, SPAN},
    {0x1ae, 0x1af, 0x1be, SPAN},  {0x1c0, 0x1de, 0x1e0, SPAN},  {0x2a1, 0x2a6, 0x2b1, SPAN},
    {0x2ab, 0x2ac, 0x2bb, SPAN},  {0x2c5, 0x2de, 0x2e5, SPAN},  {0x3a3, 0x3ac, 0x3b3, SPAN},
    {0x3bd, 0x3bd, 0x3bf, SPAN},  {0x3c0, 0x3de, 0x3e0, SPAN},  {0x6b1, 0x6bf, 0x6a1, SPAN},
    {0x6e0, 0x6ff, 0x6c0, SPAN},  {0x7b6, 0x7b6, 0x7b6, UPPER}, {0x7ba, 0x7ba, 0x7ba, UPPER},
    {0x7f3, 0x7f3, 0x7d2, UPPER}, {0x7a1, 0x7ab, 0x7b1, SPAN},  {0x7c1, 0x7d9, 0x7e1, SPAN}};

// The first rule that speaks of `code` decides. Offsets are unsigned and
// wrap, so that one going down lands where it should.
template <std::size_t N> KeysymCase convertCase(const CaseRule (&rules)[N], uint32_t code) {
    for (const CaseRule& rule : rules) {
        const uint32_t offset = code - rule.first;
        const uint32_t length = rule.last - rule.first;
        const uint32_t mirrored = code - rule.other;
        if (rule.kind == SPAN && mirrored <= length)
            return {code, rule.first + mirrored};
        if (offset > length)
            continue;
        if (rule.kind == PAIRS)
            return offset % 2 == 0 ? KeysymCase{code + 1, code} : KeysymCase{code, code - 1};
        if (rule.kind == UPPER)
            return {code, rule.other + offset};
        return {rule.other + offset, code};
    }
    return {code, code};
}

// The keysyms of one keycode: none outside the table, fewer where it ends early.
struct KeyRow {
    const uint32_t* syms = nullptr;
    std::size_t count = 0;
};

KeyRow keyRow(const CoreKeymap& keymap, uint8_t keycode) {
    if (keycode < keymap.minKeycode)
        return {};
    const std::size_t per = keymap.keysymsPerKeycode;
    const std::size_t start = static_cast<std::size_t>(keycode - keymap.minKeycode) * per;
    if (start >= keymap.keysyms.size())
        return {};
    return {keymap.keysyms.data() + start, std::min(per, keymap.keysyms.size() - start)};
}

// The modifiers that the keys of Mode_switch and Num_Lock are on, and what
// Lock means.
struct ModifierRoles {
    uint16_t modeSwitch = 0;
    uint16_t numLock = 0;
    bool shiftLock = false;
};

ModifierRoles modifierRoles(const CoreKeymap& keymap) {
    ModifierRoles roles;
    bool capsLock = false;
    const std::size_t per = keymap.keycodesPerModifier;
    const std::size_t count = std::min(keymap.modifierKeycodes.size(), 8 * per);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t modifier = i / per;
        const auto bit = static_cast<uint16_t>(1u << modifier);
        const uint8_t keycode = keymap.modifierKeycodes[i];
        const KeyRow row = keycode == 0 ? KeyRow{} : keyRow(keymap, keycode);
        for (const uint32_t* sym = row.syms; sym != row.syms + row.count; ++sym) {
            if (modifier == LOCK_MODIFIER) {
                capsLock = capsLock || *sym == XK_CAPS_LOCK || *sym == XK_ISO_LOCK;
                roles.shiftLock = roles.shiftLock || *sym == XK_SHIFT_LOCK;
            }
            if (modifier >= MOD1_MODIFIER && *sym == XK_MODE_SWITCH)
                roles.modeSwitch |= bit;
            if (modifier >= MOD1_MODIFIER && *sym == XK_NUM_LOCK)
                roles.numLock |= bit;
        }
    }
    // Caps Lock wins over Shift Lock, as the protocol has it (libX11 lets the
    // last of the keys on Lock decide). A Lock with neither is Caps Lock, as
    // in Xlib: the protocol leaves it open.
    roles.shiftLock = roles.shiftLock && !capsLock;
    return roles;
}

// The two keysyms of the group in use; NO_SYMBOL for those the key lacks.
struct KeyGroup {
    uint32_t first = NO_SYMBOL;
    uint32_t second = NO_SYMBOL;
};

KeyGroup keyGroup(const KeyRow& row, bool secondGroup) {
    std::size_t count = row.count;
    while (count > 2 && row.syms[count - 1] == NO_SYMBOL)
        --count;
    // A list of one or two keysyms serves both groups.
    const std::size_t base = secondGroup && count > 2 ? 2 : 0;
    KeyGroup group;
    if (count > base)
        group.first = row.syms[base];
    if (count > base + 1)
        group.second = row.syms[base + 1];
    return group;
}

bool isKeypad(uint32_t keysym) {
    return (keysym >= 0xff80 && keysym <= 0xffbd) || (keysym >= 0x11000000 && keysym <= 0x1100ffff);
}

uint32_t chooseKeysym(const KeyGroup& group, uint16_t state, const ModifierRoles& roles) {
    const bool shift = (state & SHIFT_MASK) != 0;
    const bool lock = (state & LOCK_MASK) != 0;
    const bool shiftLock = lock && roles.shiftLock;
    if ((state & roles.numLock) != 0 && isKeypad(group.second))
        return shift || shiftLock ? group.first : group.second;
    if (!shift && !lock)
        return group.second == NO_SYMBOL ? keysymCase(group.first).lower : group.first;
    if (!lock || shiftLock)
        return group.second == NO_SYMBOL ? keysymCase(group.first).upper : group.second;
    // Caps Lock: the uppercase of the second keysym with Shift; without, of
    // the first, unless the second is an uppercase letter itself.
    const uint32_t sym = group.second == NO_SYMBOL ? group.first : group.second;
    const KeysymCase forms = keysymCase(sym);
    if (!shift && sym != group.first && (sym != forms.upper || forms.lower == forms.upper))
        return keysymCase(group.first).upper;
    return forms.upper;
}

} // namespace

KeysymCase keysymCase(uint32_t keysym) {
    if (keysym < 0x100)
        return convertCase(UNICODE_RULES, keysym);
    if ((keysym & 0xff000000) == UNICODE_KEYSYM) {
        const KeysymCase forms = convertCase(UNICODE_RULES, keysym & 0x00ffffff);
        return {forms.lower | UNICODE_KEYSYM, forms.upper | UNICODE_KEYSYM};
    }
    if (keysym < 0x800)
        return convertCase(LEGACY_RULES, keysym);
    return {keysym, keysym};
}

uint32_t coreKeysym(const CoreKeymap& keymap, uint8_t keycode, uint16_t state) {
    const ModifierRoles roles = modifierRoles(keymap);
    const KeyRow row = keyRow(keymap, keycode);
    // The core map holds two groups. Xlib without XKB knows only whether the
    // group is switched, and the server shows such a client groups 2, 3 and
    // 4 alike, as the Mode_switch modifier: so any XKB group but the first
    // picks Group 2.
    const bool secondGroup =
        (state & roles.modeSwitch) != 0 || ((state >> XKB_GROUP_SHIFT) & 3) != 0;
    const auto choose = [&](bool second) {
        const uint32_t keysym = chooseKeysym(keyGroup(row, second), state, roles);
        return keysym == XK_VOID_SYMBOL ? NO_SYMBOL : keysym;
    };
    const uint32_t keysym = choose(secondGroup);
    // As XLookupString: with Control, a keysym beyond ASCII gives way to the
    // other group's if that is one, so that Control and a Cyrillic letter
    // still make a control character.
    if ((state & CONTROL_MASK) != 0 && keysym > 0x7f) {
        const uint32_t other = choose(!secondGroup);
        return other != NO_SYMBOL && other <= 0x7f ? other : keysym;
    }
    return keysym;
}

} // namespace velmora::x11
