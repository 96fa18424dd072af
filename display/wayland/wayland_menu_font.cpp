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
// asks fontconfig for (which holds the pixel size, so the output's scale),
// and the environment fontconfig and FreeType read and the loader finds the
// libraries by. The font libraries are stamped as files (their versions
// would need them loaded, which a start drawing remembered glyphs does
// without).
Settings cacheSettings(double pixelSize) {
    Settings settings{{"name", fcftName(pixelSize)}};
    for (const char* name : {"FREETYPE_PROPERTIES", "LD_LIBRARY_PATH"}) {
        const char* value = std::getenv(name);
        settings.emplace_back(name, value ? std::string("=") + value : "");
    }
    fontcache::appendFontconfigEnvironment(settings);
    return settings;
}

std::optional<fontcache::FontCache> readCache() {
    const std::optional<std::string> bytes = fontcache::readCacheFile(CACHE_NAME);
    if (!bytes)
        return std::nullopt;
    return fontcache::parse(*bytes);
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

bool fontGlyphsRemembered() {
    const std::optional<std::string> bytes = fontcache::readCacheFile(CACHE_NAME);
    return bytes && bytes->find("\nglyphs ") != std::string::npos;
}

bool MenuFont::open(double pixelSize, std::u32string_view needed) {
    pixelSize_ = pixelSize;
    needed_ = std::u32string(needed);
    cold_ = FontPtr();
    warm_.reset();
    remembered_.reset();
    unremembered_ = false;
    const std::optional<fontcache::FontCache> cache = readCache();
    const bool holds =
        cache && fontcache::accountsFor(*cache, needed_) &&
        fontcache::keyHolds(cache->key, cacheSettings(pixelSize_), fontcache::stampOf);
    if (holds && fontcache::glyphsDraw(*cache, needed_, needed_)) {
        remembered_ = RememberedGlyphs::open(*cache->glyphs);
        if (remembered_)
            return true;
    }
    if (!loadWaylandFontLibraries())
        return false;
    if (holds) {
        warm_ = WarmFont::open(*cache, needed_);
        if (warm_)
            return true;
    }
    own(cold_, velmora_font_open(pixelSize));
    unremembered_ = static_cast<bool>(cold_);
    return unremembered_;
}

int MenuFont::ascent() const {
    if (remembered_)
        return remembered_->ascent();
    return warm_ ? warm_->ascent() : velmora_font_ascent(cold_.get());
}

int MenuFont::descent() const {
    if (remembered_)
        return remembered_->descent();
    return warm_ ? warm_->descent() : velmora_font_descent(cold_.get());
}

bool MenuFont::glyph(char32_t c, velmora_glyph* glyph) const {
    if (remembered_)
        return remembered_->glyph(c, glyph);
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
    const std::vector<std::string> libraries = waylandFontLibraryFiles();
    files.insert(files.end(), libraries.begin(), libraries.end());
    files.emplace_back("/etc/ld.so.cache");
    for (const fontcache::CachedFace& face : cache->faces)
        files.push_back(face.file());
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    cache->key.settings = cacheSettings(pixelSize_);
    for (const std::string& file : files)
        cache->key.files.push_back(fontcache::stampOf(file));
    cache->glyphs = captureGlyphs(
        *cache, needed_, velmora_font_ascent(cold_.get()), velmora_font_descent(cold_.get()),
        [this](char32_t c, velmora_glyph* glyph) {
            return velmora_font_glyph(cold_.get(), static_cast<std::uint32_t>(c), glyph);
        });
    std::string bytes = fontcache::serialise(*cache);
    // Glyphs too many for a cache are left out: the faces are still worth
    // remembering.
    if (bytes.size() > fontcache::MAX_CACHE_BYTES && cache->glyphs) {
        cache->glyphs.reset();
        bytes = fontcache::serialise(*cache);
    }
    // A cache that would not be read back is not written.
    if (fontcache::parse(bytes))
        fontcache::writeCacheFile(CACHE_NAME, bytes);
}

} // namespace velmora::wayland
