// How the X11 menu measures and draws itself: the measures and colours of
// menu/menu_style.h, rows fitted by the shared row rule, text through the
// menu's FontSet.
#pragma once

// The menu's headers before the X ones, whose None macro would rewrite them.
#include "menu/menu_session.h"
#include "menu/menu_style.h"

#include "display/x11/x11_fonts.h"
#include "display/x11/x11_handles.h"
#include "display/x11/x11_screen.h"

#include <cstddef>
#include <vector>

namespace velmora::x11 {

// A text's width in pixels in the menu's fonts.
MeasureText measureWith(const FontSet& fonts);

// The menu's size for `rows` on `area`: the fonts are first loaded with
// faces for every character the rows (and a cut row's ellipsis) hold. The frame lies
// at the origin.
MenuGeometry measureMenu(FontSet& fonts, const MenuMetrics& metrics,
                         const std::vector<MenuRowText>& rows, const ScreenArea& area);

// The menu's colours, allocated on the screen's colormap.
struct MenuInks {
    explicit MenuInks(Wire& wire);
    // False when the server refused one of them.
    bool ok() const;

    ColorHandle background;
    ColorHandle border;
    ColorHandle text;
    ColorHandle highlight;
    ColorHandle highlightText;
    ColorHandle arrowOff;
};

// Draws an open menu into its window, as the session says it stands.
class MenuPainter {
public:
    // `render` is null when the server has no RENDER.
    MenuPainter(Wire& wire, Window window, const RenderFormats* render, const MenuInks& inks,
                const FontSet& fonts, const MenuMetrics& metrics,
                const std::vector<MenuRowText>& rows);
    // False when the drawing surface could not be made.
    bool ok() const {
        return gc_.get() != 0 && (draw_.get() != nullptr || !fonts_.drawsWithXft()) &&
               (picture_.get() != 0 || fonts_.drawsWithXft());
    }

    void paintAll(const MenuSession& session);
    // Item `item`'s row, when it is shown.
    void paintRow(const MenuSession& session, std::size_t item);

private:
    void paintFrame(const MenuGeometry& geometry);
    void paintArrow(const MenuSession& session, bool up);
    void underline(const XftColor* ink, int left, int baseline, const MenuRowText& row);
    // Fills as XftDrawRect would: through XRender where the server has it.
    void fill(const XftColor* ink, int x, int y, unsigned int width, unsigned int height);

    Wire& wire_;
    Window window_;
    const MenuInks& inks_;
    const FontSet& fonts_;
    const MenuMetrics& metrics_;
    const std::vector<MenuRowText>& rows_;
    MeasureText measure_;
    int renderOpcode_;
    PictureHandle picture_; // the window's, where the server has RENDER
    XftDrawHandle draw_;    // for faces Xft opened
    GcHandle gc_;
};

} // namespace velmora::x11
