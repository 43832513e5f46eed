// Packed inputs: the words as read, bits past an input's last base cleared, short and
// missing files, and damage kept for a worker's report or stopping the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "toolkit/checksum.h"
#include "toolkit/packed_input.h"

namespace {

using testsupport::TempDir;
using testsupport::writeFile;
using Ints = std::vector<int32_t>;

TEST(PackedInput, ReadsWordsAndClearsBitsPastTheLastBase) {
    TempDir dir("packed-input-test");
    const std::string path = dir.path + "x.stbin";
    // Two words whose last 10 bits lie past an input of 27 bases (54 bits).
    std::vector<int32_t> file = {0x12345678, -1};
    writeFile(path, file);
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

TEST(PackedInput, DamageIsKeptForAWorkerOrStops) {
    TempDir dir("packed-input-test");
    const std::string path = dir.path + "x_0.stbin", sumsPath = dir.path + "x.stinsum";
    writeFile(path, Ints{0x12345678, 0x0f0f0f0f});
    writeChecksumFile(sumsPath, {hashFile(path)});
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(sumsPath));
    std::vector<uint32_t> words(2);
    size_t got = 0;
    WorkerStatus fault;
    EXPECT_EQ(readPackedInput(path.c_str(), words.data(), 64, &got, &sums, &fault), PackedRead::whole);
    EXPECT_FALSE(fault.failed());
    writeFile(path, Ints{0x12345678, 0x0f0f0f0e});
    EXPECT_EQ(readPackedInput(path.c_str(), words.data(), 64, &got, &sums, &fault), PackedRead::failed);
    EXPECT_NE(fault.message.find(path + " is damaged: block 0"), std::string::npos) << fault.message;
    EXPECT_EXIT(readPackedInput(path.c_str(), words.data(), 64, &got, &sums), testing::ExitedWithCode(1),
                "x_0.stbin is damaged: block 0");
    // Another size than the checksum file's is a fault before any read.
    writeFile(path, Ints{0x12345678});
    fault = WorkerStatus();
    EXPECT_EQ(readPackedInput(path.c_str(), words.data(), 32, &got, &sums, &fault), PackedRead::failed);
    EXPECT_NE(fault.message.find("holds 4 bytes, its checksum file"), std::string::npos) << fault.message;
}

}  // namespace
