#include "display/wayland/wayland_paint.h"

#include <algorithm>
#include <cstdint>

namespace velmora::wayland {

namespace {

pixman_color_t pixmanColor(std::uint32_t rgb) {
    const auto channel = [](std::uint32_t value) {
        return static_cast<std::uint16_t>((value & 0xFF) * 0x101);
    };
    return pixman_color_t{channel(rgb >> 16), channel(rgb >> 8), channel(rgb), 0xFFFF};
}

ImagePtr solidInk(std::uint32_t rgb) {
    const pixman_color_t color = pixmanColor(rgb);
    return ImagePtr(pixman_image_create_solid_fill(&color));
}

// Buffers are at most LARGEST_BUFFER_SIDE on a side, well within pixman's
// 16-bit rectangles.
void fill(pixman_image_t* image, std::uint32_t rgb, long long x, long long y, long long width,
          long long height) {
    if (width <= 0 || height <= 0)
        return;
    const pixman_color_t color = pixmanColor(rgb);
    const pixman_rectangle16_t box{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                   static_cast<std::uint16_t>(width),
                                   static_cast<std::uint16_t>(height)};
    pixman_image_fill_rectangles(PIXMAN_OP_SRC, image, &color, 1, &box);
}

} // namespace

MenuPainter::MenuPainter()
    : inkText_(solidInk(MENU_COLOR_TEXT)), inkHighlightText_(solidInk(MENU_COLOR_HIGHLIGHT_TEXT)) {}

bool MenuPainter::setScale(double scale, std::u32string_view characters) {
    metrics_ = scaledMenuMetrics(scale);
    return font_.open(metrics_.fontPixels, characters) && inkText_ && inkHighlightText_;
}

int MenuPainter::fontHeight() const {
    return font_.ascent() + font_.descent();
}

long long MenuPainter::measure(std::u32string_view text) const {
    long long width = 0;
    for (const char32_t c : text) {
        velmora_glyph glyph{};
        if (font_.glyph(c, &glyph))
            width += glyph.advance;
    }
    return width;
}

void MenuPainter::drawText(pixman_image_t* image, pixman_image_t* ink, long long x, int baseline,
                           std::u32string_view text) const {
    long long pen = x;
    for (const char32_t c : text) {
        velmora_glyph glyph{};
        if (!font_.glyph(c, &glyph))
            continue;
        const auto left = static_cast<std::int32_t>(pen + glyph.x);
        // A colour glyph (emoji) is its own ink; others are a mask over it.
        pixman_image_composite32(PIXMAN_OP_OVER, glyph.color ? glyph.image : ink,
                                 glyph.color ? nullptr : glyph.image, image, 0, 0, 0, 0, left,
                                 baseline - glyph.y, glyph.width, glyph.height);
        pen += glyph.advance;
    }
}

void MenuPainter::paintRow(pixman_image_t* image, const MenuSession& session,
                           const MenuRowText& row, std::size_t item) const {
    const MenuGeometry& g = session.geometry();
    const MenuNavigator& navigator = session.navigator();
    const long long top = g.rowTop(item - navigator.firstVisible());
    const long long inner = static_cast<long long>(g.frame.width) - 2LL * g.border;
    const bool lit = item == navigator.highlighted();
    fill(image, lit ? MENU_COLOR_HIGHLIGHT : MENU_COLOR_BACKGROUND, g.border, top, inner,
         g.rowHeight);
    const auto measured = [this](std::u32string_view text) { return measure(text); };
    const MenuRowText fitted =
        fitMenuRow(row, inner - metrics_.padLeft - metrics_.padRight, metrics_.gap, measured);
    pixman_image_t* ink = lit ? inkHighlightText_.get() : inkText_.get();
    const int baseline = static_cast<int>(top) + metrics_.rowPad + font_.ascent();
    const long long left = g.border + metrics_.padLeft;
    drawText(image, ink, left, baseline, fitted.left);
    if (fitted.mnemonic < fitted.left.size()) {
        const std::u32string_view text(fitted.left);
        const long long start = measure(text.substr(0, fitted.mnemonic));
        const long long end = measure(text.substr(0, fitted.mnemonic + 1));
        const int below =
            std::max(1, std::min(font_.descent() - metrics_.line, metrics_.underline));
        fill(image, lit ? MENU_COLOR_HIGHLIGHT_TEXT : MENU_COLOR_TEXT, left + start,
             baseline + below, end - start, metrics_.line);
    }
    if (!fitted.right.empty()) {
        const long long right = g.border + inner - metrics_.padRight - measure(fitted.right);
        drawText(image, ink, right, baseline, fitted.right);
    }
}

void MenuPainter::paintArrow(pixman_image_t* image, const MenuSession& session, bool up) const {
    const MenuGeometry& g = session.geometry();
    const MenuNavigator& navigator = session.navigator();
    const long long top = up ? g.border + g.margin : g.rowsBottom();
    fill(image, MENU_COLOR_BACKGROUND, g.border, top, g.frame.width - 2LL * g.border,
         g.arrowHeight);
    const std::size_t first = navigator.firstVisible();
    const bool canMove = up ? first > 0 : first + navigator.visibleRows() < navigator.itemCount();
    // A triangle of horizontal lines, widest at its base.
    const int lines = std::max(2, g.arrowHeight / 3);
    const long long cx = g.frame.width / 2;
    const long long cy = top + g.arrowHeight / 2;
    for (int i = 0; i < lines; ++i) {
        const long long y = up ? cy - lines / 2 + i : cy + lines / 2 - i;
        fill(image, canMove ? MENU_COLOR_TEXT : MENU_COLOR_ARROW_OFF, cx - (i + 1), y,
             2LL * (i + 1) + 1, 1);
    }
}

void MenuPainter::paint(pixman_image_t* image, const MenuSession& session,
                        const std::vector<MenuRowText>& rows) const {
    const MenuGeometry& g = session.geometry();
    fill(image, MENU_COLOR_BORDER, 0, 0, g.frame.width, g.frame.height);
    fill(image, MENU_COLOR_BACKGROUND, g.border, g.border, g.frame.width - 2LL * g.border,
         g.frame.height - 2LL * g.border);
    if (g.scrolls()) {
        paintArrow(image, session, true);
        paintArrow(image, session, false);
    }
    const MenuNavigator& navigator = session.navigator();
    const std::size_t first = navigator.firstVisible();
    for (std::size_t i = first; i < first + navigator.visibleRows() && i < rows.size(); ++i)
        paintRow(image, session, rows[i], i);
}

} // namespace velmora::wayland
