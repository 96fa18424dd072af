// What a menu remembers of fontconfig's answer between two starts, so that a
// start whose fonts, settings and titles are unchanged can open its faces
// straight from their files: the faces with the pattern elements their
// drawing library reads, the characters of the titles each face draws, and
// the key that says whether the answer still holds; and, when the glyphs
// fit, the titles' glyphs as they were drawn, so that a start can draw them
// without opening a face at all. The text form and the
// key rules are here, free of files and of fontconfig; font_cache_file.h
// reads, writes and stats.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::fontcache {

// A cache file larger than this is not one of ours.
constexpr std::size_t MAX_CACHE_BYTES = 64 * 1024;

// One file or folder of the key as stat saw it; `present` false when there
// was nothing at `path` (a user configuration file not yet made).
struct FileStamp {
    std::string path;
    bool present = false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    unsigned long long size = 0;
    long long modified = 0; // nanoseconds
    long long changed = 0;  // nanoseconds
    bool operator==(const FileStamp& other) const;
};

// Everything that can change which faces are picked and how they draw.
struct CacheKey {
    std::vector<std::pair<std::string, std::string>> settings; // name, value
    std::vector<FileStamp> files;
};

// One value of a pattern element, by fontconfig's value types: 'i' integer,
// 'd' double, 'b' bool, 's' string, 'm' matrix (four doubles, xx xy yx yy).
struct ElementValue {
    char type = 'i';
    std::string text;
    bool operator==(const ElementValue& other) const {
        return type == other.type && text == other.text;
    }
};

struct PatternElement {
    std::string object;
    ElementValue value;
    bool operator==(const PatternElement& other) const {
        return object == other.object && value == other.value;
    }
};

struct CachedFace {
    std::vector<PatternElement> elements;
    std::u32string covers; // the titles' characters this face draws
    // The face's file: the value of its "file" element, empty when none.
    std::string file() const;
};

// One character as the drawing library drew it (Xft for the X11 menu, fcft
// for the Wayland menu, each at the pixel size its key names): the placement
// and advance of its glyph (as XRender's XGlyphInfo holds them) and its A8
// coverage, one byte a pixel, rows unpadded.
struct CachedGlyph {
    char32_t character = 0;
    std::size_t face = 0; // the face that draws it, by index into the faces
    int width = 0;
    int height = 0;
    int x = 0; // from the glyph's origin to its top-left pixel, negated
    int y = 0;
    int advanceX = 0;
    int advanceY = 0;
    std::string coverage;
    bool operator==(const CachedGlyph& other) const;
};

// The largest glyph side a cache holds.
constexpr int MAX_GLYPH_SIDE = 1024;

struct CachedGlyphs {
    int ascent = 0;  // the font's as the menu measures it: Xft's largest over
    int descent = 0; // the faces, fcft's primary face's
    std::vector<CachedGlyph> glyphs;
};

struct FontCache {
    CacheKey key;
    std::vector<CachedFace> faces;
    std::u32string uncovered; // the titles' characters no face holds
    std::optional<CachedGlyphs> glyphs;
};

std::string serialise(const FontCache& cache);

// The shortest decimal text that reads back as `value`, and its reading:
// the whole of `text`, in the C locale's notation (the launcher never sets
// another).
std::string decimalText(double value);
bool readDecimal(std::string_view text, double& value);

// The cache `text` holds, or nothing when it is not whole, not of this
// version, or names a face whose file the key does not stamp.
std::optional<FontCache> parse(std::string_view text);

// Whether `stored` still holds for `settings`, every file of its key
// stamping as it did (through `stamp`).
bool keyHolds(const CacheKey& stored,
              const std::vector<std::pair<std::string, std::string>>& settings,
              const std::function<FileStamp(const std::string&)>& stamp);

// Whether the cache accounts for every character of `needed`: drawn by a
// face or known to be held by none.
bool accountsFor(const FontCache& cache, std::u32string_view needed);

// The glyph the cache holds for `c`, or null.
const CachedGlyph* glyphOf(const CachedGlyphs& glyphs, char32_t c);

// Whether the cache's glyphs draw every character of `text`, and draw each
// of `needed` (the printable ones) with the face the faces' covers give it:
// the first that covers it, the first of all when none does.
bool glyphsDraw(const FontCache& cache, std::u32string_view text, std::u32string_view needed);

} // namespace velmora::fontcache
