// The fonts of one menu: a sans-serif face at the menu's pixel size, plus the
// fallback faces that fontconfig names for the characters it lacks (so that
// Japanese titles render on a system whose default face is Latin only).
#pragma once

#include "display/x11/x11_handles.h"

#include <cstddef>
#include <set>
#include <vector>

namespace velmora::x11 {

using FontText = std::vector<FcChar32>;

class FontSet {
public:
    FontSet(Display* display, int screen, double pixelSize);

    // False when not even the primary face could be opened.
    bool ok() const { return !fonts_.empty(); }

    // Opens fallback faces until every printable character of `text` has a
    // face that holds it, as far as the installed fonts allow.
    void cover(const FontText& text);

    // The largest ascent and descent over the faces opened so far.
    int ascent() const;
    int descent() const;

    // The advance width of `text`, or of its first `count` characters.
    int width(const FontText& text, std::size_t count) const;
    int width(const FontText& text) const { return width(text, text.size()); }

    // Draws `text` with its baseline at `baseline`, starting at `x`.
    void draw(XftDraw* draw, const XftColor* color, int x, int baseline,
              const FontText& text) const;

private:
    XftFont* open(const FcChar32* character) const;
    XftFont* faceFor(FcChar32 character) const;
    // Calls `run(face, characters, count)` for each stretch of one face.
    template <typename Run>
    void forEachRun(const FontText& text, std::size_t count, Run&& run) const;

    Display* display_;
    int screen_;
    double pixelSize_;
    std::vector<XftFontHandle> fonts_;
    std::set<FcChar32> uncovered_;
};

} // namespace velmora::x11
