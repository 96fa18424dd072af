// The menu's font on a warm start: the faces the font cache remembers,
// opened from their files with FreeType alone, without fontconfig or fcft,
// and drawn as fcft draws them (its load flags, hinting, render mode, size
// and metrics for the face's pattern), so that the menu looks the same as
// on the start that wrote the cache. Include after wayland_library.h.
#pragma once

#include "display/fontcache/font_cache_format.h"
#include "display/wayland/wayland_handles.h"

#include <map>
#include <memory>
#include <string_view>
#include <vector>

namespace velmora::wayland {

class WarmFont {
public:
    // The cache's faces with every glyph of `needed` drawn; null when a face
    // cannot be opened as fcft would open it, a character is not accounted
    // for, or a glyph is not a plain coverage mask (then fcft draws).
    static std::unique_ptr<WarmFont> open(const fontcache::FontCache& cache,
                                          std::u32string_view needed);
    ~WarmFont();
    WarmFont(const WarmFont&) = delete;
    WarmFont& operator=(const WarmFont&) = delete;

    // The first face's, as fcft's font has its primary face's.
    int ascent() const { return ascent_; }
    int descent() const { return descent_; }
    // The glyph of `c`, drawn when opened; false for any other character.
    bool glyph(char32_t c, velmora_glyph* glyph) const;

private:
    struct Face;
    struct Glyph;
    WarmFont();
    bool openFace(const fontcache::CachedFace& cached);
    bool draw(const Face& face, char32_t c);

    FT_Library library_ = nullptr;
    std::vector<std::unique_ptr<Face>> faces_;
    std::map<char32_t, std::unique_ptr<Glyph>> glyphs_;
    int ascent_ = 0;
    int descent_ = 0;
};

} // namespace velmora::wayland
