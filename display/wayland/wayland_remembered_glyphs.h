// The titles' glyphs as the font cache remembers them: the A8 coverage fcft
// drew on the start that wrote the cache, with its placement and advance, and
// the font's ascent and descent. A start whose cache holds them draws its
// text with pixman alone, loading neither fcft, fontconfig nor FreeType, and
// draws the very pixels fcft's glyphs drew. Include after wayland_library.h.
#pragma once

#include "display/fontcache/font_cache_format.h"
#include "display/wayland/wayland_handles.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace velmora::wayland {

class RememberedGlyphs {
public:
    // The glyphs as pixman images; null when one cannot be made.
    static std::unique_ptr<RememberedGlyphs> open(const fontcache::CachedGlyphs& glyphs);
    ~RememberedGlyphs();
    RememberedGlyphs(const RememberedGlyphs&) = delete;
    RememberedGlyphs& operator=(const RememberedGlyphs&) = delete;

    int ascent() const { return ascent_; }
    int descent() const { return descent_; }
    // The glyph of `c`; false for a character the cache does not hold.
    bool glyph(char32_t c, velmora_glyph* glyph) const;

private:
    struct Glyph;
    RememberedGlyphs();

    std::map<char32_t, std::unique_ptr<Glyph>> glyphs_;
    int ascent_ = 0;
    int descent_ = 0;
};

// The glyphs of `characters` as `draw` gives them, each with the face the
// faces of `cache` give it (the first that covers it, else the first), for
// the cache to remember; nothing when one is missing, not a plain A8
// coverage mask (a colour or monochrome glyph), or beyond what a cache holds.
std::optional<fontcache::CachedGlyphs>
captureGlyphs(const fontcache::FontCache& cache, std::u32string_view characters, int ascent,
              int descent, const std::function<bool(char32_t, velmora_glyph*)>& draw);

} // namespace velmora::wayland
