#include "display/x11/x11_glyphs.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace velmora::x11 {

namespace {

// A glyph's rows as XRender takes them: each padded to four bytes.
void appendPadded(std::string& images, const fontcache::CachedGlyph& glyph) {
    const auto width = static_cast<std::size_t>(glyph.width);
    const std::size_t stride = (width + 3) & ~std::size_t{3};
    for (int row = 0; row < glyph.height; ++row) {
        images.append(glyph.coverage, static_cast<std::size_t>(row) * width, width);
        images.append(stride - width, '\0');
    }
}

XGlyphInfo infoOf(const fontcache::CachedGlyph& glyph) {
    XGlyphInfo info{};
    info.width = static_cast<unsigned short>(glyph.width);
    info.height = static_cast<unsigned short>(glyph.height);
    info.x = static_cast<short>(glyph.x);
    info.y = static_cast<short>(glyph.y);
    info.xOff = static_cast<short>(glyph.advanceX);
    info.yOff = static_cast<short>(glyph.advanceY);
    return info;
}

bool sameColor(const XRenderColor& a, const XRenderColor& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

} // namespace

GlyphFont::GlyphFont(Display* display, const XRenderPictFormat& format, GlyphSet set)
    : display_(display), format_(format), set_(set, {display}) {}

std::unique_ptr<GlyphFont> GlyphFont::upload(Display* display, const RenderFormats& formats,
                                             const fontcache::CachedGlyphs& glyphs) {
    if (!formats.drawsCoverage() || glyphs.glyphs.empty())
        return nullptr;
    std::unique_ptr<GlyphFont> font(new GlyphFont(
        display, formats.coverage, XRenderCreateGlyphSet(display, &formats.coverage)));
    if (!font->set_)
        return nullptr;
    std::vector<Glyph> ids;
    std::vector<XGlyphInfo> infos;
    std::string images;
    for (const fontcache::CachedGlyph& glyph : glyphs.glyphs) {
        const auto id = static_cast<unsigned int>(ids.size());
        ids.push_back(id);
        infos.push_back(infoOf(glyph));
        appendPadded(images, glyph);
        font->entries_.emplace(glyph.character, Entry{id, glyph.face, glyph.advanceX});
    }
    XRenderAddGlyphs(display, font->set_.get(), ids.data(), infos.data(),
                     static_cast<int>(ids.size()), images.data(), static_cast<int>(images.size()));
    font->ascent_ = glyphs.ascent;
    font->descent_ = glyphs.descent;
    return font;
}

int GlyphFont::width(std::u32string_view text) const {
    long long total = 0;
    for (const char32_t c : text) {
        const auto found = entries_.find(c);
        if (found != entries_.end())
            total += found->second.advance;
    }
    return static_cast<int>(std::clamp<long long>(total, 0, std::numeric_limits<int>::max()));
}

Picture GlyphFont::source(const XRenderColor& color) const {
    for (const auto& [value, picture] : sources_) {
        if (sameColor(value, color))
            return picture.get();
    }
    sources_.emplace_back(color,
                          PictureHandle(XRenderCreateSolidFill(display_, &color), {display_}));
    return sources_.back().second.get();
}

void GlyphFont::draw(Picture target, const XftColor& color, int x, int baseline,
                     std::u32string_view text) const {
    const Picture src = source(color.color);
    std::vector<unsigned int> ids;
    std::size_t start = 0;
    // Runs of one face, each one request, as Xft draws a face's run.
    while (start < text.size()) {
        ids.clear();
        long long advance = 0;
        std::size_t face = 0;
        std::size_t end = start;
        for (; end < text.size(); ++end) {
            const auto found = entries_.find(text[end]);
            if (found == entries_.end())
                continue;
            if (!ids.empty() && found->second.face != face)
                break;
            face = found->second.face;
            ids.push_back(found->second.id);
            advance += found->second.advance;
        }
        start = end;
        // X coordinates are 16 bits: text that far right is off every screen.
        if (ids.empty() || x > std::numeric_limits<short>::max())
            return;
        XRenderCompositeString32(display_, PictOpOver, src, target, &format_, set_.get(), 0, 0, x,
                                 baseline, ids.data(), static_cast<int>(ids.size()));
        x = static_cast<int>(std::clamp<long long>(x + advance, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
    }
}

} // namespace velmora::x11
