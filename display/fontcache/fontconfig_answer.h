// The parts of a font cache entry that come from fontconfig itself, shared by
// the menus that ask it: the files its answer was read from, the environment
// it reads, and a matched pattern as a cache entry. Each menu loads
// fontconfig on its own, so the calls come in as the menu's pointers.
#pragma once

#include "display/fontcache/font_cache_format.h"

#include <fontconfig/fontconfig.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::fontcache {

struct FontconfigCalls {
    decltype(&::FcConfigGetConfigFiles) configGetConfigFiles;
    decltype(&::FcConfigGetConfigDirs) configGetConfigDirs;
    decltype(&::FcConfigGetFontDirs) configGetFontDirs;
    decltype(&::FcConfigGetCacheDirs) configGetCacheDirs;
    decltype(&::FcStrListNext) strListNext;
    decltype(&::FcStrListDone) strListDone;
    decltype(&::FcPatternIterStart) patternIterStart;
    decltype(&::FcPatternIterIsValid) patternIterIsValid;
    decltype(&::FcPatternIterNext) patternIterNext;
    decltype(&::FcPatternIterGetObject) patternIterGetObject;
    decltype(&::FcPatternIterValueCount) patternIterValueCount;
    decltype(&::FcPatternIterGetValue) patternIterGetValue;
};

// The environment fontconfig finds its configuration, fonts and caches by,
// as cache settings ("=value", or empty when unset).
void appendFontconfigEnvironment(std::vector<std::pair<std::string, std::string>>& settings);

// The files and folders fontconfig's answer was read from, and those whose
// appearing would change it, sorted and each once.
std::vector<std::string> fontconfigFiles(const FontconfigCalls& fc);

// Whether a cache entry leaves `object` out: the character set and languages
// are large and stand for the whole face (an entry holds the characters it
// draws instead), and a loaded face is no value.
bool standsForWholeFace(std::string_view object);

// The elements of a matched pattern as a cache entry, but for those above
// and `alsoLeftOut`.
CachedFace cachedFace(const FontconfigCalls& fc, const FcPattern* pattern,
                      std::string_view alsoLeftOut = {});

} // namespace velmora::fontcache
