// The one handle owner: what get, reset and release mean, for a handle kind
// that only counts what it frees.
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

struct CountingTraits {
    using Handle = int;
    std::vector<int>* freed = nullptr;
    bool failFree = false;
    static int empty() { return 0; }
    static bool valid(int handle) { return handle != -1; } // a second "no handle" value
    bool free(int handle) const {
        freed->push_back(handle);
        return !failFree;
    }
};
using Counted = UniqueHandle<CountingTraits>;

TEST(UniqueHandle, FreesOnceWhicheverWayOwnershipEnds) {
    std::vector<int> freed;
    {
        Counted a(7, {&freed});
        Counted b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), 7);
        Counted c(8, {&freed});
        c = std::move(b); // 8 is freed, 7 moves on
        EXPECT_EQ(freed, std::vector<int>{8});
        Counted d(9, {&freed});
        EXPECT_EQ(d.release(), 9); // given away: never freed here
        EXPECT_FALSE(d);
    }
    EXPECT_EQ(freed, (std::vector<int>{8, 7}));
}

TEST(UniqueHandle, ResetReportsTheFreeAndLeavesNothing) {
    std::vector<int> freed;
    Counted failing(5, {&freed, true});
    EXPECT_FALSE(failing.reset());
    EXPECT_FALSE(failing);
    EXPECT_TRUE(failing.reset()); // nothing left to free
    EXPECT_EQ(freed, std::vector<int>{5});
}

TEST(UniqueHandle, EveryNoHandleValueOwnsNothing) {
    std::vector<int> freed;
    {
        const Counted invalid(-1, {&freed});
        const Counted empty(0, {&freed});
        EXPECT_FALSE(invalid);
        EXPECT_EQ(invalid.get(), 0);
        EXPECT_FALSE(empty);
    }
    EXPECT_TRUE(freed.empty());
}

} // namespace
} // namespace velmora
