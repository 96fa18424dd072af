// The X11 menu's side of the font cache: the key of its fonts, and its
// faces as cache entries and back as patterns that Xft opens without asking
// fontconfig to match (so without fontconfig reading its configuration).
#pragma once

#include "display/fontcache/font_cache_format.h"
#include "display/x11/x11_library.h"

#include <string>
#include <utility>
#include <vector>

namespace velmora::x11 {

using CacheSettings = std::vector<std::pair<std::string, std::string>>;

// What besides files decides the menu's faces and their drawing: the face
// asked for and its size, the Xft resources Xft reads, and the environment
// that fontconfig reads its configuration by and the loader finds libraries
// by. Needs libX11 alone.
CacheSettings fontCacheSettings(Display* display, double pixelSize);

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
