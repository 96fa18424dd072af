// Where the Linux launcher draws its pop-up menu. PlatformPosix opens the
// first display that can be had: a Wayland layer-shell menu (display/wayland),
// else an X11 pop-up (display/x11), else a menu on
// the controlling terminal (display/terminal), else none, in which case the
// menu cannot be shown and tracking returns 0 as a dismissed menu does.
// Opening is detecting: a display that cannot start returns null quietly.
#pragma once

#include "menu/menu_session.h"

#include <memory>
#include <string>
#include <vector>

namespace velmora {

class MenuDisplay {
public:
    virtual ~MenuDisplay() = default;
    // The size of the screen that holds the menu, in the units the menu is
    // placed in: logical pixels, 1/96 inch each, for X11 and Wayland
    // (platform/logical_pixels.h), character cells for a terminal.
    virtual int screenWidth() = 0;
    virtual int screenHeight() = 0;
    // Shows the menu anchored at (x, y), in the same units, by the
    // TrackPopupMenuEx flags, blocks until it closes, and returns the picked
    // item's command identifier or 0.
    virtual unsigned int track(const std::vector<MenuItem>& items, unsigned int flags, int x,
                               int y) = 0;
};

#ifdef VELMORA_HAVE_WAYLAND
std::unique_ptr<MenuDisplay> openMenuDisplayWayland();
#endif
#ifdef VELMORA_HAVE_X11
// Starts loading libX11 and connecting to DISPLAY aside, for the
// openMenuDisplayX11() that follows to take over.
void startX11Connection();
std::unique_ptr<MenuDisplay> openMenuDisplayX11();
#endif
std::unique_ptr<MenuDisplay> openMenuDisplayTerminal();

} // namespace velmora
