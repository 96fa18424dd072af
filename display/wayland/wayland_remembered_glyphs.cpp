#include "display/wayland/wayland_library.h"

#include "display/wayland/wayland_remembered_glyphs.h"

#include <algorithm>
#include <cstdint>

namespace velmora::wayland {

struct RememberedGlyphs::Glyph {
    std::vector<std::uint32_t> pixels; // the image's bits, rows of whole words
    ImagePtr image;
    velmora_glyph glyph{};
};

namespace {

bool inShort(int value) {
    return value >= -32768 && value <= 32767;
}

// The coverage of an A8 image, one byte a pixel, rows unpadded.
std::string coverageOf(const velmora_glyph& glyph) {
    const auto* data = reinterpret_cast<const unsigned char*>(pixman_image_get_data(glyph.image));
    const auto stride = static_cast<std::size_t>(pixman_image_get_stride(glyph.image));
    const auto width = static_cast<std::size_t>(glyph.width);
    std::string out;
    out.reserve(width * static_cast<std::size_t>(glyph.height));
    for (std::size_t row = 0; row < static_cast<std::size_t>(glyph.height); ++row)
        out.append(reinterpret_cast<const char*>(data + row * stride), width);
    return out;
}

std::size_t faceOf(const fontcache::FontCache& cache, char32_t c) {
    for (std::size_t face = 0; face < cache.faces.size(); ++face) {
        if (cache.faces[face].covers.find(c) != std::u32string::npos)
            return face;
    }
    return 0;
}

} // namespace

RememberedGlyphs::RememberedGlyphs() = default;
RememberedGlyphs::~RememberedGlyphs() = default;

std::unique_ptr<RememberedGlyphs> RememberedGlyphs::open(const fontcache::CachedGlyphs& cached) {
    std::unique_ptr<RememberedGlyphs> font(new RememberedGlyphs());
    font->ascent_ = cached.ascent;
    font->descent_ = cached.descent;
    for (const fontcache::CachedGlyph& g : cached.glyphs) {
        auto glyph = std::make_unique<Glyph>();
        const auto width = static_cast<std::size_t>(g.width);
        const std::size_t words = (width + 3) / 4; // a8 rows in whole words, as pixman has them
        glyph->pixels.assign(std::max<std::size_t>(1, words * static_cast<std::size_t>(g.height)),
                             0);
        auto* bytes = reinterpret_cast<unsigned char*>(glyph->pixels.data());
        for (std::size_t row = 0; row < static_cast<std::size_t>(g.height); ++row)
            std::copy_n(g.coverage.data() + row * width, width, bytes + row * words * 4);
        glyph->image = ImagePtr(pixman_image_create_bits(
            PIXMAN_a8, g.width, g.height, glyph->pixels.data(), static_cast<int>(words * 4)));
        if (!glyph->image)
            return nullptr;
        glyph->glyph =
            velmora_glyph{glyph->image.get(), false, -g.x, g.y, g.width, g.height, g.advanceX};
        font->glyphs_.emplace(g.character, std::move(glyph));
    }
    return font;
}

bool RememberedGlyphs::glyph(char32_t c, velmora_glyph* glyph) const {
    const auto found = glyphs_.find(c);
    if (found == glyphs_.end())
        return false;
    *glyph = found->second->glyph;
    return true;
}

std::optional<fontcache::CachedGlyphs>
captureGlyphs(const fontcache::FontCache& cache, std::u32string_view characters, int ascent,
              int descent, const std::function<bool(char32_t, velmora_glyph*)>& draw) {
    fontcache::CachedGlyphs out;
    out.ascent = ascent;
    out.descent = descent;
    if (!inShort(ascent) || !inShort(descent))
        return std::nullopt;
    for (const char32_t c : characters) {
        velmora_glyph glyph{};
        if (!draw(c, &glyph) || glyph.color || glyph.image == nullptr ||
            pixman_image_get_format(glyph.image) != PIXMAN_a8 || glyph.width < 0 ||
            glyph.height < 0 || glyph.width > fontcache::MAX_GLYPH_SIDE ||
            glyph.height > fontcache::MAX_GLYPH_SIDE || !inShort(-glyph.x) || !inShort(glyph.y) ||
            !inShort(glyph.advance))
            return std::nullopt;
        out.glyphs.push_back(fontcache::CachedGlyph{c, faceOf(cache, c), glyph.width, glyph.height,
                                                    -glyph.x, glyph.y, glyph.advance, 0,
                                                    coverageOf(glyph)});
    }
    return out;
}

} // namespace velmora::wayland
