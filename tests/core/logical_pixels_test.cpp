// Logical pixels against device pixels: what an offset, an anchor and a
// screen size become at a few resolutions, halves and the ends of int.
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

} // namespace
} // namespace velmora
