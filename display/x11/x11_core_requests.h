// The core protocol's requests the menu makes, built as Xlib builds them and
// sent over the menu's wire.
#pragma once

#include "display/x11/x11_wire.h"
#include "menu/menu_layout.h"

#include <optional>

namespace velmora::x11 {

// The window's attributes the menu sets, in CreateWindow's value order.
struct WindowAttributes {
    unsigned long backgroundPixel = 0;
    unsigned long borderPixel = 0;
    bool overrideRedirect = true;
    bool saveUnder = true;
    unsigned long eventMask = 0;
};

Window createWindow(Wire& wire, const MenuRect& frame, const WindowAttributes& attributes);
void destroyWindow(Wire& wire, Window window);
// Replaces a property with `count` items of `format` bits.
void changeProperty(Wire& wire, Window window, Atom property, Atom type, int format,
                    const void* data, std::size_t count);
// Raises and maps the window, as XMapRaised does.
void mapRaised(Wire& wire, Window window);

GContext createGc(Wire& wire, Drawable drawable);
void freeGc(Wire& wire, GContext gc);
void setForeground(Wire& wire, GContext gc, unsigned long pixel);
void polyFillRectangle(Wire& wire, Drawable drawable, GContext gc, const MenuRect& rect);
// Fills a convex polygon given in absolute coordinates.
void fillPoly(Wire& wire, Drawable drawable, GContext gc, const xPoint* points, std::size_t count);

// A colour's pixel on a colormap that is not TrueColor; nothing when refused.
std::optional<unsigned long> allocColor(Wire& wire, Colormap colormap, unsigned short red,
                                        unsigned short green, unsigned short blue);
void freeColor(Wire& wire, Colormap colormap, unsigned long pixel);

void ungrabPointer(Wire& wire);
void ungrabKeyboard(Wire& wire);

} // namespace velmora::x11
