#include "display/x11/x11_font_cache.h"

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

// The environment fontconfig finds its configuration, fonts and caches by.
constexpr const char* FONTCONFIG_ENVIRONMENT[] = {
    "FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT", "HOME",
    "XDG_CACHE_HOME",  "XDG_CONFIG_HOME", "XDG_DATA_HOME",
};

// Elements left out: the character set and languages are large and stand
// for the whole face (a cache entry holds the characters it draws instead),
// and whether the server renders is Xft's own question.
bool leftOut(std::string_view object) {
    return object == FC_CHARSET || object == FC_LANG || object == FC_FT_FACE ||
           object == XFT_RENDER;
}

std::string decimal(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

bool toDouble(std::string_view text, double& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

std::optional<ElementValue> elementValue(const FcValue& value) {
    switch (value.type) {
    case FcTypeInteger:
        return ElementValue{'i', std::to_string(value.u.i)};
    case FcTypeDouble:
        return ElementValue{'d', decimal(value.u.d)};
    case FcTypeBool:
        return ElementValue{'b', std::to_string(value.u.b)};
    case FcTypeString:
        return ElementValue{'s', reinterpret_cast<const char*>(value.u.s)};
    case FcTypeMatrix:
        return ElementValue{'m', decimal(value.u.m->xx) + ',' + decimal(value.u.m->xy) + ',' +
                                     decimal(value.u.m->yx) + ',' + decimal(value.u.m->yy)};
    default:
        return std::nullopt;
    }
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
        if (!toDouble(text, value.u.d))
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
            if (!toDouble(text.substr(start, comma - start), *part))
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

void appendList(std::vector<std::string>& paths, FcStrList* list) {
    if (list == nullptr)
        return;
    while (const FcChar8* path = FcStrListNext(list))
        paths.emplace_back(reinterpret_cast<const char*>(path));
    FcStrListDone(list);
}

// Where a user's own configuration and fonts would appear, made or not.
void appendUserPaths(std::vector<std::string>& paths) {
    const char* home = std::getenv("HOME");
    const std::string own = home != nullptr && home[0] == '/' ? home : "";
    const auto folder = [&](const char* variable, const char* fallback) {
        const char* value = std::getenv(variable);
        return value != nullptr && value[0] == '/' ? std::string(value) : own + fallback;
    };
    const std::string config = folder("XDG_CONFIG_HOME", "/.config") + "/fontconfig";
    paths.insert(paths.end(), {config, config + "/conf.d", config + "/fonts.conf",
                               folder("XDG_DATA_HOME", "/.local/share") + "/fonts"});
    if (!own.empty())
        paths.insert(paths.end(), {own + "/.fonts", own + "/.fonts.conf", own + "/.fonts.conf.d"});
}

} // namespace

CacheSettings fontCacheSettings(Display* display, double pixelSize) {
    CacheSettings settings{{"family", "sans-serif"},
                           {"pixelsize", decimal(pixelSize)},
                           {"fontconfig", std::to_string(FcGetVersion())},
                           {"xft", std::to_string(XftGetVersion())}};
    for (const char* name : XFT_RESOURCES) {
        const char* value = XGetDefault(display, "Xft", name);
        settings.emplace_back(std::string("Xft.") + name, value ? std::string("=") + value : "");
    }
    for (const char* name : FONTCONFIG_ENVIRONMENT) {
        const char* value = std::getenv(name);
        settings.emplace_back(name, value ? std::string("=") + value : "");
    }
    return settings;
}

std::vector<std::string> fontconfigFiles() {
    std::vector<std::string> paths;
    appendList(paths, FcConfigGetConfigFiles(nullptr));
    // A configuration file added beside them changes their folders.
    const std::size_t files = paths.size();
    for (std::size_t i = 0; i < files; ++i) {
        const std::size_t slash = paths[i].rfind('/');
        if (slash != std::string::npos && slash > 0)
            paths.push_back(paths[i].substr(0, slash));
    }
    appendList(paths, FcConfigGetConfigDirs(nullptr));
    appendList(paths, FcConfigGetFontDirs(nullptr));
    appendList(paths, FcConfigGetCacheDirs(nullptr));
    appendUserPaths(paths);
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

fontcache::CachedFace cachedFace(const FcPattern* pattern) {
    fontcache::CachedFace face;
    FcPatternIter iterator;
    FcPatternIterStart(pattern, &iterator);
    for (bool more = FcPatternIterIsValid(pattern, &iterator) != 0; more;
         more = FcPatternIterNext(pattern, &iterator) != 0) {
        const char* object = FcPatternIterGetObject(pattern, &iterator);
        if (object == nullptr || leftOut(object))
            continue;
        const int count = FcPatternIterValueCount(pattern, &iterator);
        for (int i = 0; i < count; ++i) {
            FcValue value{};
            FcValueBinding binding = FcValueBindingWeak;
            if (FcPatternIterGetValue(pattern, &iterator, i, &value, &binding) != FcResultMatch)
                continue;
            if (auto cached = elementValue(value))
                face.elements.push_back({object, std::move(*cached)});
        }
    }
    return face;
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
