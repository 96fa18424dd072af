// The font cache on disk: one small file per menu kind in the user's cache
// folder, $XDG_CACHE_HOME/velmora (~/.cache/velmora), that only its owner
// can read or replace. Anything else found there counts as no cache.
#pragma once

#include "display/fontcache/font_cache_format.h"

#include <optional>
#include <string>

namespace velmora::fontcache {

// The cache folder, empty when neither XDG_CACHE_HOME nor HOME names one.
std::string cacheFolder();

// The bytes of `name` in the cache folder, when it is a regular file of this
// user's, not a symbolic link, and no larger than MAX_CACHE_BYTES.
std::optional<std::string> readCacheFile(const std::string& name);

// Replaces `name` in the cache folder (made 0700 when missing) with `bytes`
// whole, mode 0600, through a temporary file renamed over it. False when the
// folder is not this user's own folder or the file could not be written.
bool writeCacheFile(const std::string& name, const std::string& bytes);

// How `path` stands now; a path that cannot be stat'ed is not present.
FileStamp stampOf(const std::string& path);

} // namespace velmora::fontcache
