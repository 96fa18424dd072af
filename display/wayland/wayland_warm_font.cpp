#include "display/wayland/wayland_warm_font.h"

#include "display/fontcache/fontconfig_answer.h"
#include "platform/logical_pixels.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace velmora::wayland {

using fontcache::CachedFace;
using fontcache::ElementValue;

struct WarmFont::Face {
    FT_Face face = nullptr;
    FT_Int32 loadFlags = 0;
    bool embolden = false;
    std::u32string covers;
    ~Face() {
        if (face != nullptr)
            FT_Done_Face(face);
    }
};

struct WarmFont::Glyph {
    std::vector<std::uint32_t> pixels; // the image's bits, rows of whole words
    ImagePtr image;
    velmora_glyph glyph{};
};

namespace {

// One element of a cached pattern, read as fontconfig's getter of its type
// reads the first value: absent is `fallback`; a value of another type than
// fcft asks for is no answer at all.
struct Elements {
    const CachedFace& face;

    const ElementValue* first(std::string_view object) const {
        for (const fontcache::PatternElement& element : face.elements) {
            if (element.object == object)
                return &element.value;
        }
        return nullptr;
    }
    bool boolean(const char* object, bool fallback, bool& ok) const {
        const ElementValue* value = first(object);
        if (value == nullptr)
            return fallback;
        ok = ok && value->type == 'b' && (value->text == "0" || value->text == "1");
        return value->text == "1";
    }
    int integer(const char* object, int fallback, bool& ok) const {
        const ElementValue* value = first(object);
        if (value == nullptr)
            return fallback;
        int result = fallback;
        const char* end = value->text.data() + value->text.size();
        const auto read = std::from_chars(value->text.data(), end, result);
        ok = ok && value->type == 'i' && read.ec == std::errc() && read.ptr == end;
        return result;
    }
};

// fcft's load flags for a face by its pattern's hinting, antialiasing and
// sub-pixel order.
FT_Int32 loadFlags(const Elements& e, bool outline, bool& ok) {
    const bool hinting = e.boolean(FC_HINTING, true, ok);
    const bool antialias = e.boolean(FC_ANTIALIAS, true, ok);
    const int style = e.integer(FC_HINT_STYLE, FC_HINT_SLIGHT, ok);
    const int rgba = e.integer(FC_RGBA, FC_RGBA_UNKNOWN, ok);
    FT_Int32 flags = FT_LOAD_DEFAULT;
    FT_Int32 target = FT_LOAD_TARGET_NORMAL;
    if (!hinting || style == FC_HINT_NONE)
        flags |= FT_LOAD_NO_HINTING;
    else if (!antialias)
        target = FT_LOAD_TARGET_MONO;
    else if (style == FC_HINT_SLIGHT)
        target = FT_LOAD_TARGET_LIGHT;
    else if (style != FC_HINT_MEDIUM && (rgba == FC_RGBA_RGB || rgba == FC_RGBA_BGR))
        target = FT_LOAD_TARGET_LCD;
    else if (style != FC_HINT_MEDIUM && (rgba == FC_RGBA_VRGB || rgba == FC_RGBA_VBGR))
        target = FT_LOAD_TARGET_LCD_V;
    // Monochrome glyphs are a1 images, which the warm path does not make.
    ok = ok && antialias;
    if (!e.boolean(FC_EMBEDDED_BITMAP, true, ok) && outline)
        flags |= FT_LOAD_NO_BITMAP;
    if (e.boolean(FC_AUTOHINT, false, ok))
        flags |= FT_LOAD_FORCE_AUTOHINT;
    return target | flags | FT_LOAD_COLOR;
}

bool readMatrix(const ElementValue& value, FT_Matrix& matrix) {
    double parts[4] = {};
    std::size_t start = 0;
    for (double& part : parts) {
        const std::size_t comma = std::min(value.text.find(',', start), value.text.size());
        if (start > value.text.size() ||
            !fontcache::readDecimal(std::string_view(value.text).substr(start, comma - start),
                                    part))
            return false;
        start = comma + 1;
    }
    matrix = {static_cast<FT_Fixed>(parts[0] * 0x10000), static_cast<FT_Fixed>(parts[1] * 0x10000),
              static_cast<FT_Fixed>(parts[2] * 0x10000), static_cast<FT_Fixed>(parts[3] * 0x10000)};
    return value.type == 'm';
}

} // namespace

WarmFont::WarmFont() = default;

WarmFont::~WarmFont() {
    glyphs_.clear();
    faces_.clear();
    if (library_ != nullptr)
        FT_Done_FreeType(library_);
}

std::unique_ptr<WarmFont> WarmFont::open(const fontcache::FontCache& cache,
                                         std::u32string_view needed) {
    std::unique_ptr<WarmFont> font(new WarmFont());
    if (cache.faces.empty() || !fontcache::accountsFor(cache, needed) ||
        FT_Init_FreeType(&font->library_) != 0) {
        font->library_ = nullptr;
        return nullptr;
    }
    for (const CachedFace& face : cache.faces) {
        if (!font->openFace(face))
            return nullptr;
    }
    const FT_Size_Metrics& metrics = font->faces_.front()->face->size->metrics;
    font->ascent_ = static_cast<int>(std::ceil(static_cast<double>(metrics.ascender) / 64.));
    font->descent_ = static_cast<int>(std::ceil(static_cast<double>(-metrics.descender) / 64.));
    for (const char32_t c : needed) {
        const Face* holder = font->faces_.front().get();
        for (const auto& face : font->faces_) {
            if (face->covers.find(c) != std::u32string::npos) {
                holder = face.get();
                break;
            }
        }
        if (font->glyphs_.count(c) == 0 && !font->draw(*holder, c))
            return nullptr;
    }
    return font;
}

bool WarmFont::openFace(const CachedFace& cached) {
    const Elements e{cached};
    bool ok = true;
    const ElementValue* size = e.first(FC_PIXEL_SIZE);
    double pixels = 0;
    if (cached.file().empty() || size == nullptr || size->type != 'd' ||
        !fontcache::readDecimal(size->text, pixels) || !(pixels > 0 && pixels < 4096) ||
        e.first(FC_FT_FACE) != nullptr || e.first(FC_FONT_FEATURES) != nullptr ||
        e.first("pixelsizefixupfactor") != nullptr)
        return false;
    const bool outline = e.boolean(FC_OUTLINE, true, ok);
    // A scalable bitmap face (colour emoji) is drawn scaled by fcft.
    if (e.boolean(FC_SCALABLE, true, ok) && !outline)
        return false;
    auto face = std::make_unique<Face>();
    face->loadFlags = loadFlags(e, outline, ok);
    face->embolden = e.boolean(FC_EMBOLDEN, false, ok);
    face->covers = cached.covers;
    if (!ok || FT_New_Face(library_, cached.file().c_str(), e.integer(FC_INDEX, 0, ok),
                           &face->face) != 0) {
        face->face = nullptr;
        return false;
    }
    if (!ok || FT_Set_Pixel_Sizes(face->face, 0, static_cast<FT_UInt>(roundedPixels(pixels))) != 0)
        return false;
    if (const ElementValue* value = e.first(FC_MATRIX)) {
        FT_Matrix matrix{};
        if (!readMatrix(*value, matrix))
            return false;
        FT_Set_Transform(face->face, &matrix, nullptr);
    }
    faces_.push_back(std::move(face));
    return true;
}

bool WarmFont::draw(const Face& face, char32_t c) {
    const FT_GlyphSlot slot = face.face->glyph;
    if (FT_Load_Glyph(face.face, FT_Get_Char_Index(face.face, c), face.loadFlags) != 0)
        return false;
    if (face.embolden && slot->format == FT_GLYPH_FORMAT_OUTLINE)
        FT_GlyphSlot_Embolden(slot);
    if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0)
        return false;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (slot->format != FT_GLYPH_FORMAT_BITMAP || bitmap.pixel_mode != FT_PIXEL_MODE_GRAY ||
        bitmap.width > 4096 || bitmap.rows > 4096)
        return false;
    auto glyph = std::make_unique<Glyph>();
    const int width = static_cast<int>(bitmap.width);
    const int height = static_cast<int>(bitmap.rows);
    const std::size_t words = (bitmap.width + 3) / 4; // a8 rows in whole words, as pixman has them
    glyph->pixels.assign(std::max<std::size_t>(1, words * bitmap.rows), 0);
    auto* bytes = reinterpret_cast<unsigned char*>(glyph->pixels.data());
    for (unsigned int row = 0; row < bitmap.rows; ++row) {
        const unsigned char* source = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
        std::copy(source, source + bitmap.width, bytes + row * words * 4);
    }
    glyph->image = ImagePtr(pixman_image_create_bits(PIXMAN_a8, width, height, glyph->pixels.data(),
                                                     static_cast<int>(words * 4)));
    if (!glyph->image)
        return false;
    // fcft's advance is the slot's in whole pixels, cut toward zero.
    glyph->glyph = velmora_glyph{glyph->image.get(),
                                 false,
                                 slot->bitmap_left,
                                 slot->bitmap_top,
                                 width,
                                 height,
                                 static_cast<int>(slot->advance.x / 64)};
    glyphs_.emplace(c, std::move(glyph));
    return true;
}

bool WarmFont::glyph(char32_t c, velmora_glyph* glyph) const {
    const auto found = glyphs_.find(c);
    if (found == glyphs_.end())
        return false;
    *glyph = found->second->glyph;
    return true;
}

} // namespace velmora::wayland
