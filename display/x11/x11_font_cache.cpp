#include "display/x11/x11_font_cache.h"

#include "display/fontcache/fontconfig_answer.h"
#include "display/x11/x11_handles.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace velmora::x11 {

namespace {

using fontcache::ElementValue;

// The resources Xft reads (XftDefaultSubstitute and the font defaults).
constexpr const char* XFT_RESOURCES[] = {
    "antialias",     "autohint",  "dpi",      "embolden",      "hinting",
    "hintstyle",     "lcdfilter", "minspace", "rgba",          "maxglyphmemory",
    "maxunreffonts", "render",    "scale",    "trackmemusage",
};

// Elements left out: those that stand for the whole face, and whether the
// server renders, which is Xft's own question.
bool leftOut(std::string_view object) {
    return fontcache::standsForWholeFace(object) || object == XFT_RENDER;
}

// Adds one cached value to `pattern`, read back as it was written.
bool addValue(FcPattern* pattern, const std::string& object, const ElementValue& cached) {
    FcValue value{};
    FcMatrix matrix{};
    const std::string_view text = cached.text;
    switch (cached.type) {
    case 'i': {
        value.type = FcTypeInteger;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value.u.i);
        if (result.ec != std::errc() || result.ptr != text.data() + text.size())
            return false;
        break;
    }
    case 'd':
        value.type = FcTypeDouble;
        if (!fontcache::readDecimal(text, value.u.d))
            return false;
        break;
    case 'b':
        value.type = FcTypeBool;
        value.u.b = text == "1" ? FcTrue : text == "2" ? FcDontCare : FcFalse;
        break;
    case 's':
        value.type = FcTypeString;
        value.u.s = reinterpret_cast<const FcChar8*>(cached.text.c_str());
        break;
    case 'm': {
        double* parts[] = {&matrix.xx, &matrix.xy, &matrix.yx, &matrix.yy};
        std::size_t start = 0;
        for (double* part : parts) {
            const std::size_t comma = std::min(text.find(',', start), text.size());
            if (!fontcache::readDecimal(text.substr(start, comma - start), *part))
                return false;
            start = comma + 1;
        }
        value.type = FcTypeMatrix;
        value.u.m = &matrix;
        break;
    }
    default:
        return false;
    }
    return FcPatternAdd(pattern, object.c_str(), value, FcTrue) != 0; // copies the value
}

const fontcache::FontconfigCalls& fontconfigCalls() {
    static const fontcache::FontconfigCalls calls{
        FcConfigGetConfigFiles, FcConfigGetConfigDirs,   FcConfigGetFontDirs,
        FcConfigGetCacheDirs,   FcStrListNext,           FcStrListDone,
        FcPatternIterStart,     FcPatternIterIsValid,    FcPatternIterNext,
        FcPatternIterGetObject, FcPatternIterValueCount, FcPatternIterGetValue};
    return calls;
}

} // namespace

CacheSettings fontCacheSettings(Display* display, double pixelSize) {
    CacheSettings settings{{"family", "sans-serif"},
                           {"pixelsize", fontcache::decimalText(pixelSize)}};
    // Xlib keeps the resource database its first XGetDefault builds, but
    // builds none where the server holds no resources and no ~/.Xdefaults
    // file exists: then every call reads the files again, and the first
    // call's empty database already says that every resource is unset.
    bool empty = false;
    for (const char* name : XFT_RESOURCES) {
        const char* value = empty ? nullptr : XGetDefault(display, "Xft", name);
        empty = empty || XrmGetDatabase(display) == nullptr;
        settings.emplace_back(std::string("Xft.") + name, value ? std::string("=") + value : "");
    }
    fontcache::appendFontconfigEnvironment(settings);
    // The font libraries are stamped as files (their versions would need
    // them loaded, which a start drawing remembered glyphs does without);
    // what picks those files is stamped or set here too.
    const char* libraryPath = std::getenv("LD_LIBRARY_PATH");
    settings.emplace_back("LD_LIBRARY_PATH", libraryPath ? std::string("=") + libraryPath : "");
    return settings;
}

std::vector<std::string> fontconfigFiles() {
    std::vector<std::string> files = fontcache::fontconfigFiles(fontconfigCalls());
    const std::vector<std::string> libraries = x11FontLibraryFiles();
    files.insert(files.end(), libraries.begin(), libraries.end());
    files.emplace_back("/etc/ld.so.cache");
    return files;
}

fontcache::CachedFace cachedFace(const FcPattern* pattern) {
    return fontcache::cachedFace(fontconfigCalls(), pattern, XFT_RENDER);
}

FcPattern* cachedPattern(const fontcache::CachedFace& face) {
    FcPatternHandle pattern(FcPatternCreate());
    FcCharSetHandle charset(FcCharSetCreate());
    if (pattern.get() == nullptr || charset.get() == nullptr)
        return nullptr;
    for (const fontcache::PatternElement& element : face.elements) {
        if (leftOut(element.object) || !addValue(pattern.get(), element.object, element.value))
            return nullptr;
    }
    for (const char32_t c : face.covers) {
        if (!FcCharSetAddChar(charset.get(), c))
            return nullptr;
    }
    if (!FcPatternAddCharSet(pattern.get(), FC_CHARSET, charset.get()))
        return nullptr;
    return pattern.release();
}

} // namespace velmora::x11
