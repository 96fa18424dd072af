#include "display/wayland/wayland_menu_font.h"

#include "display/fontcache/font_cache_file.h"
#include "display/fontcache/fontconfig_answer.h"
#include "menu/menu_title.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>
#include <utility>

namespace velmora::wayland {

namespace {

constexpr const char* CACHE_NAME = "wayland-fonts";

using Settings = std::vector<std::pair<std::string, std::string>>;

const fontcache::FontconfigCalls& fontconfigCalls() {
    static const fontcache::FontconfigCalls calls{
        FcConfigGetConfigFiles, FcConfigGetConfigDirs,   FcConfigGetFontDirs,
        FcConfigGetCacheDirs,   FcStrListNext,           FcStrListDone,
        FcPatternIterStart,     FcPatternIterIsValid,    FcPatternIterNext,
        FcPatternIterGetObject, FcPatternIterValueCount, FcPatternIterGetValue};
    return calls;
}

std::string fcftName(double pixelSize) {
    char attributes[VELMORA_FONT_ATTRIBUTES];
    velmora_font_attributes(pixelSize, attributes);
    return std::string(VELMORA_FONT_FAMILY) + ':' + attributes;
}

// What besides files decides the faces and their drawing: the name fcft
// asks fontconfig for, the library versions, and the environment fontconfig
// and FreeType read.
Settings cacheSettings(double pixelSize) {
    FT_Library library = nullptr;
    FT_Int major = 0, minor = 0, patch = 0;
    if (FT_Init_FreeType(&library) == 0) {
        FT_Library_Version(library, &major, &minor, &patch);
        FT_Done_FreeType(library);
    }
    Settings settings{{"name", fcftName(pixelSize)},
                      {"fontconfig", std::to_string(FcGetVersion())},
                      {"freetype", std::to_string(major) + '.' + std::to_string(minor) + '.' +
                                       std::to_string(patch)}};
    const char* properties = std::getenv("FREETYPE_PROPERTIES");
    settings.emplace_back("FREETYPE_PROPERTIES", properties ? std::string("=") + properties : "");
    fontcache::appendFontconfigEnvironment(settings);
    return settings;
}

struct PatternTraits {
    using Handle = FcPattern*;
    static Handle empty() { return nullptr; }
    bool free(FcPattern* pattern) const {
        FcPatternDestroy(pattern);
        return true;
    }
};
struct FontSetTraits {
    using Handle = FcFontSet*;
    static Handle empty() { return nullptr; }
    bool free(FcFontSet* set) const {
        FcFontSetDestroy(set);
        return true;
    }
};
using PatternPtr = UniqueHandle<PatternTraits>;
using FontSetPtr = UniqueHandle<FontSetTraits>;

// fontconfig's answer as fcft had it for `name`: the sorted faces, each
// prepared for the pattern asked; then, for each character, the first face
// whose character set holds it, as fcft takes it.
std::optional<fontcache::FontCache> resolve(const std::string& name, std::u32string_view needed) {
    PatternPtr asked(FcNameParse(reinterpret_cast<const FcChar8*>(name.c_str())));
    if (!asked || !FcConfigSubstitute(nullptr, asked.get(), FcMatchPattern))
        return std::nullopt;
    FcDefaultSubstitute(asked.get());
    FcResult result = FcResultNoMatch;
    FontSetPtr set(FcFontSort(nullptr, asked.get(), FcTrue, nullptr, &result));
    if (!set || result != FcResultMatch || set.get()->nfont <= 0)
        return std::nullopt;
    std::vector<PatternPtr> prepared;
    for (int i = 0; i < set.get()->nfont; ++i)
        prepared.emplace_back(FcFontRenderPrepare(nullptr, asked.get(), set.get()->fonts[i]));
    std::vector<std::u32string> covers(prepared.size());
    fontcache::FontCache cache;
    for (const char32_t c : needed) {
        std::size_t i = 0;
        FcCharSet* charset = nullptr;
        while (i < prepared.size() &&
               !(prepared[i] &&
                 FcPatternGetCharSet(prepared[i].get(), FC_CHARSET, 0, &charset) == FcResultMatch &&
                 FcCharSetHasChar(charset, c)))
            ++i;
        (i < prepared.size() ? covers[i] : cache.uncovered) += c;
    }
    // The first face stays first even when it draws nothing: it is fcft's
    // primary face, which gives the ascent and descent.
    for (std::size_t i = 0; i < prepared.size(); ++i) {
        if (i > 0 && covers[i].empty())
            continue;
        if (!prepared[i])
            return std::nullopt;
        cache.faces.push_back(fontcache::cachedFace(fontconfigCalls(), prepared[i].get()));
        cache.faces.back().covers = covers[i];
    }
    return cache;
}

bool sameImage(const velmora_glyph& a, const velmora_glyph& b) {
    if (pixman_image_get_format(a.image) != PIXMAN_a8 ||
        pixman_image_get_format(b.image) != PIXMAN_a8)
        return false;
    const auto* pa = reinterpret_cast<const unsigned char*>(pixman_image_get_data(a.image));
    const auto* pb = reinterpret_cast<const unsigned char*>(pixman_image_get_data(b.image));
    const auto sa = static_cast<std::size_t>(pixman_image_get_stride(a.image));
    const auto sb = static_cast<std::size_t>(pixman_image_get_stride(b.image));
    for (std::size_t row = 0; row < static_cast<std::size_t>(a.height); ++row) {
        if (!std::equal(pa + row * sa, pa + row * sa + a.width, pb + row * sb))
            return false;
    }
    return true;
}

// Whether `warm` draws every character as fcft's `cold` font did.
bool drawsAlike(const WarmFont& warm, fcft_font* cold, std::u32string_view needed) {
    if (warm.ascent() != velmora_font_ascent(cold) || warm.descent() != velmora_font_descent(cold))
        return false;
    return std::all_of(needed.begin(), needed.end(), [&](char32_t c) {
        velmora_glyph a{}, b{};
        return warm.glyph(c, &a) && velmora_font_glyph(cold, static_cast<std::uint32_t>(c), &b) &&
               a.color == b.color && a.x == b.x && a.y == b.y && a.width == b.width &&
               a.height == b.height && a.advance == b.advance && sameImage(a, b);
    });
}

} // namespace

std::u32string menuCharacters(std::u32string_view titles) {
    std::u32string out;
    std::set<char32_t> seen;
    for (const char32_t c : titles) {
        if (c >= 0x20 && !(c >= 0x7F && c < 0xA0) && seen.insert(c).second)
            out += c;
    }
    if (seen.insert(MENU_ELLIPSIS).second)
        out += MENU_ELLIPSIS;
    return out;
}

bool MenuFont::open(double pixelSize, std::u32string_view needed) {
    pixelSize_ = pixelSize;
    needed_ = std::u32string(needed);
    cold_ = FontPtr();
    warm_.reset();
    if (openWarm())
        return true;
    own(cold_, velmora_font_open(pixelSize));
    unremembered_ = static_cast<bool>(cold_);
    return unremembered_;
}

bool MenuFont::openWarm() {
    const std::optional<std::string> bytes = fontcache::readCacheFile(CACHE_NAME);
    std::optional<fontcache::FontCache> cache;
    if (bytes)
        cache = fontcache::parse(*bytes);
    if (!cache || !fontcache::accountsFor(*cache, needed_) ||
        !fontcache::keyHolds(cache->key, cacheSettings(pixelSize_), fontcache::stampOf))
        return false;
    warm_ = WarmFont::open(*cache, needed_);
    return warm_ != nullptr;
}

int MenuFont::ascent() const {
    return warm_ ? warm_->ascent() : velmora_font_ascent(cold_.get());
}

int MenuFont::descent() const {
    return warm_ ? warm_->descent() : velmora_font_descent(cold_.get());
}

bool MenuFont::glyph(char32_t c, velmora_glyph* glyph) const {
    return warm_ ? warm_->glyph(c, glyph)
                 : velmora_font_glyph(cold_.get(), static_cast<std::uint32_t>(c), glyph);
}

void MenuFont::remember() {
    if (!std::exchange(unremembered_, false))
        return;
    std::optional<fontcache::FontCache> cache = resolve(fcftName(pixelSize_), needed_);
    if (!cache)
        return;
    const std::unique_ptr<WarmFont> warm = WarmFont::open(*cache, needed_);
    if (!warm || !drawsAlike(*warm, cold_.get(), needed_))
        return;
    std::vector<std::string> files = fontcache::fontconfigFiles(fontconfigCalls());
    for (const fontcache::CachedFace& face : cache->faces)
        files.push_back(face.file());
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    cache->key.settings = cacheSettings(pixelSize_);
    for (const std::string& file : files)
        cache->key.files.push_back(fontcache::stampOf(file));
    const std::string bytes = fontcache::serialise(*cache);
    // A cache that would not be read back is not written.
    if (fontcache::parse(bytes))
        fontcache::writeCacheFile(CACHE_NAME, bytes);
}

} // namespace velmora::wayland
