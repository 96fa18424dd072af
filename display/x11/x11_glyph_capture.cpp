#include "display/x11/x11_glyph_capture.h"

#include "display/x11/x11_glyphs.h"

#include <algorithm>
#include <limits>
#include <memory>

namespace velmora::x11 {

namespace {

// Whether Xft composites the face's glyphs as A8 coverage masks: through
// XRender, anti-aliased, neither sub-pixel nor colour (whose masks are ARGB).
// A face opened from the cache's pattern (which Xft may hand out again)
// leaves rendering to Xft, which renders where the server can unless the
// Xft.render resource says otherwise.
bool drawsCoverage(Display* display, const XftFont* font) {
    const FcPattern* pattern = font->pattern;
    FcBool render = FcFalse;
    FcBool antialias = FcTrue;
    FcBool color = FcFalse;
    int rgba = FC_RGBA_UNKNOWN;
    const FcResult rendering = FcPatternGetBool(pattern, XFT_RENDER, 0, &render);
    if (rendering == FcResultMatch ? !render : XGetDefault(display, "Xft", "render") != nullptr)
        return false;
    FcPatternGetBool(pattern, FC_ANTIALIAS, 0, &antialias);
    FcPatternGetBool(pattern, FC_COLOR, 0, &color);
    FcPatternGetInteger(pattern, FC_RGBA, 0, &rgba);
    const bool subpixel = rgba >= FC_RGBA_RGB && rgba <= FC_RGBA_VBGR;
    return antialias && !subpixel && !color;
}

struct Placed {
    fontcache::CachedGlyph glyph;
    FT_UInt index = 0;
    int left = 0; // where the glyph's box lies in the strip
};

struct ImageDeleter {
    void operator()(XImage* image) const { XDestroyImage(image); }
};

// Draws every glyph into a strip of A8 coverage, boxes side by side, and
// reads it back: the coverage Xft composites with.
bool readBack(Display* display, const std::vector<XftFont*>& faces, std::vector<Placed>& placed,
              int width, int height) {
    const Window root = RootWindow(display, DefaultScreen(display));
    PixmapHandle pixmap(XCreatePixmap(display, root, static_cast<unsigned int>(width),
                                      static_cast<unsigned int>(height), 8),
                        {display});
    XftDrawHandle draw(XftDrawCreateAlpha(display, pixmap.get(), 8));
    if (!pixmap || !draw)
        return false;
    XftColor clear{};
    XftColor white{};
    white.color = XRenderColor{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    XftDrawRect(draw.get(), &clear, 0, 0, static_cast<unsigned int>(width),
                static_cast<unsigned int>(height));
    for (const Placed& p : placed)
        XftDrawGlyphs(draw.get(), &white, faces[p.glyph.face], p.left + p.glyph.x, p.glyph.y,
                      &p.index, 1);
    const std::unique_ptr<XImage, ImageDeleter> image(
        XGetImage(display, pixmap.get(), 0, 0, static_cast<unsigned int>(width),
                  static_cast<unsigned int>(height), AllPlanes, ZPixmap));
    if (!image)
        return false;
    const bool bytes = image->bits_per_pixel == 8;
    for (Placed& p : placed) {
        for (int row = 0; bytes && row < p.glyph.height; ++row) {
            const char* from =
                image->data + static_cast<std::ptrdiff_t>(row) * image->bytes_per_line + p.left;
            p.glyph.coverage.append(from, static_cast<std::size_t>(p.glyph.width));
        }
    }
    return bytes;
}

} // namespace

std::optional<fontcache::CachedGlyphs>
captureGlyphs(Display* display, const RenderFormats& formats, const std::vector<XftFont*>& faces,
              std::u32string_view characters, const std::function<std::size_t(char32_t)>& faceOf) {
    if (faces.empty() || !formats.drawsCoverage() ||
        !std::all_of(faces.begin(), faces.end(),
                     [display](const XftFont* face) { return drawsCoverage(display, face); }))
        return std::nullopt;
    fontcache::CachedGlyphs glyphs;
    std::vector<Placed> placed;
    int width = 0;
    int height = 0;
    for (const char32_t c : characters) {
        Placed p;
        p.glyph.character = c;
        p.glyph.face = faceOf(c);
        XftFont* face = faces[p.glyph.face];
        p.index = XftCharIndex(display, face, c);
        XGlyphInfo info{};
        XftGlyphExtents(display, face, &p.index, 1, &info);
        p.glyph.width = info.width;
        p.glyph.height = info.height;
        p.glyph.x = info.x;
        p.glyph.y = info.y;
        p.glyph.advanceX = info.xOff;
        p.glyph.advanceY = info.yOff;
        if (p.glyph.width > fontcache::MAX_GLYPH_SIDE || p.glyph.height > fontcache::MAX_GLYPH_SIDE)
            return std::nullopt;
        p.left = width;
        width += p.glyph.width;
        height = std::max(height, p.glyph.height);
        if (width > std::numeric_limits<short>::max())
            return std::nullopt;
        placed.push_back(std::move(p));
    }
    if (width > 0 && height > 0 && !readBack(display, faces, placed, width, height))
        return std::nullopt;
    for (Placed& p : placed)
        glyphs.glyphs.push_back(std::move(p.glyph));
    return glyphs;
}

} // namespace velmora::x11
