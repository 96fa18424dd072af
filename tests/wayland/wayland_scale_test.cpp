// The scale a menu too large for a buffer at its output's scale falls back
// to: whole steps as before where fractional scales are not offered, the
// largest 120th that fits where they are.
#include "display/wayland/wayland_scale.h"

#include <gtest/gtest.h>

namespace velmora::wayland {
namespace {

struct Fallback {
    int units;
    long long side; // of the buffer at that scale
    bool fractional;
    int expected;
};

class LowerScale : public ::testing::TestWithParam<Fallback> {};

TEST_P(LowerScale, IsTheLargestThatFits) {
    const Fallback c = GetParam();
    EXPECT_EQ(lowerScaleToFit(FractionalScale{c.units}, c.side, c.fractional).units, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LowerScale,
    ::testing::Values(Fallback{240, 18000, false, 120}, Fallback{360, 20000, false, 240},
                      Fallback{360, 16400, false, 240}, Fallback{240, 40000, false, 120},
                      Fallback{180, 18000, true, 163}, Fallback{180, 16385, true, 179},
                      Fallback{180, 100000, true, 120}, Fallback{240, 18000, true, 218}));

} // namespace
} // namespace velmora::wayland
