// What the X server tells the menu about the screen it appears on: the
// monitor's rectangle and the resolution the desktop set for Xft.
#pragma once

#include "display/x11/x11_library.h"

namespace velmora::x11 {

// A rectangle of the root window, in pixels.
struct ScreenArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The primary RandR monitor where the server names one, else the root window.
ScreenArea findMenuScreen(Display* display);

// The screen's resolution (the Xft.dpi resource) as a multiple of 96 dots
// per inch; 1 where the resource is missing or makes no sense.
double screenScale(Display* display);

} // namespace velmora::x11
