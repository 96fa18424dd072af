#include "display/x11/x11_glyphs.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace velmora::x11 {

namespace {

// A glyph's rows as XRender takes them: each padded to four bytes.
std::string paddedRows(const fontcache::CachedGlyph& glyph) {
    const auto width = static_cast<std::size_t>(glyph.width);
    const std::size_t stride = (width + 3) & ~std::size_t{3};
    std::string rows;
    for (int row = 0; row < glyph.height; ++row) {
        rows.append(glyph.coverage, static_cast<std::size_t>(row) * width, width);
        rows.append(stride - width, '\0');
    }
    return rows;
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

GlyphFont::GlyphFont(Wire& wire, const RenderFormats& formats, GlyphSet set)
    : wire_(wire), opcode_(formats.opcode), format_(formats.coverage.id),
      set_(set, {&wire, formats.opcode}) {}

std::unique_ptr<GlyphFont> GlyphFont::upload(Wire& wire, const RenderFormats& formats,
                                             const fontcache::CachedGlyphs& glyphs) {
    if (!formats.drawsCoverage() || glyphs.glyphs.empty())
        return nullptr;
    std::unique_ptr<GlyphFont> font(
        new GlyphFont(wire, formats, createGlyphSet(wire, formats.opcode, formats.coverage.id)));
    if (!font->set_)
        return nullptr;
    std::vector<std::string> images;
    images.reserve(glyphs.glyphs.size());
    std::vector<GlyphUpload> uploads;
    for (const fontcache::CachedGlyph& glyph : glyphs.glyphs) {
        const auto id = static_cast<unsigned int>(uploads.size());
        images.push_back(paddedRows(glyph));
        uploads.push_back(GlyphUpload{id, infoOf(glyph), images.back()});
        font->entries_.emplace(glyph.character, Entry{id, glyph.face, glyph.advanceX});
    }
    if (!addGlyphs(wire, formats.opcode, font->set_.get(), uploads))
        return nullptr;
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
                          PictureHandle(createSolidFill(wire_, opcode_, color), {&wire_, opcode_}));
    return sources_.back().second.get();
}

void GlyphFont::draw(Picture target, const XftColor& color, int x, int baseline,
                     std::u32string_view text) const {
    const Picture src = source(color.color);
    std::vector<unsigned int> ids;
    std::size_t start = 0;
    // Runs of one face, each one request, as Xft draws a face's run (a long
    // run in several).
    while (start < text.size()) {
        ids.clear();
        long long advance = 0;
        std::size_t face = 0;
        std::size_t end = start;
        for (; end < text.size(); ++end) {
            const auto found = entries_.find(text[end]);
            if (found == entries_.end())
                continue;
            if (!ids.empty() &&
                (found->second.face != face || ids.size() == MOST_COMPOSITED_GLYPHS))
                break;
            face = found->second.face;
            ids.push_back(found->second.id);
            advance += found->second.advance;
        }
        start = end;
        // X coordinates are 16 bits: text that far right is off every screen.
        if (ids.empty() || x > std::numeric_limits<short>::max())
            return;
        compositeGlyphs(wire_, opcode_, src, target, format_, set_.get(), x, baseline, ids);
        x = static_cast<int>(std::clamp<long long>(x + advance, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
    }
}

} // namespace velmora::x11
