// Unit tests of the shared toolkit: number parsing, the chunked writer, bit vectors,
// paths and the catalogue readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "toolkit/bit_vector.h"
#include "toolkit/catalogue.h"
#include "toolkit/file_io.h"
#include "toolkit/hash_set.h"
#include "toolkit/packed_input.h"
#include "toolkit/run.h"

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/toolkit-test.XXXXXX";
        path = mkdtemp(tmpl);
        path += "/";
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

void writeInts(const std::string& path, std::vector<int32_t> values, size_t extraBytes = 0) {
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(values.data(), 4, values.size(), f);
    for (size_t i = 0; i < extraBytes; i++) fputc(0x55, f);
    fclose(f);
}

TEST(ParseNumber, PowersExponentsHexAndGarbage) {
    EXPECT_EQ(parseNumber("2^20"), 1048576);
    EXPECT_EQ(parseNumber("2^33"), 2);  // the shift is taken mod 32
    EXPECT_EQ(parseNumber("2^0"), 1);
    EXPECT_EQ(parseNumber("1e3"), 1000);
    EXPECT_EQ(parseNumber("2.5e3"), 2500);
    EXPECT_EQ(parseNumber("0x100"), 256);
    EXPECT_EQ(parseNumber("7.9"), 7);
    EXPECT_EQ(parseNumber("-7.9"), -7);
    EXPECT_EQ(parseNumber("12abc"), 12);
    EXPECT_EQ(parseNumber("abc"), 0);
    EXPECT_EQ(parseNumber(""), 0);
    // Beyond int range or not finite: not a usable number, so the default applies.
    EXPECT_EQ(parseNumber("1e30"), 0);
    EXPECT_EQ(parseNumber("nan"), 0);
    EXPECT_EQ(parseNumber("inf"), 0);
}

// A descriptor that fails every write makes each piece return -1, so the sum counts the pieces.
TEST(TimedWriteChunked, WritesInPiecesOf262144) {
    std::vector<char> buffer(3 * 262144 + 1);
    int bad = -1;
    EXPECT_EQ(timedWriteChunked(bad, buffer.data(), 262144), -1);
    EXPECT_EQ(timedWriteChunked(bad, buffer.data(), 262145), -2);
    EXPECT_EQ(timedWriteChunked(bad, buffer.data(), 3 * 262144), -3);
    EXPECT_EQ(timedWriteChunked(bad, buffer.data(), 3 * 262144 + 1), -4);
    EXPECT_EQ(timedWriteChunked(bad, buffer.data(), 0), -1);
}

TEST(TimedWriteChunked, WritesEveryByteInOrder) {
    TempDir dir;
    std::string path = dir.path + "out";
    std::vector<char> buffer(600000);
    for (size_t i = 0; i < buffer.size(); i++) buffer[i] = (char)(i * 7 + i / 1000);
    FileDescriptor fd(openFile(path.c_str(), 1));
    ASSERT_TRUE(fd.ok());
    EXPECT_EQ(timedWriteChunked(fd.fd, buffer.data(), buffer.size()), (int64_t)buffer.size());
    fd.reset();
    EXPECT_EQ(fileSizeByStat(path.c_str()), (int64_t)buffer.size());
    std::vector<char> back(buffer.size());
    FileDescriptor in(openFile(path.c_str(), 0));
    EXPECT_EQ(readFully(in.fd, back.data(), back.size() + 10, path.c_str()), buffer.size());
    EXPECT_EQ(back, buffer);
    // Opening for writing empties an existing file.
    fd.reset(openFile(path.c_str(), 1));
    EXPECT_EQ(fileSizeByStat(path.c_str()), 0);
}

TEST(FileIo, MissingFilesAndShortWrites) {
    EXPECT_LT(fileSizeByStat("/nonexistent/file"), 0);
    EXPECT_LT(openFile("/nonexistent/file", 0), 0);
    int fd = open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    char data[16] = {};
    EXPECT_EXIT(writeOrDie(fd, data, sizeof data, "/dev/full"), testing::ExitedWithCode(1),
                "## ERROR: can't write 16 bytes to /dev/full");
    close(fd);
}

TEST(FormatPath, FitsOrStops) {
    EXPECT_EQ(formatPath(kPathLimit, "%s%s%s/%s", "out/", "hg", ".ST", "hg"), "out/hg.ST/hg");
    EXPECT_EQ(formatPath(kPathLimit, "%s_%d%s", "d/hg", 12, ".stdna"), "d/hg_12.stdna");
    std::string longName(kPathLimit, 'x');
    EXPECT_EXIT(formatPath(kPathLimit, "%s", longName.c_str()), testing::ExitedWithCode(1), "path too long");
    EXPECT_EQ(formatPath(kPathLimit, "%s", longName.substr(1).c_str()).size(), kPathLimit - 1);
}

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

TEST(Catalogues, ReadAllThree) {
    TempDir dir;
    std::string l = dir.path + "x.stlengths", b = dir.path + "x.stblengths", p = dir.path + "x.stplengths";
    writeInts(l, {5, 0, 17});
    writeInts(b, {10, 0, 34});
    writeInts(p, {2, 1});
    int32_t lengths[3], bits[3], parts[10];
    for (int32_t& x : parts) x = -7;
    readCatalogues(l.c_str(), b.c_str(), p.c_str(), lengths, bits, parts, 3);
    EXPECT_EQ(lengths[2], 17);
    EXPECT_EQ(bits[2], 34);
    // A partitions catalogue fills only its own entries.
    readCatalogues(nullptr, nullptr, p.c_str(), nullptr, nullptr, parts, 10);
    EXPECT_EQ(parts[0], 2);
    EXPECT_EQ(parts[1], 1);
    EXPECT_EQ(parts[2], -7);
}

TEST(Catalogues, ReaderFailures) {
    TempDir dir;
    std::string l = dir.path + "x.stlengths", b = dir.path + "x.stblengths";
    writeInts(l, {5, 0, 17});
    writeInts(b, {10, 0});
    int32_t lengths[4], bits[4];
    EXPECT_EXIT(readCatalogues(l.c_str(), nullptr, nullptr, lengths, nullptr, nullptr, 4),
                testing::ExitedWithCode(1), "Reading lengths of partitions - error");
    EXPECT_EXIT(readCatalogues(nullptr, b.c_str(), nullptr, nullptr, bits, nullptr, 3),
                testing::ExitedWithCode(1), "Reading binary lengths of partitions - error");
    std::string missing = dir.path + "none.stplengths";
    EXPECT_EXIT(readCatalogues(nullptr, nullptr, missing.c_str(), nullptr, nullptr, bits, 3),
                testing::ExitedWithCode(1), "Could not open partitions file \"" + missing + "\"");
}

TEST(Catalogues, LengthReaderOfTheSearch) {
    TempDir dir;
    std::string base = dir.path + "x";
    writeInts(base + ".stlengths", {4, 9}, 2);  // two stray bytes are ignored
    writeInts(base + ".stblengths", {8, 18});
    int32_t *lengths = nullptr, *bits = nullptr;
    EXPECT_EQ(readLengthCatalogues(base.c_str(), &lengths, &bits), 2);
    EXPECT_EQ(lengths[1], 9);
    EXPECT_EQ(bits[1], 18);
    free(lengths);
    free(bits);
    writeInts(base + ".stblengths", {8});
    EXPECT_EXIT(readLengthCatalogues(base.c_str(), &lengths, &bits), testing::ExitedWithCode(1),
                "problem reading binary lengths file");
    EXPECT_EXIT(readLengthCatalogues((dir.path + "y").c_str(), &lengths, &bits), testing::ExitedWithCode(1),
                "can't open lengths file");
}

TEST(Catalogues, WriteThenRead) {
    TempDir dir;
    std::string path = dir.path + "w.stlengths";
    int32_t entries[3] = {1, 2, 3};
    writeCatalogue(path.c_str(), entries, 3, "can't open lengths file %s\n");
    EXPECT_EQ(fileSizeByStat(path.c_str()), 12);
    EXPECT_EXIT(writeCatalogue((dir.path + "no/such").c_str(), entries, 3, "can't open lengths file %s\n"),
                testing::ExitedWithCode(1), "can't open lengths file .*no/such");
}

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

TEST(PackedInput, ReadsWordsAndClearsBitsPastTheLastBase) {
    TempDir dir;
    const std::string path = dir.path + "x.stbin";
    // Two words whose last 10 bits lie past an input of 27 bases (54 bits).
    std::vector<int32_t> file = {0x12345678, -1};
    writeInts(path, file);
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

TEST(RunConventions, VersionAndClocks) {
    const char* v = versionString();
    EXPECT_EQ(v, versionString());
    EXPECT_EQ(std::string(v).size(), 20u);  // "Mmm dd yyyy hh:mm:ss"
    int t0 = msClock();
    EXPECT_GE(msClock(), t0);
    unsigned long long before = memoryTotal();
    void* p = trackedMalloc(1000);
    void* q = trackedCalloc(10, 10);
    EXPECT_EQ(memoryTotal(), before + 1100);
    free(p);
    free(q);
    EXPECT_GE(cpuMs(), 0);
}

}  // namespace
