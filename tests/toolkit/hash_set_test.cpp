// The hash sets: negative keys, the key 0, clearing, memory accounting and a full set.
#include <gtest/gtest.h>

#include "toolkit/hash_set.h"
#include "toolkit/run.h"

namespace {

TEST(HashSet, NegativeKeysZeroAndClearing) {
    HashSet set;
    ASSERT_TRUE(allocateHashSet(set, 0, false));
    // -1 lands in slot 159,997 by the negative-key rule, where 159,997 lands too.
    EXPECT_EQ(hashSetInsert(set, -1), 1);
    EXPECT_EQ(hashSetInsert(set, 159997), 2);
    EXPECT_EQ(set.counters.probes, 1);
    EXPECT_EQ(hashSetInsert(set, -1), 1);
    EXPECT_EQ(hashSetInsert(set, 159997), 2);
    EXPECT_EQ(set.counters.requested, 4);
    EXPECT_EQ(set.counters.stored, 2);
    EXPECT_EQ(set.keys[0], -1);
    EXPECT_EQ(set.keys[1], 159997);
    // A key of 0 is never found again.
    EXPECT_EQ(hashSetInsert(set, 0), 3);
    EXPECT_EQ(hashSetInsert(set, 0), 4);
    clearHashSet(set);
    EXPECT_EQ(set.counters.requested, 0);
    EXPECT_EQ(hashSetInsert(set, 159997), 1);
    // Tracked sets count in the memory total: slots and the key list.
    unsigned long long before = memoryTotal();
    HashSet tracked;
    ASSERT_TRUE(allocateHashSet(tracked, 1, true));
    EXPECT_EQ(memoryTotal(), before + 12ull * kHashSlots);
}

using HashSetDeathTest = testing::Test;

TEST_F(HashSetDeathTest, FullSetStops) {
    auto fill = [] {
        HashSet set;
        allocateHashSet(set, 2, false);
        for (int32_t k = 1; k <= kHashSlots; ++k) hashSetInsert(set, k);
        hashSetInsert(set, kHashSlots + 1);
    };
    EXPECT_EXIT(fill(), testing::ExitedWithCode(1), "## ERROR: hash full, table 2");
}

}  // namespace
