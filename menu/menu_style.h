// How the pixel menus (X11, Wayland) look: one set of measures, given in
// pixels at 96 dots per inch and scaled to the display, and one set of
// colours. The terminal menu draws in cells and takes only the row rule.
#pragma once

#include "platform/logical_pixels.h"

#include <algorithm>
#include <cstdint>

namespace velmora {

// The colours of the menu (0xRRGGBB).
constexpr std::uint32_t MENU_COLOR_BACKGROUND = 0xF5F5F5;
constexpr std::uint32_t MENU_COLOR_BORDER = 0x8C8C8C;
constexpr std::uint32_t MENU_COLOR_TEXT = 0x000000;
constexpr std::uint32_t MENU_COLOR_HIGHLIGHT = 0x3169C6;
constexpr std::uint32_t MENU_COLOR_HIGHLIGHT_TEXT = 0xFFFFFF;
constexpr std::uint32_t MENU_COLOR_ARROW_OFF = 0xB4B4B4;

struct MenuMetrics {
    int border = 1;           // the frame, on every side
    int margin = 2;           // between the top and bottom border and the rows
    int padLeft = 10;         // before an item's text
    int padRight = 10;        // after it
    int gap = 24;             // at least, between a title and its right-aligned part
    int rowPad = 3;           // above and below the text of a row
    int arrowHeight = 12;     // of each scroll arrow
    int minWidth = 48;        // of the whole menu
    int underline = 2;        // at most, from the baseline to a mnemonic's underline
    int line = 1;             // the underline's thickness
    double fontPixels = 12.0; // the menu font: 9 points, as the Windows menu font
};

// The measures for a display of `scale` times 96 dots per inch; each is at
// least one pixel.
inline MenuMetrics scaledMenuMetrics(double scale) {
    const auto scaled = [scale](int pixels) { return std::max(1, roundedPixels(pixels * scale)); };
    const MenuMetrics base;
    MenuMetrics m;
    m.border = scaled(base.border);
    m.margin = scaled(base.margin);
    m.padLeft = scaled(base.padLeft);
    m.padRight = scaled(base.padRight);
    m.gap = scaled(base.gap);
    m.rowPad = scaled(base.rowPad);
    m.arrowHeight = scaled(base.arrowHeight);
    m.minWidth = scaled(base.minWidth);
    m.underline = scaled(base.underline);
    m.line = scaled(base.line);
    m.fontPixels = base.fontPixels * scale;
    return m;
}

} // namespace velmora
