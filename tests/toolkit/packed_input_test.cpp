// Packed inputs: the words as read, bits past an input's last base cleared, short and
// missing files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "toolkit/packed_input.h"

namespace {

using testsupport::TempDir;

TEST(PackedInput, ReadsWordsAndClearsBitsPastTheLastBase) {
    TempDir dir("packed-input-test");
    const std::string path = dir.path + "x.stbin";
    // Two words whose last 10 bits lie past an input of 27 bases (54 bits).
    std::vector<int32_t> file = {0x12345678, -1};
    testsupport::writeFile(path, file);
    std::vector<uint32_t> words(3, 0xabababab);
    size_t got = 0;
    EXPECT_EQ(readPackedInput(path.c_str(), words.data(), 54, &got), PackedRead::whole);
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(words[0], 0x12345678u);
    EXPECT_EQ(words[1], 0xfffffc00u);
    EXPECT_EQ(words[2], 0xababababu) << "nothing written past the input's words";
    // Whole words keep every bit; a file shorter than the input, or none, is reported.
    EXPECT_EQ(readPackedInput(path.c_str(), words.data(), 64, &got), PackedRead::whole);
    EXPECT_EQ(words[1], 0xffffffffu);
    EXPECT_EQ(readPackedInput(path.c_str(), words.data(), 66, &got), PackedRead::shortFile);
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(readPackedInput((dir.path + "none").c_str(), words.data(), 2, &got), PackedRead::cannotOpen);
    EXPECT_EQ(packedWords(0), 0u);
    EXPECT_EQ(packedWords(64), 2u);
    EXPECT_EQ(packedWords(66), 3u);
}

}  // namespace
