// The menu is placed in logical pixels, 1/96 inch each, on every display:
// the core computes its point from a screen size in those units, and a
// backend whose screen counts device pixels converts at its edge. A screen
// of `scale` device pixels to the logical pixel (its dots per inch over 96)
// reports its size divided by the scale, and multiplies the point it is
// given by it, so that an offset and an anchor scale alike. Both directions
// round to the nearest pixel, halves away from zero, and stop at the ends of
// int; a point that lands a pixel past an edge is kept on the screen by the
// placement, as any other is.
//
// A Wayland compositor tells its scale in 120ths (FractionalScale): there
// the same rule is kept in integers, so that a whole scale converts exactly.
#pragma once

#include <climits>
#include <cmath>

namespace velmora {

// Rounded here rather than by std::lround, which alone would have every
// start load libm. Within int's range the part past the whole number is
// exact, so halves are told apart exactly.
inline int roundedPixels(double pixels) {
    if (std::isnan(pixels))
        return 0;
    if (pixels >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (pixels <= static_cast<double>(INT_MIN))
        return INT_MIN;
    const auto whole = static_cast<long long>(pixels); // toward zero
    const double rest = pixels - static_cast<double>(whole);
    return static_cast<int>(whole + (rest >= 0.5 ? 1 : 0) - (rest <= -0.5 ? 1 : 0));
}

// `logical` pixels as device pixels; `scale` is positive.
inline int devicePixels(int logical, double scale) {
    return roundedPixels(static_cast<double>(logical) * scale);
}

// `device` pixels as logical pixels; `scale` is positive.
inline int logicalPixels(int device, double scale) {
    return roundedPixels(static_cast<double>(device) / scale);
}

// A scale in 120ths of a device pixel to the logical pixel: 120 is 1, 180
// is 1.5. `units` is from 1 to MOST; the pixel counts converted are from 0
// to 2^32, so no product overflows.
struct FractionalScale {
    static constexpr int ONE = 120;
    // Past this not even one logical pixel fits a Wayland buffer.
    static constexpr int MOST = ONE * (1 << 14);

    int units = ONE;

    // `factor` (positive) as a scale; one past MOST counts as MOST.
    static FractionalScale whole(int factor) { return {factor < MOST / ONE ? factor * ONE : MOST}; }
    double factor() const { return static_cast<double>(units) / ONE; }
    bool operator==(FractionalScale other) const { return units == other.units; }
    bool operator!=(FractionalScale other) const { return units != other.units; }

    // `logical` pixels as device pixels, to the nearest, halves up.
    long long devicePixels(long long logical) const { return (logical * units + ONE / 2) / ONE; }
    // The whole device pixels within `logical` pixels.
    long long devicePixelsWithin(long long logical) const { return logical * units / ONE; }
    // The whole logical pixels within `device` pixels.
    long long logicalPixelsWithin(long long device) const { return device * ONE / units; }
    // The fewest logical pixels that hold `device` pixels.
    long long logicalPixelsHolding(long long device) const {
        return (device * ONE + units - 1) / units;
    }
};

} // namespace velmora
