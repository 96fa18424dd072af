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
Picture windowPicture(Wire& wire, Window window, const RenderFormats* render) {
    return render == nullptr ? 0 : createPicture(wire, render->opcode, window, render->window.id);
}

// An Xft drawing surface on the window, for faces Xft opened.
XftDraw* xftDraw(Wire& wire, Window window) {
    Display* display = wire.xlib();
    if (display == nullptr)
        return nullptr;
    const int screen = wire.screen().number;
    return XftDrawCreate(display, window, DefaultVisual(display, screen),
                         DefaultColormap(display, screen));
}

} // namespace

ColorHandle allocateColor(Wire& wire, unsigned long rgb) {
    XRenderColor value;
    value.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 0x101);
    value.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 0x101);
    value.blue = static_cast<unsigned short>((rgb & 0xFF) * 0x101);
    value.alpha = 0xFFFF;
    const WireScreen& screen = wire.screen();
    unsigned long pixel = 0;
    if (screen.visualClass == TrueColor) {
        pixel = channel(value.red, screen.redMask) | channel(value.green, screen.greenMask) |
                channel(value.blue, screen.blueMask);
    } else {
        const std::optional<unsigned long> allocated =
            allocColor(wire, screen.colormap, value.red, value.green, value.blue);
        if (!allocated)
            return {};
        pixel = *allocated;
    }
    return ColorHandle(new XftColor{pixel, value}, ColorTraits{&wire});
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

MenuInks::MenuInks(Wire& wire)
    : background(allocateColor(wire, MENU_COLOR_BACKGROUND)),
      border(allocateColor(wire, MENU_COLOR_BORDER)), text(allocateColor(wire, MENU_COLOR_TEXT)),
      highlight(allocateColor(wire, MENU_COLOR_HIGHLIGHT)),
      highlightText(allocateColor(wire, MENU_COLOR_HIGHLIGHT_TEXT)),
      arrowOff(allocateColor(wire, MENU_COLOR_ARROW_OFF)) {}

bool MenuInks::ok() const {
    return background && border && text && highlight && highlightText && arrowOff;
}

MenuPainter::MenuPainter(Wire& wire, Window window, const RenderFormats* render,
                         const MenuInks& inks, const FontSet& fonts, const MenuMetrics& metrics,
                         const std::vector<MenuRowText>& rows)
    : wire_(wire), window_(window), inks_(inks), fonts_(fonts), metrics_(metrics), rows_(rows),
      measure_(measureWith(fonts)), renderOpcode_(render ? render->opcode : 0),
      picture_(windowPicture(wire, window, render), {&wire, renderOpcode_}),
      draw_(fonts.drawsWithXft() ? xftDraw(wire, window) : nullptr),
      gc_(createGc(wire, window), GcTraits{&wire}) {}

void MenuPainter::fill(const XftColor* ink, int x, int y, unsigned int width, unsigned int height) {
    if (picture_) {
        fillRectangle(wire_, renderOpcode_, PictOpSrc, picture_.get(), ink->color, x, y, width,
                      height);
        return;
    }
    setForeground(wire_, gc_.get(), ink->pixel);
    polyFillRectangle(wire_, window_, gc_.get(),
                      MenuRect{x, y, static_cast<int>(width), static_cast<int>(height)});
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
    setForeground(wire_, gc_.get(), ink->pixel);
    // A triangle pointing the way the rows would move.
    const int half = std::max(2, height / 3);
    const int cx = geometry.frame.width / 2;
    const int cy = top + height / 2;
    const int base = up ? cy + half / 2 : cy - half / 2;
    const int tip = up ? cy - half / 2 - 1 : cy + half / 2 + 1;
    const auto point = [](int x, int y) {
        return xPoint{static_cast<INT16>(x), static_cast<INT16>(y)};
    };
    const xPoint points[3] = {point(cx - half, base), point(cx + half, base), point(cx, tip)};
    fillPoly(wire_, window_, gc_.get(), points, 3);
}

} // namespace velmora::x11
