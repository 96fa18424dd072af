// Painting the menu with pixman and the menu's font (wayland_menu_font): the frame, the rows as the
// session shows them (each fitted to the menu's width), and the scroll arrows, in buffer pixels at
// one scale.
#pragma once

#include "display/wayland/wayland_handles.h"
#include "display/wayland/wayland_menu_font.h"
#include "menu/menu_session.h"
#include "menu/menu_style.h"

#include <string_view>
#include <vector>

namespace velmora::wayland {

class MenuPainter {
public:
    MenuPainter();
    // The font and measures for `scale` device pixels to the logical pixel,
    // for a menu that draws the characters of `characters` (menuCharacters);
    // false without a font.
    bool setScale(double scale, std::u32string_view characters);
    // Once the menu is on screen: keeps what the next start needs to draw
    // the same font without fontconfig.
    void remember() { font_.remember(); }
    const MenuMetrics& metrics() const { return metrics_; }
    // Ascent and descent.
    int fontHeight() const;
    long long measure(std::u32string_view text) const;

    // The whole menu into `image`, as large as the geometry's frame.
    void paint(pixman_image_t* image, const MenuSession& session,
               const std::vector<MenuRowText>& rows) const;

private:
    void paintRow(pixman_image_t* image, const MenuSession& session, const MenuRowText& row,
                  std::size_t item) const;
    void paintArrow(pixman_image_t* image, const MenuSession& session, bool up) const;
    void drawText(pixman_image_t* image, pixman_image_t* ink, long long x, int baseline,
                  std::u32string_view text) const;

    MenuFont font_;
    ImagePtr inkText_;
    ImagePtr inkHighlightText_;
    MenuMetrics metrics_;
};

} // namespace velmora::wayland
