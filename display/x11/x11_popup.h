// The X11 pop-up menu while it is open: an override-redirect window that
// holds the pointer and keyboard grabs, whose events become calls on the
// shared MenuSession, and which draws what the session's answers say changed.
#pragma once

// The menu's headers before the X ones, whose None macro would rewrite them.
#include "menu/menu_session.h"

#include "display/x11/x11_screen.h"

#include <vector>

namespace velmora::x11 {

// Shows the menu of `items` on the screen `facts` found, at the resolution
// `scale`, anchored at (x, y) by the TrackPopupMenuEx `flags`; blocks until
// it closes and returns the picked item's command, or 0 when it was
// dismissed or could not be shown.
unsigned int showPopupMenu(Display* display, const ServerFacts& facts, double scale,
                           const std::vector<MenuItem>& items, unsigned int flags, int x, int y);

} // namespace velmora::x11
