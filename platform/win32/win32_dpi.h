// The resolution of the screen that the launcher's menu appears on.
#pragma once

namespace velmora {

// Device pixels to the logical pixel (platform/logical_pixels.h) on the
// primary monitor, where GetSystemMetrics' screen lies and the menu is
// placed: its dots per inch over 96. 1 when the system says nothing.
double menuScreenScale();

} // namespace velmora
