// The fonts of one menu: a sans-serif face at the menu's pixel size, plus the
// fallback faces that fontconfig names for the characters it lacks (so that
// Japanese titles render on a system whose default face is Latin only).
#pragma once

#include "display/x11/x11_handles.h"

#include <set>
#include <string_view>
#include <vector>

namespace velmora::x11 {

class FontSet {
public:
    FontSet(Display* display, int screen, double pixelSize);

    // False when not even the primary face could be opened.
    bool ok() const { return !fonts_.empty(); }

    // Opens fallback faces until every printable character of `text` has a
    // face that holds it, as far as the installed fonts allow.
    void cover(std::u32string_view text);

    // The largest ascent and descent over the faces opened so far.
    int ascent() const;
    int descent() const;

    // The advance width of `text`.
    int width(std::u32string_view text) const;

    // Draws `text` with its baseline at `baseline`, starting at `x`.
    void draw(XftDraw* draw, const XftColor* color, int x, int baseline,
              std::u32string_view text) const;

private:
    XftFont* open(const FcChar32* character) const;
    XftFont* faceFor(char32_t character) const;
    // Calls `run(face, characters, count)` for each stretch of one face.
    template <typename Run> void forEachRun(std::u32string_view text, Run&& run) const;

    Display* display_;
    int screen_;
    double pixelSize_;
    std::vector<XftFontHandle> fonts_;
    std::set<char32_t> uncovered_;
};

} // namespace velmora::x11
