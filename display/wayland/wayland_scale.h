// How large the menu's buffers may be, and the scale the menu falls back to
// when the one it is to have would make them larger.
#pragma once

#include "platform/logical_pixels.h"

#include <algorithm>

namespace velmora::wayland {

// The largest side of a buffer the menu makes (also what compositors take).
constexpr int LARGEST_BUFFER_SIDE = 1 << 14;

// The scale to lay the menu out at next, when at `scale` (above 1) the
// longer side of its buffer came to `side` pixels, past the largest: the one
// at which that side would just fit were it in proportion to the scale,
// whole unless `fractional`; at least one step (a 120th, or 1) lower, and 1
// at the least.
inline FractionalScale lowerScaleToFit(FractionalScale scale, long long side, bool fractional) {
    constexpr int ONE = FractionalScale::ONE;
    long long fits = scale.units * static_cast<long long>(LARGEST_BUFFER_SIDE) / side;
    if (!fractional)
        fits -= fits % ONE;
    const int step = fractional ? 1 : ONE;
    return FractionalScale{static_cast<int>(std::clamp<long long>(fits, ONE, scale.units - step))};
}

} // namespace velmora::wayland
