// What the X server tells the menu about the screen it appears on: the
// monitor's rectangle, the RENDER formats it draws with, the atoms that name
// its window's type, and the resolution the desktop set for Xft.
#pragma once

#include "display/x11/x11_font_cache.h"
#include "display/x11/x11_grab.h"
#include "display/x11/x11_library.h"
#include "display/x11/x11_render.h"
#include "menu/menu_layout.h"

#include <optional>

namespace velmora::x11 {

// A rectangle of the root window, in pixels.
using ScreenArea = MenuRect;

struct ServerFacts {
    // The primary RandR monitor where the server names one, else the root
    // window.
    ScreenArea screen;
    // Nothing when the server has no RENDER or no format for the default
    // visual.
    std::optional<RenderFormats> render;
    // _NET_WM_WINDOW_TYPE and its pop-up menu value; None when not answered.
    Atom windowType = None;
    Atom popupMenuType = None;
    // The desktop's resources, as the server holds them; their Xft.dpi is
    // the connection's to find.
    ServerResources resources;
};

// Asks the server all of it in two round trips, the requests of each sent
// together; with `grabs`, a try at the pointer and keyboard grabs on the
// root window goes out in the second, after XKB was taken into use.
ServerFacts askServer(Wire& wire, PendingGrab* grabs = nullptr);

// The Xft.dpi resource as Xlib reads it; nothing where unset.
std::optional<std::string> xftDpi(Display* display);

// A resolution (the Xft.dpi resource's value) as a multiple of 96 dots per
// inch; 1 where the resource is missing or makes no sense.
double screenScale(const std::optional<std::string>& dpi);

} // namespace velmora::x11
