#include "display/fontcache/fontconfig_answer.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace velmora::fontcache {

namespace {

constexpr const char* FONTCONFIG_ENVIRONMENT[] = {
    "FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT", "HOME",
    "XDG_CACHE_HOME",  "XDG_CONFIG_HOME", "XDG_DATA_HOME",
};

std::optional<ElementValue> elementValue(const FcValue& value) {
    switch (value.type) {
    case FcTypeInteger:
        return ElementValue{'i', std::to_string(value.u.i)};
    case FcTypeDouble:
        return ElementValue{'d', decimalText(value.u.d)};
    case FcTypeBool:
        return ElementValue{'b', std::to_string(value.u.b)};
    case FcTypeString:
        return ElementValue{'s', reinterpret_cast<const char*>(value.u.s)};
    case FcTypeMatrix:
        return ElementValue{'m', decimalText(value.u.m->xx) + ',' + decimalText(value.u.m->xy) +
                                     ',' + decimalText(value.u.m->yx) + ',' +
                                     decimalText(value.u.m->yy)};
    default:
        return std::nullopt;
    }
}

void appendList(const FontconfigCalls& fc, std::vector<std::string>& paths, FcStrList* list) {
    if (list == nullptr)
        return;
    while (const FcChar8* path = fc.strListNext(list))
        paths.emplace_back(reinterpret_cast<const char*>(path));
    fc.strListDone(list);
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

void appendFontconfigEnvironment(std::vector<std::pair<std::string, std::string>>& settings) {
    for (const char* name : FONTCONFIG_ENVIRONMENT) {
        const char* value = std::getenv(name);
        settings.emplace_back(name, value ? std::string("=") + value : "");
    }
}

std::vector<std::string> fontconfigFiles(const FontconfigCalls& fc) {
    std::vector<std::string> paths;
    appendList(fc, paths, fc.configGetConfigFiles(nullptr));
    // A configuration file added beside them changes their folders.
    const std::size_t files = paths.size();
    for (std::size_t i = 0; i < files; ++i) {
        const std::size_t slash = paths[i].rfind('/');
        if (slash != std::string::npos && slash > 0)
            paths.push_back(paths[i].substr(0, slash));
    }
    appendList(fc, paths, fc.configGetConfigDirs(nullptr));
    appendList(fc, paths, fc.configGetFontDirs(nullptr));
    appendList(fc, paths, fc.configGetCacheDirs(nullptr));
    appendUserPaths(paths);
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

bool standsForWholeFace(std::string_view object) {
    return object == FC_CHARSET || object == FC_LANG || object == FC_FT_FACE;
}

CachedFace cachedFace(const FontconfigCalls& fc, const FcPattern* pattern,
                      std::string_view alsoLeftOut) {
    CachedFace face;
    FcPatternIter iterator;
    fc.patternIterStart(pattern, &iterator);
    for (bool more = fc.patternIterIsValid(pattern, &iterator) != 0; more;
         more = fc.patternIterNext(pattern, &iterator) != 0) {
        const char* object = fc.patternIterGetObject(pattern, &iterator);
        if (object == nullptr || standsForWholeFace(object) || object == alsoLeftOut)
            continue;
        const int count = fc.patternIterValueCount(pattern, &iterator);
        for (int i = 0; i < count; ++i) {
            FcValue value{};
            FcValueBinding binding = FcValueBindingWeak;
            if (fc.patternIterGetValue(pattern, &iterator, i, &value, &binding) != FcResultMatch)
                continue;
            if (auto cached = elementValue(value))
                face.elements.push_back({object, std::move(*cached)});
        }
    }
    return face;
}

} // namespace velmora::fontcache
