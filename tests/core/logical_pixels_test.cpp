// Logical pixels against device pixels: what an offset, an anchor and a
// screen size become at a few resolutions, halves and the ends of int; and
// the same in 120ths, exact where a double is not.
#include "platform/logical_pixels.h"

#include <gtest/gtest.h>

#include <climits>

namespace velmora {
namespace {

struct Conversion {
    int from;
    double scale;
    int expected;
};

class DevicePixels : public ::testing::TestWithParam<Conversion> {};

TEST_P(DevicePixels, ScalesAndRoundsToTheNearest) {
    EXPECT_EQ(devicePixels(GetParam().from, GetParam().scale), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, DevicePixels,
                         ::testing::Values(Conversion{10, 1.0, 10}, Conversion{10, 2.0, 20},
                                           Conversion{-26, 1.5, -39}, Conversion{1, 1.5, 2},
                                           Conversion{-1, 1.5, -2}, Conversion{3, 1.25, 4},
                                           Conversion{INT_MAX, 1.0, INT_MAX},
                                           Conversion{INT_MAX, 2.0, INT_MAX},
                                           Conversion{INT_MIN, 2.0, INT_MIN},
                                           Conversion{INT_MIN / 2 - 1, 2.0, INT_MIN}));

class LogicalPixels : public ::testing::TestWithParam<Conversion> {};

TEST_P(LogicalPixels, DividesAndRoundsToTheNearest) {
    EXPECT_EQ(logicalPixels(GetParam().from, GetParam().scale), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, LogicalPixels,
                         ::testing::Values(Conversion{1024, 1.0, 1024}, Conversion{1024, 2.0, 512},
                                           Conversion{1024, 1.5, 683}, Conversion{768, 1.5, 512},
                                           Conversion{1366, 1.25, 1093},
                                           Conversion{INT_MAX, 1.0, INT_MAX},
                                           Conversion{INT_MAX, 0.5, INT_MAX}));

// A size taken to logical pixels and its far edge brought back lands within a
// pixel of where it was, so an anchor at that edge stays at it.
TEST(LogicalPixels, AnEdgeComesBackWithinAPixel) {
    for (const double scale : {1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0}) {
        for (int size = 200; size <= 4000; ++size) {
            const int back = devicePixels(logicalPixels(size, scale), scale);
            ASSERT_LE(back - size, 1) << size << " at " << scale;
            ASSERT_GE(back - size, -1) << size << " at " << scale;
        }
    }
}

struct InUnits {
    int units;
    long long pixels;
    long long nearest; // devicePixels
    long long within;  // devicePixelsWithin
    long long logicalWithin;
    long long holding; // logicalPixelsHolding
};

class FractionalPixels : public ::testing::TestWithParam<InUnits> {};

TEST_P(FractionalPixels, ConvertInWholeNumbers) {
    const InUnits c = GetParam();
    const FractionalScale scale{c.units};
    EXPECT_EQ(scale.devicePixels(c.pixels), c.nearest);
    EXPECT_EQ(scale.devicePixelsWithin(c.pixels), c.within);
    EXPECT_EQ(scale.logicalPixelsWithin(c.pixels), c.logicalWithin);
    EXPECT_EQ(scale.logicalPixelsHolding(c.pixels), c.holding);
}

INSTANTIATE_TEST_SUITE_P(Table, FractionalPixels,
                         ::testing::Values(InUnits{120, 65, 65, 65, 65, 65},
                                           InUnits{240, 65, 130, 130, 32, 33},
                                           InUnits{180, 65, 98, 97, 43, 44},
                                           InUnits{180, 16384, 24576, 24576, 10922, 10923},
                                           InUnits{140, 3, 4, 3, 2, 3}, InUnits{90, 3, 2, 2, 4, 4},
                                           InUnits{FractionalScale::MOST, 4294967296LL,
                                                   70368744177664LL, 70368744177664LL, 262144,
                                                   262144}));

} // namespace
} // namespace velmora
