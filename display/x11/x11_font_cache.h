// The X11 menu's side of the font cache: the key of its fonts, and its
// faces as cache entries and back as patterns that Xft opens without asking
// fontconfig to match (so without fontconfig reading its configuration).
#pragma once

#include "display/fontcache/font_cache_format.h"
#include "display/x11/x11_library.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::x11 {

using CacheSettings = std::vector<std::pair<std::string, std::string>>;

// The resources the server holds for the desktop (its RESOURCE_MANAGER
// property, which Xlib reads them from) and the Xft.dpi they set.
struct ServerResources {
    std::string text;
    std::optional<std::string> dpi; // nothing where unset
};

// What besides files decides the menu's faces and their drawing: the face
// asked for and its size, the resources Xft reads (by the server's
// resource text, with the files resourceFiles() names stamped beside it),
// and the environment that Xlib reads resources by, fontconfig its
// configuration by and the loader libraries by.
CacheSettings fontCacheSettings(const ServerResources& resources, double pixelSize);

// The Xft.dpi a cache was written with, when the server's resources are
// those it was written with: a start without Xlib takes the resolution
// from here. Nothing when they are not.
std::optional<std::optional<std::string>> rememberedDpi(const fontcache::CacheKey& key,
                                                        const std::string& resourceText);

// The files besides the server's resources that Xlib reads resources from
// (~/.Xdefaults where the server holds none, and $XENVIRONMENT or
// ~/.Xdefaults-<host>), to be stamped with the cache.
std::vector<std::string> resourceFiles();

// The files and folders fontconfig's answer was read from, those whose
// appearing would change it, and the font libraries' files (and the loader's
// cache that finds them). Asks fontconfig: for the path that matched.
std::vector<std::string> fontconfigFiles();

// The elements of a matched pattern that drawing reads, as a cache entry.
fontcache::CachedFace cachedFace(const FcPattern* pattern);

// A pattern for XftFontOpenPattern from a cache entry, its character set
// being the characters the entry covers. Null when an element is unusable.
FcPattern* cachedPattern(const fontcache::CachedFace& face);

} // namespace velmora::x11
