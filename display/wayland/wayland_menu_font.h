// The menu's font at one pixel size: warm, from what the font cache
// ($XDG_CACHE_HOME/velmora/wayland-fonts) remembers, when its key still holds:
// the titles' glyphs as fcft drew them (RememberedGlyphs, pixman alone), or,
// when the cache could not hold those, its faces (WarmFont, FreeType alone);
// else cold, through fcft, fontconfig's answer and fcft's glyphs being
// remembered once the menu is on screen, for the next start. A cache is
// written only when the faces it names draw every glyph of the titles
// exactly as fcft drew them. The pixel size is part of the key: a cache
// written at another output scale does not hold, and is written anew.
#pragma once

#include "display/wayland/wayland_remembered_glyphs.h"
#include "display/wayland/wayland_warm_font.h"

#include <memory>
#include <string>
#include <string_view>

namespace velmora::wayland {

class MenuFont {
public:
    // The font for `pixelSize` that draws the characters of `needed`; false
    // when there is none.
    bool open(double pixelSize, std::u32string_view needed);
    int ascent() const;
    int descent() const;
    bool glyph(char32_t c, velmora_glyph* glyph) const;
    // Writes the cache after a cold start; once, and only then.
    void remember();

private:
    double pixelSize_ = 0;
    std::u32string needed_;
    FontPtr cold_;
    std::unique_ptr<WarmFont> warm_;
    std::unique_ptr<RememberedGlyphs> remembered_;
    bool unremembered_ = false;
};

// Whether the font cache holds glyphs, whether or not they still hold:
// when it does not, a start will need the font libraries.
bool fontGlyphsRemembered();

// The characters a menu of these titles may draw, each once: the printable
// ones and the ellipsis that ends a title cut short.
std::u32string menuCharacters(std::u32string_view titles);

} // namespace velmora::wayland
