#include "display/x11/x11_fonts.h"

#include "display/fontcache/font_cache_file.h"
#include "display/x11/x11_font_cache.h"
#include "display/x11/x11_glyph_capture.h"

#include <algorithm>
#include <limits>
#include <set>
#include <utility>

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

namespace {

constexpr const char* CACHE_NAME = "x11-fonts";

// The printable characters of `text`, each once, in the order they come.
std::u32string printable(std::u32string_view text) {
    std::u32string out;
    std::set<char32_t> seen;
    for (const char32_t c : text) {
        if (c >= 0x20 && !(c >= 0x7F && c < 0xA0) && seen.insert(c).second)
            out += c;
    }
    return out;
}

// Every character of `text`, each once, in the order they come.
std::u32string distinct(std::u32string_view text) {
    std::u32string out;
    std::set<char32_t> seen;
    for (const char32_t c : text) {
        if (seen.insert(c).second)
            out += c;
    }
    return out;
}

// The cache file as glyphsRemembered read it, kept for the read that
// follows it, so that a start reads the file once.
std::optional<std::string>& keptCacheBytes() {
    static std::optional<std::string> bytes;
    return bytes;
}

std::optional<std::string> cacheBytes() {
    std::optional<std::string> kept = std::move(keptCacheBytes());
    keptCacheBytes().reset();
    return kept ? std::move(kept) : fontcache::readCacheFile(CACHE_NAME);
}

std::optional<fontcache::FontCache> readCache() {
    const std::optional<std::string> bytes = cacheBytes();
    if (!bytes)
        return std::nullopt;
    return fontcache::parse(*bytes);
}

// A font cache read ahead; `filesHold` when its files' stamps held then.
struct CacheReadAhead {
    std::optional<fontcache::FontCache> cache;
    bool filesHold = false;
};

std::optional<CacheReadAhead>& cacheReadAhead() {
    static std::optional<CacheReadAhead> ahead;
    return ahead;
}

// Whether the face file holds `c`, asked of FreeType, not of the pattern.
bool faceHolds(XftFont* font, char32_t c) {
    const FT_Face face = XftLockFace(font);
    if (face == nullptr)
        return false;
    const bool held = FT_Get_Char_Index(face, c) != 0;
    XftUnlockFace(font);
    return held;
}

} // namespace

FontSet::FontSet(Wire& wire, const ServerResources& resources, double pixelSize,
                 const RenderFormats* render)
    : wire_(wire), display_(wire.xlib()), resources_(resources), render_(render),
      screen_(wire.screen().number), pixelSize_(pixelSize) {}

bool FontSet::glyphsRemembered() {
    keptCacheBytes() = fontcache::readCacheFile(CACHE_NAME);
    const std::optional<std::string>& bytes = keptCacheBytes();
    return bytes && bytes->find("\nglyphs ") != std::string::npos;
}

void FontSet::readAhead() {
    CacheReadAhead ahead;
    ahead.cache = readCache();
    // Its own settings hold for it: this checks the files alone; the
    // settings need the display, and are compared once it is open.
    ahead.filesHold =
        ahead.cache &&
        fontcache::keyHolds(ahead.cache->key, ahead.cache->key.settings, fontcache::stampOf);
    cacheReadAhead() = std::move(ahead);
}

std::optional<std::optional<std::string>> FontSet::rememberedDpi(const std::string& resourceText) {
    const std::optional<CacheReadAhead>& ahead = cacheReadAhead();
    if (!ahead || !ahead->filesHold)
        return std::nullopt;
    return x11::rememberedDpi(ahead->cache->key, resourceText);
}

void FontSet::forgetReadAhead() {
    cacheReadAhead().reset();
    keptCacheBytes().reset();
}

void FontSet::load(std::u32string_view text) {
    if (ok())
        return;
    const std::u32string needed = printable(text);
    characters_ = distinct(text);
    // Without Xlib there is no face to open: the caller connects through
    // Xlib and asks again.
    if (loadGlyphs(characters_, needed) || display_ == nullptr || !loadX11FontLibraries())
        return;
    if (loadCached(needed))
        return;
    loadFresh(needed);
    if (!fonts_.empty())
        unremembered_ = needed;
}

bool FontSet::loadGlyphs(std::u32string_view text, std::u32string_view needed) {
    std::optional<CacheReadAhead> ahead = std::move(cacheReadAhead());
    cacheReadAhead().reset();
    const std::optional<fontcache::FontCache> cache = ahead ? std::move(ahead->cache) : readCache();
    if (render_ == nullptr || !cache || !fontcache::accountsFor(*cache, needed) ||
        !fontcache::glyphsDraw(*cache, text, needed))
        return false;
    if (ahead
            ? !ahead->filesHold || cache->key.settings != fontCacheSettings(resources_, pixelSize_)
            : !fontcache::keyHolds(cache->key, fontCacheSettings(resources_, pixelSize_),
                                   fontcache::stampOf))
        return false;
    glyphs_ = GlyphFont::upload(wire_, *render_, *cache->glyphs);
    return glyphs_ != nullptr;
}

bool FontSet::loadCached(std::u32string_view needed) {
    const std::optional<fontcache::FontCache> cache = readCache();
    if (!cache || !fontcache::accountsFor(*cache, needed) ||
        !fontcache::keyHolds(cache->key, fontCacheSettings(resources_, pixelSize_),
                             fontcache::stampOf))
        return false;
    if (openCached(*cache, needed))
        return true;
    // Xft keeps closed fonts for reuse: one opened here would come back on
    // the fontconfig path with the cache's character set, so it gets its
    // face's true one first.
    for (const XftFontHandle& font : fonts_) {
        const FT_Face face = XftLockFace(font.get());
        FcCharSet* real = face != nullptr ? FcFreeTypeCharSet(face, nullptr) : nullptr;
        XftUnlockFace(font.get());
        if (real != nullptr)
            FcCharSetDestroy(std::exchange(font.get()->charset, real));
    }
    fonts_.clear();
    return false;
}

bool FontSet::openCached(const fontcache::FontCache& cache, std::u32string_view needed) {
    for (const fontcache::CachedFace& face : cache.faces) {
        FcPatternHandle pattern(cachedPattern(face));
        XftFont* font = pattern ? XftFontOpenPattern(display_, pattern.get()) : nullptr;
        if (font == nullptr)
            return false;
        pattern.release(); // the font owns the pattern now
        fonts_.emplace_back(font, XftFontTraits{display_});
    }
    // Each character must go to the face that fontconfig's path would give
    // it, the first whose file holds it, as FreeType (not the cache) says.
    return std::all_of(needed.begin(), needed.end(), [&](char32_t c) {
        std::size_t holder = 0;
        while (holder < fonts_.size() && !faceHolds(fonts_[holder].get(), c))
            ++holder;
        std::size_t listed = 0;
        while (listed < cache.faces.size() &&
               cache.faces[listed].covers.find(c) == std::u32string::npos)
            ++listed;
        return holder == listed;
    });
}

void FontSet::loadFresh(std::u32string_view needed) {
    XftFont* primary = open(nullptr);
    if (primary == nullptr)
        return;
    fonts_.emplace_back(primary, XftFontTraits{display_});
    for (const char32_t c : needed) {
        const bool held = std::any_of(fonts_.begin(), fonts_.end(), [&](const XftFontHandle& f) {
            return XftCharExists(display_, f.get(), c) != 0;
        });
        if (held)
            continue;
        const FcChar32 wanted = c;
        XftFontHandle fallback(open(&wanted), XftFontTraits{display_});
        if (fallback.get() != nullptr && XftCharExists(display_, fallback.get(), c) != 0)
            fonts_.push_back(std::move(fallback));
    }
}

void FontSet::remember() {
    if (unremembered_.empty())
        return;
    const std::u32string needed = std::move(unremembered_);
    unremembered_.clear();
    fontcache::FontCache cache;
    for (const XftFontHandle& font : fonts_)
        cache.faces.push_back(cachedFace(font.get()->pattern));
    for (const char32_t c : needed) {
        XftFont* face = faceFor(c);
        if (XftCharExists(display_, face, c) == 0) {
            cache.uncovered += c;
            continue;
        }
        const auto index = static_cast<std::size_t>(
            std::find_if(fonts_.begin(), fonts_.end(),
                         [&](const XftFontHandle& f) { return f.get() == face; }) -
            fonts_.begin());
        cache.faces[index].covers += c;
    }
    std::vector<std::string> files = fontconfigFiles();
    const std::vector<std::string> resources = resourceFiles();
    files.insert(files.end(), resources.begin(), resources.end());
    for (const fontcache::CachedFace& face : cache.faces)
        files.push_back(face.file());
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    cache.key.settings = fontCacheSettings(resources_, pixelSize_);
    for (const std::string& file : files)
        cache.key.files.push_back(fontcache::stampOf(file));
    cache.glyphs = captured();
    std::string bytes = fontcache::serialise(cache);
    // Glyphs too many for a cache are left out: the faces are still worth
    // remembering.
    if (bytes.size() > fontcache::MAX_CACHE_BYTES && cache.glyphs) {
        cache.glyphs.reset();
        bytes = fontcache::serialise(cache);
    }
    // A cache that would not be read back is not written.
    if (fontcache::parse(bytes))
        fontcache::writeCacheFile(CACHE_NAME, bytes);
}

std::optional<fontcache::CachedGlyphs> FontSet::captured() const {
    if (render_ == nullptr)
        return std::nullopt;
    std::vector<XftFont*> faces;
    for (const XftFontHandle& font : fonts_)
        faces.push_back(font.get());
    const auto faceOf = [&](char32_t c) {
        const XftFont* face = faceFor(c);
        return static_cast<std::size_t>(std::find(faces.begin(), faces.end(), face) -
                                        faces.begin());
    };
    std::optional<fontcache::CachedGlyphs> glyphs =
        captureGlyphs(display_, *render_, faces, characters_, faceOf);
    if (glyphs) {
        glyphs->ascent = ascent();
        glyphs->descent = descent();
    }
    return glyphs;
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

int FontSet::ascent() const {
    if (glyphs_)
        return glyphs_->ascent();
    int value = 0;
    for (const auto& font : fonts_)
        value = std::max(value, font.get()->ascent);
    return value;
}

int FontSet::descent() const {
    if (glyphs_)
        return glyphs_->descent();
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
    if (glyphs_)
        return glyphs_->width(text);
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

void FontSet::draw(const TextTarget& target, const XftColor* color, int x, int baseline,
                   std::u32string_view text) const {
    if (glyphs_) {
        glyphs_->draw(target.picture, *color, x, baseline, text);
        return;
    }
    if (fonts_.empty() || target.xft == nullptr)
        return;
    forEachRun(text, [&](XftFont* face, const FcChar32* characters, int length) {
        // X coordinates are 16 bits: text that far right is off every screen.
        if (x > std::numeric_limits<short>::max())
            return;
        XGlyphInfo extents{};
        XftTextExtents32(display_, face, characters, length, &extents);
        XftDrawString32(target.xft, color, face, x, baseline, characters, length);
        x += extents.xOff;
    });
}

} // namespace velmora::x11
