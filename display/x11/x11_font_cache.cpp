#include "display/x11/x11_font_cache.h"

#include "display/fontcache/fontconfig_answer.h"
#include "display/x11/x11_handles.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <string_view>
#include <sys/utsname.h>
#include <unistd.h>

namespace velmora::x11 {

namespace {

using fontcache::ElementValue;

constexpr const char* RESOURCES_SETTING = "Xft resources";
constexpr const char* DPI_SETTING = "Xft.dpi";
constexpr const char* XENVIRONMENT_SETTING = "XENVIRONMENT";

// The resource text by its FNV-1a hash and its length: a cache written for
// other resources is one not to trust for its resolution, and the text may
// be long.
std::string resourcesValue(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    char value[48];
    std::snprintf(value, sizeof value, "=%016llx:%zu", static_cast<unsigned long long>(hash),
                  text.size());
    return value;
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string("=") + value : "";
}

// The value of `name` among `settings`; nothing when absent.
const std::string* settingOf(const CacheSettings& settings, std::string_view name) {
    for (const auto& [setting, value] : settings) {
        if (setting == name)
            return &value;
    }
    return nullptr;
}

// The home folder as Xlib finds it for the resource files.
std::string homeFolder() {
    if (const char* home = std::getenv("HOME"))
        return home;
    const passwd* user = getpwuid(getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

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

CacheSettings fontCacheSettings(const ServerResources& resources, double pixelSize) {
    CacheSettings settings{{"family", "sans-serif"},
                           {"pixelsize", fontcache::decimalText(pixelSize)},
                           {RESOURCES_SETTING, resourcesValue(resources.text)},
                           {DPI_SETTING, resources.dpi ? "=" + *resources.dpi : ""},
                           {XENVIRONMENT_SETTING, environmentValue("XENVIRONMENT")}};
    fontcache::appendFontconfigEnvironment(settings);
    // The font libraries are stamped as files (their versions would need
    // them loaded, which a start drawing remembered glyphs does without);
    // what picks those files is stamped or set here too.
    settings.emplace_back("LD_LIBRARY_PATH", environmentValue("LD_LIBRARY_PATH"));
    return settings;
}

std::optional<std::optional<std::string>> rememberedDpi(const fontcache::CacheKey& key,
                                                        const std::string& resourceText) {
    const std::string* resources = settingOf(key.settings, RESOURCES_SETTING);
    const std::string* environment = settingOf(key.settings, XENVIRONMENT_SETTING);
    const std::string* dpi = settingOf(key.settings, DPI_SETTING);
    if (resources == nullptr || *resources != resourcesValue(resourceText) ||
        environment == nullptr || *environment != environmentValue("XENVIRONMENT") ||
        dpi == nullptr)
        return std::nullopt;
    if (dpi->empty())
        return std::optional<std::string>();
    if ((*dpi)[0] != '=')
        return std::nullopt;
    return std::optional<std::string>(dpi->substr(1));
}

std::vector<std::string> resourceFiles() {
    const std::string home = homeFolder();
    std::vector<std::string> files{home + "/.Xdefaults"};
    if (const char* environment = std::getenv("XENVIRONMENT")) {
        files.emplace_back(environment);
    } else {
        utsname names{};
        if (uname(&names) == 0)
            files.push_back(home + "/.Xdefaults-" + names.nodename);
    }
    return files;
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
