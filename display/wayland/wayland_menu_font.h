// The menu's font at one pixel size: warm, from the faces the font cache
// ($XDG_CACHE_HOME/velmora/wayland-fonts) remembers, when its key still holds
// (WarmFont, FreeType alone); else cold, through fcft, fontconfig's answer
// being remembered once the menu is on screen, for the next start. A cache
// is written only when the faces it names draw every glyph of the titles
// exactly as fcft drew them.
#pragma once

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
    bool openWarm();

    double pixelSize_ = 0;
    std::u32string needed_;
    FontPtr cold_;
    std::unique_ptr<WarmFont> warm_;
    bool unremembered_ = false;
};

// The characters a menu of these titles may draw, each once: the printable
// ones and the ellipsis that ends a title cut short.
std::u32string menuCharacters(std::u32string_view titles);

} // namespace velmora::wayland
