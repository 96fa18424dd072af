// The X11 pop-up menu while it is open: an override-redirect window that
// holds the pointer and keyboard grabs, whose events become calls on the
// shared MenuSession, and which draws what the session's answers say changed.
#pragma once

// The menu's headers before the X ones, whose None macro would rewrite them.
#include "menu/menu_session.h"

#include "display/x11/x11_handles.h"
#include "display/x11/x11_screen.h"

#include <optional>
#include <vector>

namespace velmora::x11 {

// What a try at the grabs made before the menu (with the questions to the
// server) won; `tried` is false when none was made.
struct FirstGrab {
    InputGrab grab;
    bool tried = false;
};

// Shows the menu of `items` on the screen `facts` found, at the resolution
// `scale`, anchored at (x, y) by the TrackPopupMenuEx `flags`; blocks until
// it closes and returns the picked item's command, or 0 when it was
// dismissed or could not be shown; nothing, with nothing shown, when the
// titles need faces that only a wire with Xlib opens. The grabs `first`
// holds are kept, the others tried for.
std::optional<unsigned int> showPopupMenu(Wire& wire, const ServerFacts& facts, double scale,
                                          const std::vector<MenuItem>& items, unsigned int flags,
                                          int x, int y, FirstGrab first);

} // namespace velmora::x11
