// Bit vectors: the bit layout and the operations on whole vectors.
#include <gtest/gtest.h>

#include <cstdint>

#include "toolkit/bit_vector.h"

namespace {

TEST(BitVector, LayoutAndOperations) {
    uint32_t* v = vectorAlloc(40);
    ASSERT_NE(v, nullptr);
    bitSet(v, 0);
    EXPECT_EQ(v[0], 0x80000000u);
    bitSet(v, 31);
    EXPECT_EQ(v[0], 0x80000001u);
    bitSet(v, 32);
    EXPECT_EQ(v[1], 0x80000000u);
    EXPECT_EQ(bitTest(v, 32), 1);
    EXPECT_EQ(bitTest(v, 33), 0);
    uint32_t word = 0;
    EXPECT_EQ(wordBitSet(word, 34), 0x20000000u);
    EXPECT_EQ(wordBitTest(word, 2), 1);

    // Counting covers whole words, bits past the last member included.
    v[1] |= 0x000000ffu;
    EXPECT_EQ(vectorCount(v, 40), 3 + 8);
    EXPECT_EQ(vectorCount(v, 32), 2);
    EXPECT_EQ(vectorCount(v, 0), 0);

    uint32_t* w = vectorAlloc(40);
    bitSet(w, 5);
    bitSet(w, 32);
    vectorAnd(w, v, 40);
    EXPECT_EQ(w[0], 0u);
    EXPECT_EQ(w[1], 0x80000000u);
    vectorOr(w, v, 40);
    EXPECT_EQ(w[0], v[0]);
    vectorCopy(w, v, 33);
    EXPECT_EQ(w[1], v[1]);
    vectorFree(v);
    vectorFree(w);

    EXPECT_EQ(vectorWords(32), 1);
    EXPECT_EQ(vectorWords(33), 2);
}

}  // namespace
