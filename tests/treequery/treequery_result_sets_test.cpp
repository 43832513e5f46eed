// The bounded heaps of the result sets, the standard arrays and the Where cell.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tests/support/seed.h"
#include "treequery/traversal.h"

namespace {

ResultRecord rec(int length, int sequence, int position) {
    return ResultRecord{1, 2, 0, length, 9, sequence, position};
}

struct TestSet {
    std::vector<ResultRecord> records;
    std::vector<int> order;
    ResultSet set{};
    explicit TestSet(int bestnum) : records(bestnum), order(bestnum) {
        set.capacity = bestnum;
        set.kind = kCustomSet;
        set.records = records.data();
        set.order = order.data();
    }
    std::vector<ResultRecord> ordered() {
        finalOrder(set);
        std::vector<ResultRecord> out;
        for (int p = 0; p < set.heapSize; p++) out.push_back(set.records[set.order[p]]);
        return out;
    }
};

TEST(ResultSets, FullHeapKeepsTheLongestAndTheEarlierOfEqualLength) {
    TestSet t(3);
    t.set.total = 0;
    offerToSet(t.set, rec(10, 0, 5));
    offerToSet(t.set, rec(4, 1, 0));
    offerToSet(t.set, rec(8, 2, 7));
    offerToSet(t.set, rec(4, 0, 1));   // as long as the worst kept: dropped
    offerToSet(t.set, rec(2, 0, 0));   // shorter: dropped
    offerToSet(t.set, rec(12, 3, 3));  // displaces the 4
    offerToSet(t.set, rec(8, 1, 1));   // as long as the new worst (8): dropped
    EXPECT_EQ(t.set.total, 7);
    auto kept = t.ordered();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].length, 12);
    EXPECT_EQ(kept[1].length, 10);
    EXPECT_EQ(kept[2].length, 8);
    EXPECT_EQ(kept[2].sequence, 2);  // the earlier 8 stays
    for (const ResultRecord& r : kept) EXPECT_EQ(r.NC, 0);  // sets never carry NC
}

TEST(ResultSets, FinalOrderIsLongestThenSmallerSequenceThenSmallerPosition) {
    TestSet t(6);
    offerToSet(t.set, rec(6, 2, 9));
    offerToSet(t.set, rec(6, 1, 30));
    offerToSet(t.set, rec(6, 1, 4));
    offerToSet(t.set, rec(8, 5, 0));
    offerToSet(t.set, rec(2, 0, 0));
    auto kept = t.ordered();
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(t.set.heapSize, 5);
    int want[][3] = {{8, 5, 0}, {6, 1, 4}, {6, 1, 30}, {6, 2, 9}, {2, 0, 0}};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(kept[i].length, want[i][0]) << i;
        EXPECT_EQ(kept[i].sequence, want[i][1]) << i;
        EXPECT_EQ(kept[i].position, want[i][2]) << i;
    }
}

TEST(ResultSets, RandomOffersKeepTheLongestLengthsInOrder) {
    const unsigned seed = testsupport::firstSeed(20261208);
    SCOPED_TRACE(testsupport::seedNote(seed));
    std::mt19937 rng(seed);
    for (int round = 0; round < 200; round++) {
        const int bestnum = std::uniform_int_distribution<int>(1, 12)(rng);
        TestSet t(bestnum);
        std::vector<int> lengths;
        const int offers = std::uniform_int_distribution<int>(0, 40)(rng);
        for (int i = 0; i < offers; i++) {
            ResultRecord r = rec(2 * std::uniform_int_distribution<int>(0, 8)(rng),
                                 std::uniform_int_distribution<int>(0, 3)(rng),
                                 std::uniform_int_distribution<int>(0, 50)(rng));
            lengths.push_back(r.length);
            offerToSet(t.set, r);
        }
        EXPECT_EQ(t.set.total, offers);
        std::sort(lengths.rbegin(), lengths.rend());
        lengths.resize(std::min<size_t>(lengths.size(), bestnum));
        auto kept = t.ordered();
        ASSERT_EQ(kept.size(), lengths.size());
        for (size_t i = 0; i < kept.size(); i++) {
            EXPECT_EQ(kept[i].length, lengths[i]);
            if (i > 0) {
                EXPECT_FALSE(worseResult(kept[i - 1], kept[i])) << "row " << i;
            }
        }
    }
}

TEST(StandardArrays, LongerReplacesEqualCountsShorterAndOutOfRangeAreIgnored) {
    std::vector<ResultRecord> array(5, ResultRecord{});
    offerStandard(array.data(), 5, 3, rec(6, 1, 2));
    EXPECT_EQ(array[3].length, 6);
    EXPECT_EQ(array[3].NC, 1);
    offerStandard(array.data(), 5, 3, rec(6, 0, 0));
    offerStandard(array.data(), 5, 3, rec(6, 2, 0));
    EXPECT_EQ(array[3].NC, 3);
    EXPECT_EQ(array[3].sequence, 1);  // the first of equal length is the one shown
    offerStandard(array.data(), 5, 3, rec(4, 0, 0));
    EXPECT_EQ(array[3].NC, 3);
    offerStandard(array.data(), 5, 3, rec(8, 4, 4));
    EXPECT_EQ(array[3].length, 8);
    EXPECT_EQ(array[3].NC, 1);
    for (int index : {0, 1, 5, 9}) offerStandard(array.data(), 5, index, rec(20, 0, 0));
    EXPECT_EQ(array[0].length, 0);
    EXPECT_EQ(array[1].length, 0);
}

TEST(WhereCell, OneCharacterPerInputUpTo32) {
    char text[40];
    whereCell((int32_t)0xA0000000u, 4, text);  // inputs 0 and 2
    EXPECT_STREQ(text, "1010");
    whereCell((int32_t)0x00000001u, 32, text);  // input 31
    EXPECT_STREQ(text, "00000000000000000000000000000001");
    whereCell(-1, 33, text);
    EXPECT_STREQ(text, "");
}

}  // namespace
