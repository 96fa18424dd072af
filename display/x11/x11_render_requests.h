// RENDER's requests that draw the menu, sent through Xlib's request
// interface as libXrender sends them, so that a start whose glyphs are
// remembered loads libX11 alone: loading libXrender took as long as a round
// trip, before the connection could start.
#pragma once

#include "display/x11/x11_wire.h"

#include <X11/extensions/render.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace velmora::x11 {

// Each request names RENDER by its major opcode, as the server answered it.
Picture createPicture(Wire& wire, int opcode, Drawable drawable, PictFormat format);
Picture createSolidFill(Wire& wire, int opcode, const XRenderColor& color);
void fillRectangle(Wire& wire, int opcode, int op, Picture target, const XRenderColor& color, int x,
                   int y, unsigned int width, unsigned int height);
GlyphSet createGlyphSet(Wire& wire, int opcode, PictFormat format);
// Frees a picture or a glyph set (`request`: X_RenderFreePicture or
// X_RenderFreeGlyphSet, whose requests are alike).
void freeRenderResource(Wire& wire, int opcode, int request, XID resource);

// One glyph to upload: its id, metrics and A8 rows, each row padded to four
// bytes.
struct GlyphUpload {
    unsigned int id;
    XGlyphInfo info;
    std::string_view image;
};

// Uploads the glyphs in as few requests as the server's request size
// allows; false when one glyph alone is larger than that.
bool addGlyphs(Wire& wire, int opcode, GlyphSet set, const std::vector<GlyphUpload>& glyphs);

// The most glyphs one compositeGlyphs call draws: one element of a
// CompositeGlyphs32 request, as libXrender fills them.
constexpr std::size_t MOST_COMPOSITED_GLYPHS = 254;

// Composites up to MOST_COMPOSITED_GLYPHS glyphs of `set` from (x, y) on,
// through `mask`, as XRenderCompositeString32 does.
void compositeGlyphs(Wire& wire, int opcode, Picture source, Picture target, PictFormat mask,
                     GlyphSet set, int x, int y, const std::vector<unsigned int>& ids);

} // namespace velmora::x11
