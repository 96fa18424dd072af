// The fonts of one menu: a sans-serif face at the menu's pixel size, plus the
// fallback faces that fontconfig names for the characters it lacks (so that
// Japanese titles render on a system whose default face is Latin only).
// What fontconfig picked is kept in the user's font cache, with the glyphs
// Xft drew for the titles when they fit: a start whose fonts, settings and
// titles are as before draws those glyphs (x11_glyphs.h) without loading
// Xft, fontconfig or FreeType, or else opens the remembered faces from their
// files, and fontconfig never reads its configuration.
#pragma once

#include "display/fontcache/font_cache_format.h"
#include "display/x11/x11_font_cache.h"
#include "display/x11/x11_glyphs.h"
#include "display/x11/x11_handles.h"

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace velmora::x11 {

class FontSet {
public:
    // `render` (null when the server has no RENDER) outlives the set, and
    // so do `wire`, whose display Xft opens faces on, and `resources`.
    FontSet(Wire& wire, const ServerResources& resources, double pixelSize,
            const RenderFormats* render);

    // Whether the font cache holds glyphs, whether or not they still hold.
    // The file read is kept for the next read of the cache.
    static bool glyphsRemembered();
    // Reads and parses the font cache and checks its files' stamps ahead,
    // while the connection to the server is being opened, so that the work
    // and the server's answers overlap; the first set to load text takes
    // what was read (its files' stamps then need no second look), and
    // forgetReadAhead() drops it, and the file kept, when no display came.
    static void readAhead();
    static void forgetReadAhead();
    // The Xft.dpi the cache read ahead was written with, when its files
    // hold and the server's resources are still `resourceText`.
    static std::optional<std::optional<std::string>> rememberedDpi(const std::string& resourceText);

    // False when not even the primary face could be opened.
    bool ok() const { return glyphs_ != nullptr || !fonts_.empty(); }
    // Whether the text is drawn through Xft (else as remembered glyphs).
    bool drawsWithXft() const { return glyphs_ == nullptr; }

    // Opens the primary face and fallback faces until every printable
    // character of `text` has a face that holds it, as far as the installed
    // fonts allow: those the cache remembers when it still holds, else those
    // fontconfig picks; or none, when the cache's glyphs draw every
    // character of `text`. Once per FontSet.
    void load(std::u32string_view text);

    // Writes fontconfig's picks, and the glyphs Xft drew, to the cache when
    // load() had to ask for them; called once the menu is on screen, which
    // need not wait for it.
    void remember();

    // The largest ascent and descent over the faces opened so far.
    int ascent() const;
    int descent() const;

    // The advance width of `text`.
    int width(std::u32string_view text) const;

    // Draws `text` with its baseline at `baseline`, starting at `x`.
    void draw(const TextTarget& target, const XftColor* color, int x, int baseline,
              std::u32string_view text) const;

private:
    // The faces the cache remembers for `needed`; false (and none open)
    // when it does not hold or does not match the faces' files.
    bool openCached(const fontcache::FontCache& cache, std::u32string_view needed);
    bool loadCached(std::u32string_view needed);
    // The cache's glyphs, when they draw all of `text` and the key holds.
    bool loadGlyphs(std::u32string_view text, std::u32string_view needed);
    std::optional<fontcache::CachedGlyphs> captured() const;
    // Today's answer from fontconfig, as the cache would remember it.
    void loadFresh(std::u32string_view needed);
    XftFont* open(const FcChar32* character) const;
    XftFont* faceFor(char32_t character) const;
    // Calls `run(face, characters, count)` for each stretch of one face.
    template <typename Run> void forEachRun(std::u32string_view text, Run&& run) const;

    Wire& wire_;
    Display* display_; // null where the wire has none: remembered glyphs alone
    const ServerResources& resources_;
    const RenderFormats* render_;
    int screen_;
    double pixelSize_;
    std::vector<XftFontHandle> fonts_;
    std::u32string unremembered_; // what load() needed, while not in the cache
    std::u32string characters_;   // every character of load()'s text, once
    std::unique_ptr<GlyphFont> glyphs_;
};

} // namespace velmora::x11
