#include "display/x11/x11_paint.h"

#include <algorithm>

namespace velmora::x11 {

namespace {

unsigned int extent(int pixels) {
    return static_cast<unsigned int>(std::max(pixels, 0));
}

// A TrueColor channel as XftColorAllocValue packs it.
unsigned long channel(unsigned short value, unsigned long mask) {
    if (mask == 0)
        return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    int length = 0;
    while (length + shift < 64 && ((mask >> (shift + length)) & 1) != 0)
        ++length;
    length = std::min(length, 16);
    return static_cast<unsigned long>(value >> (16 - length)) << shift;
}

// The window's picture, as Xft makes one for drawing: none without RENDER.
Picture windowPicture(Display* display, Window window, const RenderFormats* render) {
    return render == nullptr ? 0
                             : createPicture(display, render->opcode, window, render->window.id);
}

} // namespace

ColorHandle allocateColor(Display* display, Visual* visual, Colormap colormap, unsigned long rgb) {
    XRenderColor value;
    value.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 0x101);
    value.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 0x101);
    value.blue = static_cast<unsigned short>((rgb & 0xFF) * 0x101);
    value.alpha = 0xFFFF;
    unsigned long pixel = 0;
    if (visual->c_class == TrueColor) {
        pixel = channel(value.red, visual->red_mask) | channel(value.green, visual->green_mask) |
                channel(value.blue, visual->blue_mask);
    } else {
        XColor wanted{};
        wanted.red = value.red;
        wanted.green = value.green;
        wanted.blue = value.blue;
        if (XAllocColor(display, colormap, &wanted) == 0)
            return {};
        pixel = wanted.pixel;
    }
    return ColorHandle(new XftColor{pixel, value}, ColorTraits{display, visual, colormap});
}

MeasureText measureWith(const FontSet& fonts) {
    return [&fonts](std::u32string_view text) -> long long { return fonts.width(text); };
}

MenuGeometry measureMenu(FontSet& fonts, const MenuMetrics& metrics,
                         const std::vector<MenuRowText>& rows, const ScreenArea& area) {
    std::u32string text;
    for (const MenuRowText& row : rows)
        text.append(row.left).append(row.right);
    fonts.load(text + MENU_ELLIPSIS);
    const long long textWidth = widestMenuRow(rows, metrics.gap, measureWith(fonts));
    return layoutPixelMenu(metrics, textWidth, fonts.ascent() + fonts.descent(), rows.size(),
                           area.width, area.height);
}

MenuInks::MenuInks(Display* display, Visual* visual, Colormap colormap)
    : background(allocateColor(display, visual, colormap, MENU_COLOR_BACKGROUND)),
      border(allocateColor(display, visual, colormap, MENU_COLOR_BORDER)),
      text(allocateColor(display, visual, colormap, MENU_COLOR_TEXT)),
      highlight(allocateColor(display, visual, colormap, MENU_COLOR_HIGHLIGHT)),
      highlightText(allocateColor(display, visual, colormap, MENU_COLOR_HIGHLIGHT_TEXT)),
      arrowOff(allocateColor(display, visual, colormap, MENU_COLOR_ARROW_OFF)) {}

bool MenuInks::ok() const {
    return background && border && text && highlight && highlightText && arrowOff;
}

MenuPainter::MenuPainter(Display* display, Window window, Visual* visual, Colormap colormap,
                         const RenderFormats* render, const MenuInks& inks, const FontSet& fonts,
                         const MenuMetrics& metrics, const std::vector<MenuRowText>& rows)
    : display_(display), window_(window), inks_(inks), fonts_(fonts), metrics_(metrics),
      rows_(rows), measure_(measureWith(fonts)), renderOpcode_(render ? render->opcode : 0),
      picture_(windowPicture(display, window, render), {display, renderOpcode_}),
      draw_(fonts.drawsWithXft() ? XftDrawCreate(display, window, visual, colormap) : nullptr),
      gc_(XCreateGC(display, window, 0, nullptr), GcTraits{display}) {}

void MenuPainter::fill(const XftColor* ink, int x, int y, unsigned int width, unsigned int height) {
    if (picture_) {
        fillRectangle(display_, renderOpcode_, PictOpSrc, picture_.get(), ink->color, x, y, width,
                      height);
        return;
    }
    XSetForeground(display_, gc_.get(), ink->pixel);
    XFillRectangle(display_, window_, gc_.get(), x, y, width, height);
}

void MenuPainter::paintFrame(const MenuGeometry& geometry) {
    const int width = geometry.frame.width;
    const int height = geometry.frame.height;
    const int b = geometry.border;
    XftColor* ink = inks_.border.get();
    fill(ink, 0, 0, extent(width), extent(b));
    fill(ink, 0, height - b, extent(width), extent(b));
    fill(ink, 0, 0, extent(b), extent(height));
    fill(ink, width - b, 0, extent(b), extent(height));
    fill(inks_.background.get(), b, b, extent(width - 2 * b), extent(height - 2 * b));
}

void MenuPainter::paintAll(const MenuSession& session) {
    const MenuGeometry& geometry = session.geometry();
    paintFrame(geometry);
    if (geometry.scrolls()) {
        paintArrow(session, true);
        paintArrow(session, false);
    }
    const MenuNavigator& navigator = session.navigator();
    const std::size_t first = navigator.firstVisible();
    for (std::size_t i = first; i < first + navigator.visibleRows() && i < rows_.size(); ++i)
        paintRow(session, i);
}

void MenuPainter::paintRow(const MenuSession& session, std::size_t item) {
    const MenuNavigator& navigator = session.navigator();
    const MenuGeometry& geometry = session.geometry();
    const std::size_t first = navigator.firstVisible();
    if (item < first || item >= first + navigator.visibleRows() || item >= rows_.size())
        return;
    const int top = static_cast<int>(geometry.rowTop(item - first));
    const int b = geometry.border;
    const bool lit = item == navigator.highlighted();
    fill(lit ? inks_.highlight.get() : inks_.background.get(), b, top,
         extent(geometry.frame.width - 2 * b), extent(geometry.rowHeight));
    const XftColor* ink = lit ? inks_.highlightText.get() : inks_.text.get();
    const int baseline = top + metrics_.rowPad + fonts_.ascent();
    const int left = b + metrics_.padLeft;
    const int right = geometry.frame.width - b - metrics_.padRight;
    const MenuRowText row = fitMenuRow(rows_[item], right - left, metrics_.gap, measure_);
    fonts_.draw(TextTarget{draw_.get(), picture_.get()}, ink, left, baseline, row.left);
    if (row.mnemonic != std::u32string::npos)
        underline(ink, left, baseline, row);
    if (!row.right.empty())
        fonts_.draw(TextTarget{draw_.get(), picture_.get()}, ink, right - fonts_.width(row.right),
                    baseline, row.right);
}

void MenuPainter::underline(const XftColor* ink, int left, int baseline, const MenuRowText& row) {
    const std::u32string_view text(row.left);
    const int start = fonts_.width(text.substr(0, row.mnemonic));
    const int end = fonts_.width(text.substr(0, row.mnemonic + 1));
    const int below = std::max(1, std::min(fonts_.descent() - metrics_.line, metrics_.underline));
    if (end > start)
        fill(ink, left + start, baseline + below, extent(end - start), extent(metrics_.line));
}

void MenuPainter::paintArrow(const MenuSession& session, bool up) {
    const MenuGeometry& geometry = session.geometry();
    const int height = geometry.arrowHeight;
    const int top =
        up ? geometry.border + geometry.margin : static_cast<int>(geometry.rowsBottom());
    fill(inks_.background.get(), geometry.border, top,
         extent(geometry.frame.width - 2 * geometry.border), extent(height));
    const MenuNavigator& navigator = session.navigator();
    const std::size_t first = navigator.firstVisible();
    const bool canMove = up ? first > 0 : first + navigator.visibleRows() < navigator.itemCount();
    const XftColor* ink = canMove ? inks_.text.get() : inks_.arrowOff.get();
    XSetForeground(display_, gc_.get(), ink->pixel);
    // A triangle pointing the way the rows would move.
    const int half = std::max(2, height / 3);
    const int cx = geometry.frame.width / 2;
    const int cy = top + height / 2;
    const int base = up ? cy + half / 2 : cy - half / 2;
    const int tip = up ? cy - half / 2 - 1 : cy + half / 2 + 1;
    const auto point = [](int x, int y) {
        return XPoint{static_cast<short>(x), static_cast<short>(y)};
    };
    XPoint points[3] = {point(cx - half, base), point(cx + half, base), point(cx, tip)};
    XFillPolygon(display_, window_, gc_.get(), points, 3, Convex, CoordModeOrigin);
}

} // namespace velmora::x11
