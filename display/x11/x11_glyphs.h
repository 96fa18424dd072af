// The titles' glyphs as the font cache remembers them, drawn through an
// XRender glyph set: a start whose cache holds them draws its text with
// the wire alone, no face opened. The glyphs are those Xft drew
// on the start that wrote the cache, read back from the server
// (captureGlyphs, x11_glyph_capture.cpp), and they are composited as Xft
// composites its own (A8 masks, one request a run of one face, a solid
// source, PictOpOver), so that the pixels are the same.
#pragma once

#include "display/fontcache/font_cache_format.h"
#include "display/x11/x11_handles.h"
#include "display/x11/x11_render.h"

#include <map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::x11 {

// Where the menu's text goes: Xft's drawing surface, for faces Xft opened,
// and the window's picture, for remembered glyphs.
struct TextTarget {
    XftDraw* xft = nullptr;
    Picture picture = 0;
};

class GlyphFont {
public:
    // The glyphs uploaded to a glyph set of the server; null when the server
    // cannot composite them as Xft would.
    static std::unique_ptr<GlyphFont> upload(Wire& wire, const RenderFormats& formats,
                                             const fontcache::CachedGlyphs& glyphs);

    int ascent() const { return ascent_; }
    int descent() const { return descent_; }
    int width(std::u32string_view text) const;
    void draw(Picture target, const XftColor& color, int x, int baseline,
              std::u32string_view text) const;

private:
    struct Entry {
        unsigned int id;
        std::size_t face;
        int advance;
    };
    GlyphFont(Wire& wire, const RenderFormats& formats, GlyphSet set);
    Picture source(const XRenderColor& color) const;

    Wire& wire_;
    int opcode_;
    PictFormat format_;
    GlyphSetHandle set_;
    std::map<char32_t, Entry> entries_;
    int ascent_ = 0;
    int descent_ = 0;
    // A solid source a colour, made when first drawn with.
    mutable std::vector<std::pair<XRenderColor, PictureHandle>> sources_;
};

} // namespace velmora::x11
