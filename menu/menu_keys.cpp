#include "menu/menu_keys.h"

namespace velmora {

namespace {

// The letter of a Cyrillic or Greek keysym (the layouts whose letters have
// keysyms of their own rather than Unicode ones), or 0.
char32_t cyrillicOrGreek(Keysym keysym) {
    // Cyrillic keysyms 0x6c0-0x6df follow the KOI8-R order of the small
    // letters; 0x6e0-0x6ff are their capitals.
    static constexpr char16_t koi8Order[] = u"юабцдефгхийклмнопярстужвьызшэщчъ";
    if (keysym >= 0x6C0 && keysym <= 0x6DF)
        return koi8Order[keysym - 0x6C0];
    if (keysym >= 0x6E0 && keysym <= 0x6FF)
        return static_cast<char32_t>(koi8Order[keysym - 0x6E0] - 0x20);
    if (keysym == 0x6A3)
        return U'ё';
    if (keysym == 0x6B3)
        return U'Ё';
    // Greek capitals 0x7c1-0x7d9 and small letters 0x7e1-0x7f9 run parallel
    // to Unicode, but for the two sigmas.
    if (keysym == 0x7D2)
        return U'Σ';
    if (keysym == 0x7F2)
        return U'σ';
    if (keysym == 0x7F3)
        return U'ς';
    if ((keysym >= 0x7C1 && keysym <= 0x7D9 && keysym != 0x7D3) ||
        (keysym >= 0x7E1 && keysym <= 0x7F9))
        return static_cast<char32_t>(keysym - 0x430);
    return 0;
}

} // namespace

char32_t keyCharacter(Keysym keysym, std::string_view typed) {
    if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF))
        return static_cast<char32_t>(keysym);
    if ((keysym & 0xFF000000UL) == 0x01000000UL) {
        // A Unicode keysym; one beyond Unicode or naming a surrogate types nothing.
        const auto c = static_cast<char32_t>(keysym & 0x00FFFFFFUL);
        return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF) ? c : 0;
    }
    if (const char32_t letter = cyrillicOrGreek(keysym))
        return letter;
    if (typed.size() == 1 && typed[0] >= 0x20 && typed[0] < 0x7F)
        return static_cast<char32_t>(typed[0]);
    return 0;
}

std::optional<MenuKey> menuKeyOf(Keysym keysym) {
    // The keysyms' numbers, as <X11/keysymdef.h> and xkbcommon give them: the
    // key and its keypad twin.
    struct Binding {
        Keysym key;
        Keysym keypad;
        MenuKey meaning;
    };
    static constexpr Binding BINDINGS[] = {
        {0xFF52, 0xFF97, MenuKey::Up},     {0xFF54, 0xFF99, MenuKey::Down},
        {0xFF50, 0xFF95, MenuKey::Home},   {0xFF57, 0xFF9C, MenuKey::End},
        {0xFF55, 0xFF9A, MenuKey::PageUp}, {0xFF56, 0xFF9B, MenuKey::PageDown},
        {0xFF0D, 0xFF8D, MenuKey::Enter},  {0xFF1B, 0xFF1B, MenuKey::Cancel},
    };
    for (const Binding& binding : BINDINGS) {
        if (keysym == binding.key || keysym == binding.keypad)
            return binding.meaning;
    }
    return std::nullopt;
}

} // namespace velmora
