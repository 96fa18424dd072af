// The fonts of one menu: a sans-serif face at the menu's pixel size, plus the
// fallback faces that fontconfig names for the characters it lacks (so that
// Japanese titles render on a system whose default face is Latin only).
// What fontconfig picked is kept in the user's font cache: a start whose
// fonts, settings and titles are as before opens those faces from their
// files, and fontconfig never reads its configuration.
#pragma once

#include "display/fontcache/font_cache_format.h"
#include "display/x11/x11_handles.h"

#include <string_view>
#include <vector>

namespace velmora::x11 {

class FontSet {
public:
    FontSet(Display* display, int screen, double pixelSize);

    // False when not even the primary face could be opened.
    bool ok() const { return !fonts_.empty(); }

    // Opens the primary face and fallback faces until every printable
    // character of `text` has a face that holds it, as far as the installed
    // fonts allow: those the cache remembers when it still holds, else those
    // fontconfig picks. Once per FontSet.
    void load(std::u32string_view text);

    // Writes fontconfig's picks to the cache when load() had to ask for
    // them; called once the menu is on screen, which need not wait for it.
    void remember();

    // The largest ascent and descent over the faces opened so far.
    int ascent() const;
    int descent() const;

    // The advance width of `text`.
    int width(std::u32string_view text) const;

    // Draws `text` with its baseline at `baseline`, starting at `x`.
    void draw(XftDraw* draw, const XftColor* color, int x, int baseline,
              std::u32string_view text) const;

private:
    // The faces the cache remembers for `needed`; false (and none open)
    // when it does not hold or does not match the faces' files.
    bool openCached(const fontcache::FontCache& cache, std::u32string_view needed);
    bool loadCached(std::u32string_view needed);
    // Today's answer from fontconfig, as the cache would remember it.
    void loadFresh(std::u32string_view needed);
    XftFont* open(const FcChar32* character) const;
    XftFont* faceFor(char32_t character) const;
    // Calls `run(face, characters, count)` for each stretch of one face.
    template <typename Run> void forEachRun(std::u32string_view text, Run&& run) const;

    Display* display_;
    int screen_;
    double pixelSize_;
    std::vector<XftFontHandle> fonts_;
    std::u32string unremembered_; // what load() needed, while not in the cache
};

} // namespace velmora::x11
