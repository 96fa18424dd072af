// The menu is placed in logical pixels, 1/96 inch each, on every display:
// the core computes its point from a screen size in those units, and a
// backend whose screen counts device pixels converts at its edge. A screen
// of `scale` device pixels to the logical pixel (its dots per inch over 96)
// reports its size divided by the scale, and multiplies the point it is
// given by it, so that an offset and an anchor scale alike. Both directions
// round to the nearest pixel, halves away from zero, and stop at the ends of
// int; a point that lands a pixel past an edge is kept on the screen by the
// placement, as any other is.
#pragma once

#include <climits>
#include <cmath>

namespace velmora {

inline int roundedPixels(double pixels) {
    if (pixels >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (pixels <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(std::lround(pixels));
}

// `logical` pixels as device pixels; `scale` is positive.
inline int devicePixels(int logical, double scale) {
    return roundedPixels(static_cast<double>(logical) * scale);
}

// `device` pixels as logical pixels; `scale` is positive.
inline int logicalPixels(int device, double scale) {
    return roundedPixels(static_cast<double>(device) / scale);
}

} // namespace velmora
