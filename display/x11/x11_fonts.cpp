#include "display/x11/x11_fonts.h"

#include <algorithm>
#include <limits>

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_LEAK_CHECKED 1
#endif
#endif

#ifdef VELMORA_LEAK_CHECKED
// fontconfig keeps its configuration for the life of the process: FcFini is
// never called (it is not safe while other libraries may still use fonts), so
// what fontconfig holds at exit is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
// The launcher prints nothing of its own; neither does the report of the above.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
#endif

namespace velmora::x11 {

FontSet::FontSet(Display* display, int screen, double pixelSize)
    : display_(display), screen_(screen), pixelSize_(pixelSize) {
    if (XftFont* primary = open(nullptr))
        fonts_.emplace_back(primary, XftFontTraits{display_});
}

XftFont* FontSet::open(const FcChar32* character) const {
    FcPatternHandle pattern(FcPatternCreate());
    if (pattern.get() == nullptr)
        return nullptr;
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
    FcPatternAddDouble(pattern.get(), FC_PIXEL_SIZE, pixelSize_);
    if (character != nullptr) {
        // The charset ranks above the family in fontconfig's matching, so the
        // best face for this pattern is one that holds the character.
        FcCharSetHandle charset(FcCharSetCreate());
        if (charset.get() == nullptr || !FcCharSetAddChar(charset.get(), *character) ||
            !FcPatternAddCharSet(pattern.get(), FC_CHARSET, charset.get()))
            return nullptr;
    }
    FcResult result = FcResultNoMatch;
    FcPatternHandle match(XftFontMatch(display_, screen_, pattern.get(), &result));
    if (match.get() == nullptr)
        return nullptr;
    XftFont* font = XftFontOpenPattern(display_, match.get());
    if (font != nullptr)
        match.release(); // the font owns the pattern now
    return font;
}

void FontSet::cover(std::u32string_view text) {
    if (fonts_.empty())
        return;
    for (const char32_t c : text) {
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || uncovered_.count(c) != 0)
            continue;
        const bool held = std::any_of(fonts_.begin(), fonts_.end(), [&](const XftFontHandle& f) {
            return XftCharExists(display_, f.get(), c) != 0;
        });
        if (held)
            continue;
        const FcChar32 wanted = c;
        XftFontHandle fallback(open(&wanted), XftFontTraits{display_});
        if (fallback.get() != nullptr && XftCharExists(display_, fallback.get(), c) != 0)
            fonts_.push_back(std::move(fallback));
        else
            uncovered_.insert(c);
    }
}

int FontSet::ascent() const {
    int value = 0;
    for (const auto& font : fonts_)
        value = std::max(value, font.get()->ascent);
    return value;
}

int FontSet::descent() const {
    int value = 0;
    for (const auto& font : fonts_)
        value = std::max(value, font.get()->descent);
    return value;
}

XftFont* FontSet::faceFor(char32_t character) const {
    for (const auto& font : fonts_) {
        if (XftCharExists(display_, font.get(), character) != 0)
            return font.get();
    }
    return fonts_.front().get();
}

template <typename Run> void FontSet::forEachRun(std::u32string_view text, Run&& run) const {
    // Xft takes its own character type, and a run's length as an int.
    constexpr std::size_t longest = static_cast<std::size_t>(std::numeric_limits<int>::max());
    std::vector<FcChar32> characters;
    std::size_t start = 0;
    while (start < text.size()) {
        XftFont* face = faceFor(text[start]);
        std::size_t end = start + 1;
        while (end < text.size() && end - start < longest && faceFor(text[end]) == face)
            ++end;
        characters.assign(text.begin() + static_cast<std::ptrdiff_t>(start),
                          text.begin() + static_cast<std::ptrdiff_t>(end));
        run(face, characters.data(), static_cast<int>(characters.size()));
        start = end;
    }
}

int FontSet::width(std::u32string_view text) const {
    if (fonts_.empty())
        return 0;
    long long total = 0;
    forEachRun(text, [&](XftFont* face, const FcChar32* characters, int length) {
        XGlyphInfo extents{};
        XftTextExtents32(display_, face, characters, length, &extents);
        total += extents.xOff;
    });
    return static_cast<int>(std::clamp<long long>(total, 0, std::numeric_limits<int>::max()));
}

void FontSet::draw(XftDraw* draw, const XftColor* color, int x, int baseline,
                   std::u32string_view text) const {
    if (fonts_.empty())
        return;
    forEachRun(text, [&](XftFont* face, const FcChar32* characters, int length) {
        // X coordinates are 16 bits: text that far right is off every screen.
        if (x > std::numeric_limits<short>::max())
            return;
        XGlyphInfo extents{};
        XftTextExtents32(display_, face, characters, length, &extents);
        XftDrawString32(draw, color, face, x, baseline, characters, length);
        x += extents.xOff;
    });
}

} // namespace velmora::x11
