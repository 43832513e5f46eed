// Unit tests of the shared toolkit: number parsing, the chunked writer, bit vectors,
// paths, the option scanner, the catalogue readers, the names catalogue and coordinate map, and the
// input stream (plain, gzip, multi-member gzip).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"
#include "toolkit/bit_vector.h"
#include "toolkit/catalogue.h"
#include "toolkit/checksum.h"
#include "toolkit/dividers.h"
#include "toolkit/file_io.h"
#include "toolkit/hash_set.h"
#include "toolkit/input_stream.h"
#include "toolkit/names_map.h"
#include "toolkit/options.h"
#include "toolkit/packed_input.h"
#include "toolkit/run.h"

namespace {

struct TempDir : testsupport::TempDir {
    TempDir() : testsupport::TempDir("toolkit-test") {}
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

// A read or write that fails before the first byte says -1 (the golden case of
// interrupted builds has one that fails later).
TEST(WriteAll, CountsTheBytesBeforeAFailure) {
    std::vector<char> buffer(3 * 262144 + 1);
    EXPECT_EQ(writeAll(-1, buffer.data(), 262144), -1);
    EXPECT_EQ(writeAll(-1, buffer.data(), 3 * 262144 + 1), -1);
    EXPECT_EQ(writeAll(-1, buffer.data(), 0), 0);
    EXPECT_EQ(readAll(-1, buffer.data(), 10), -1);
}

TEST(WriteAll, WritesEveryByteInOrder) {
    TempDir dir;
    std::string path = dir.path + "out";
    std::vector<char> buffer(600000);
    for (size_t i = 0; i < buffer.size(); i++) buffer[i] = (char)(i * 7 + i / 1000);
    FileDescriptor fd(openFile(path.c_str(), 1));
    ASSERT_TRUE(fd.ok());
    EXPECT_EQ(writeAll(fd.fd, buffer.data(), buffer.size()), (int64_t)buffer.size());
    // At an offset, the file position stays where it was.
    EXPECT_EQ(writeAll(fd.fd, buffer.data(), 10, 5), 10);
    EXPECT_EQ(lseek(fd.fd, 0, SEEK_CUR), (off_t)buffer.size());
    const std::vector<char> head(buffer.begin(), buffer.begin() + 10);
    std::copy(head.begin(), head.end(), buffer.begin() + 5);
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

TEST(Catalogues, FoundSizedReadAndSummed) {
    TempDir dir;
    const std::string base = dir.path + "x";
    writeInts(base + ".stlengths", {5, 0, 17}, 2);  // two stray bytes are no entry
    writeInts(base + ".stblengths", {10, 0, 34});
    InputCatalogues c = findInputCatalogues(base);
    EXPECT_EQ(c.inputs, 3);
    int32_t lengths[3], bits[3];
    readInputCatalogues(c, 3, lengths, bits, nullptr);
    EXPECT_EQ(lengths[2], 17);
    EXPECT_EQ(bits[2], 34);
    EXPECT_EQ(c.longest, 17);
    EXPECT_EQ(c.totalBases, 22);
    // The first entries only (treebuild -N): the sums cover only those.
    readInputCatalogues(c, 2, lengths, bits, nullptr);
    EXPECT_EQ(c.longest, 5);
    EXPECT_EQ(c.totalBases, 5);
}

TEST(Catalogues, EveryFaultStopsNamingTheFile) {
    TempDir dir;
    const std::string base = dir.path + "x";
    EXPECT_EXIT(findInputCatalogues(base), testing::ExitedWithCode(1),
                "could not open lengths file \"" + base + ".stlengths\"");
    writeInts(base + ".stlengths", {5, 2});
    EXPECT_EXIT(findInputCatalogues(base), testing::ExitedWithCode(1),
                "Could not open binary lengths file \"" + base + ".stblengths\"");
    writeInts(base + ".stblengths", {10});
    EXPECT_EXIT(findInputCatalogues(base), testing::ExitedWithCode(1), "catalogues differ in length: .* has 2 entries, .* has 1");
    int32_t lengths[2], bits[2];
    writeInts(base + ".stblengths", {10, 5});
    InputCatalogues c = findInputCatalogues(base);
    EXPECT_EXIT(readInputCatalogues(c, 2, lengths, bits, nullptr), testing::ExitedWithCode(1),
                "bad lengths: input 1 has 2 bases but 5 bits in \"" + base + ".stblengths\"");
    writeInts(base + ".stlengths", {5, -2});
    writeInts(base + ".stblengths", {10, -4});
    EXPECT_EXIT(readInputCatalogues(c, 2, lengths, bits, nullptr), testing::ExitedWithCode(1),
                "input 1 has the negative length -2 in \"" + base + ".stlengths\"");
    // A catalogue that shrank between sizing and reading.
    writeInts(base + ".stlengths", {5});
    EXPECT_EXIT(readInputCatalogues(c, 2, lengths, bits, nullptr), testing::ExitedWithCode(1),
                "catalogue .*x.stlengths\" holds 1 entries, 2 expected");
}

TEST(Catalogues, VerifiedAgainstTheirChecksums) {
    TempDir dir;
    const std::string base = dir.path + "x";
    writeInts(base + ".stlengths", {5, 2});
    writeInts(base + ".stblengths", {10, 4});
    writeChecksumFile(base + ".stinsum", {hashFile(base + ".stlengths"), hashFile(base + ".stblengths")});
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(base + ".stinsum"));
    InputCatalogues c = findInputCatalogues(base);
    int32_t lengths[2], bits[2];
    readInputCatalogues(c, 2, lengths, bits, &sums);
    // Consistent entries, but not the ones the checksums vouch for.
    writeInts(base + ".stlengths", {6, 2});
    writeInts(base + ".stblengths", {12, 4});
    EXPECT_EXIT(readInputCatalogues(c, 2, lengths, bits, &sums), testing::ExitedWithCode(1), "x.stlengths is damaged");
}

TEST(Catalogues, PartitionsSplitTheInputs) {
    TempDir dir;
    const std::string p = dir.path + "x.stplengths";
    writeInts(p, {2, 1});
    EXPECT_EQ(catalogueEntries(p), 2);
    EXPECT_EQ(catalogueEntries(dir.path + "none"), -1);
    int32_t parts[2];
    readPartitions(p, 2, parts, 3, nullptr);
    EXPECT_EQ(parts[0], 2);
    EXPECT_EQ(parts[1], 1);
    EXPECT_EXIT(readPartitions(p, 2, parts, 4, nullptr), testing::ExitedWithCode(1),
                "its runs hold 3 inputs, the data set has 4");
    EXPECT_EXIT(readPartitions(p, 2, parts, 2, nullptr), testing::ExitedWithCode(1),
                "run 1 holds 1 inputs, beyond the 2 inputs");
    writeInts(p, {-1, 4});
    EXPECT_EXIT(readPartitions(p, 2, parts, 3, nullptr), testing::ExitedWithCode(1), "run 0 holds -1 inputs");
    EXPECT_EXIT(readPartitions(dir.path + "none", 1, parts, 3, nullptr), testing::ExitedWithCode(1),
                "Could not open partitions file");
}

TEST(Dividers, WrittenARecordAtATimeThenReadVerified) {
    TempDir dir;
    const std::string path = dir.path + "x.stdiv";
    writeInts(path, {1});  // an earlier build's file goes when the writer opens
    DividersWriter out;
    out.open(path);
    EXPECT_NE(fileSizeByStat(temporaryName(path).c_str()), -1);
    EXPECT_EQ(fileSizeByStat(path.c_str()), -1);
    std::vector<TreeDivider> written = {{5, 1, 0, 3, 2, {}}, {9, 5, 1, 7, 4, {}}};
    for (const TreeDivider& d : written) EXPECT_EQ(out.append(d), "");
    writeChecksumFile(dir.path + "x.streesum", {out.finish()});
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(dir.path + "x.streesum"));
    std::vector<TreeDivider> read;
    ASSERT_TRUE(readDividerFile(path, read, &sums));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].to, 9u);
    EXPECT_EQ(read[1].nodes, 7);
    EXPECT_EQ(dividersProblem(path, read.data(), 2, -1), "");
    EXPECT_EQ(dividersProblem(path, read.data(), 2, 6), "");  // 3 + 7 records hold 2-2 and 4-6 suffixes
    EXPECT_NE(dividersProblem(path, read.data(), 2, 9).find("hold between 6 and 8 suffixes"), std::string::npos);
    read[1].from = 4;
    EXPECT_NE(dividersProblem(path, read.data(), 2, -1).find("divider 1 has its first key below the last key"),
              std::string::npos);

    // Damage is fatal, or kept for a verifier; so is a size that holds no whole records.
    FILE* f = fopen(path.c_str(), "r+b");
    fputc(0x77, f);
    fclose(f);
    EXPECT_EXIT(readDividerFile(path, read, &sums), testing::ExitedWithCode(1), "x.stdiv is damaged: block 0");
    std::string fault;
    EXPECT_FALSE(readDividerFile(path, read, &sums, &fault));
    EXPECT_NE(fault.find("is damaged: block 0"), std::string::npos) << fault;
    writeInts(path, {1, 2, 3});
    fault.clear();
    EXPECT_FALSE(readDividerFile(path, read, nullptr, &fault));
    EXPECT_NE(fault.find("has 12 bytes, not a whole number of 24-byte dividers"), std::string::npos) << fault;
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

// A small table with one row of each kind, scanned over `words` (argv[0] added).
struct ScannerCase {
    int flag = 0, number = 0, optional = 0, hooked = 0;
    const char* text = nullptr;
    const char* first = nullptr;
    const char* second = nullptr;
    std::vector<std::unique_ptr<std::vector<std::string>>> kept;  // argv outlives the values it gave
    ScanResult scan(std::vector<std::string> given, bool files = false) {
        static int hookCalls;
        hookCalls = 0;
        const OptionRow rows[] = {flagRow('f', &flag, [] { ++hookCalls; }), numberRow('n', &number),
                                  optionalNumberRow('0', &optional, 7), textRow('t', &text), helpRow('h')};
        const char* const usage[] = {"%s <a> <b>\n"};
        CommandLine line;
        line.rows = rows;
        line.rowCount = 5;
        line.usage = usage;
        line.usageCount = 1;
        line.mains[0] = &first;
        line.mains[1] = &second;
        line.mainCount = 2;
        line.dashIsArgument = files;
        line.filesFollowMains = files;
        line.messages = {"pending at '%s'\n", files ? nullptr : "pending at end\n", "unknown '%s'\n", "extra '%s'\n"};
        kept.push_back(std::make_unique<std::vector<std::string>>(std::move(given)));
        std::vector<std::string>& words = *kept.back();
        words.insert(words.begin(), "prog");
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        ScanResult result = scanCommandLine((int)argv.size(), argv.data(), line);
        hooked = hookCalls;
        return result;
    }
};

TEST(OptionScanner, RowsValuesMainsAndFileLists) {
    ScannerCase a;
    // Values are taken whatever they look like, options may stand between the mains,
    // and only the option's first letter counts.
    EXPECT_EQ(a.scan({"-t", "x", "A", "-flag", "-n", "2^4", "B", "-0"}).mains, 2);
    EXPECT_STREQ(a.text, "x");
    EXPECT_STREQ(a.first, "A");
    EXPECT_STREQ(a.second, "B");
    EXPECT_EQ(a.flag, 1);
    EXPECT_EQ(a.hooked, 1);
    EXPECT_EQ(a.number, 16);
    EXPECT_EQ(a.optional, 7);  // no value before the end
    ScannerCase b;
    b.scan({"-0", "-f", "A"});
    EXPECT_EQ(b.optional, 7);  // no value before the next option
    EXPECT_STREQ(b.first, "A");
    b.scan({"-0", "3"});
    EXPECT_EQ(b.optional, 3);
    // With a file list, "-" is an argument and everything after the mains is a file.
    ScannerCase c;
    ScanResult files = c.scan({"-n", "-", "A", "B", "-", "-f"}, true);
    EXPECT_EQ(c.number, 0);
    EXPECT_EQ(files.firstFile, 5);
    EXPECT_EQ(c.flag, 0);
    EXPECT_EQ(c.scan({"A", "-n"}, true).firstFile, 0);  // no end check without its message
}

TEST(OptionScanner, ErrorsInTheProgramsWords) {
    ScannerCase s;
    EXPECT_EXIT(s.scan({"-n", "-f"}), testing::ExitedWithCode(1), "## ERROR: pending at '-f'");
    EXPECT_EXIT(s.scan({"A", "-t"}), testing::ExitedWithCode(1), "## ERROR: pending at end");
    EXPECT_EXIT(s.scan({"-z"}), testing::ExitedWithCode(1), "## ERROR: unknown '-z'");
    EXPECT_EXIT(s.scan({"-"}), testing::ExitedWithCode(1), "## ERROR: unknown '-'");
    EXPECT_EXIT(s.scan({"A", "B", "C"}), testing::ExitedWithCode(1), "## ERROR: extra 'C'");
    EXPECT_EXIT((s.scan({"-h", "A", "B"}), exit(3)), testing::ExitedWithCode(3), "# prog <a> <b>");
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

TEST(PackedInput, DamageIsKeptForAWorkerOrStops) {
    TempDir dir;
    const std::string path = dir.path + "x_0.stbin", sumsPath = dir.path + "x.stinsum";
    writeInts(path, {0x12345678, 0x0f0f0f0f});
    writeChecksumFile(sumsPath, {hashFile(path)});
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(sumsPath));
    std::vector<uint32_t> words(2);
    size_t got = 0;
    std::string fault;
    EXPECT_EQ(readPackedInput(path.c_str(), words.data(), 64, &got, &sums, &fault), PackedRead::whole);
    EXPECT_EQ(fault, "");
    writeInts(path, {0x12345678, 0x0f0f0f0e});
    EXPECT_EQ(readPackedInput(path.c_str(), words.data(), 64, &got, &sums, &fault), PackedRead::failed);
    EXPECT_NE(fault.find(path + " is damaged: block 0"), std::string::npos) << fault;
    EXPECT_EXIT(readPackedInput(path.c_str(), words.data(), 64, &got, &sums), testing::ExitedWithCode(1),
                "x_0.stbin is damaged: block 0");
    // Another size than the checksum file's is a fault before any read.
    writeInts(path, {0x12345678});
    fault.clear();
    EXPECT_EQ(readPackedInput(path.c_str(), words.data(), 32, &got, &sums, &fault), PackedRead::failed);
    EXPECT_NE(fault.find("holds 4 bytes, its checksum file"), std::string::npos) << fault;
}

TEST(RunConventions, VersionAndClocks) {
    const char* v = versionString();
    EXPECT_EQ(v, versionString());
    EXPECT_EQ(std::string(v).size(), 20u);  // "Mmm dd yyyy hh:mm:ss"
    // Both clocks advance: the wall clock across a sleep, the CPU clock across work.
    const int t0 = msClock();
    usleep(30000);
    EXPECT_GE(msClock() - t0, 25);
    EXPECT_LT(msClock() - t0, 30000);
    const int cpu0 = cpuMs();
    volatile unsigned spin = 0;
    for (const int start = msClock(); cpuMs() - cpu0 < 5 && msClock() - start < 10000;) spin = spin + 1;
    EXPECT_GE(cpuMs() - cpu0, 5) << "the CPU clock did not move in 10 s of work";
    unsigned long long before = memoryTotal();
    void* p = trackedMalloc(1000);
    void* q = trackedCalloc(10, 10);
    EXPECT_EQ(memoryTotal(), before + 1100);
    free(p);
    free(q);
}

// A sequence layout as text: 'b' a base, 'x' a removed character. The map is coded
// here from the layout, the way the format says, independently of dnaprep's writer.
std::string mapRecordOf(const std::string& layout, int64_t chopped) {
    std::string record;
    int64_t bases = 0, lastAt = 0;
    for (size_t i = 0; i < layout.size();) {
        if (layout[i] == 'b') {
            ++bases, ++i;
            continue;
        }
        size_t j = i;
        while (j < layout.size() && layout[j] == 'x') ++j;
        appendVarint(record, j - i);
        appendVarint(record, static_cast<uint64_t>(bases - lastAt));
        lastAt = bases;
        i = j;
    }
    appendVarint(record, 0);
    appendVarint(record, static_cast<uint64_t>(bases - chopped));
    appendVarint(record, static_cast<uint64_t>(chopped));
    return record;
}

std::string mapFileOf(const std::vector<std::string>& records) {
    std::string file = kMapMagic;
    for (const std::string& r : records) file += r;
    const uint64_t count = records.size();
    file.append(reinterpret_cast<const char*>(&count), 8);
    return file + kMapEnd;
}

TEST(CoordinateMap, OffsetsAndSpansAgreeWithBruteForce) {
    TempDir dir;
    const unsigned seed = testsupport::firstSeed(20261213);
    SCOPED_TRACE(testsupport::seedNote(seed));
    std::mt19937 rng(seed);
    // start, end, adjacent stretches (one base apart), all removed, no stretch, empty
    std::vector<std::string> layouts = {"xxbbxbxbbxx", "bxbxbxb", "xxxx", "bbbb", "", "x", "b", "xbbbbx"};
    for (int k = 0; k < 300; ++k) {
        std::string layout(rng() % 60, 'b');
        for (char& c : layout) c = rng() % 3 == 0 ? 'x' : 'b';
        layouts.push_back(layout);
    }
    std::vector<std::string> records;
    std::vector<int64_t> chops;
    for (const std::string& layout : layouts) {
        const int64_t bases = std::count(layout.begin(), layout.end(), 'b');
        chops.push_back(bases ? static_cast<int64_t>(rng() % (bases + 1)) / 2 : 0);
        records.push_back(mapRecordOf(layout, chops.back()));
    }
    std::ofstream(dir.path + "p.stmap", std::ios::binary) << mapFileOf(records);
    const std::vector<InputMap> maps = readCoordinateMap(dir.path + "p.stmap", ChecksumFile{});
    ASSERT_EQ(maps.size(), layouts.size());

    for (size_t k = 0; k < layouts.size(); ++k) {
        const std::string& layout = layouts[k];
        const InputMap& map = maps[k];
        SCOPED_TRACE(layout);
        std::vector<int64_t> offsets;  // FASTA offset of every base, chopped ones included
        for (size_t i = 0; i < layout.size(); ++i) {
            if (layout[i] == 'b') offsets.push_back(static_cast<int64_t>(i));
        }
        EXPECT_EQ(map.kept + map.chopped, static_cast<int64_t>(offsets.size()));
        EXPECT_EQ(map.chopped, chops[k]);
        EXPECT_EQ(fastaLength(map), static_cast<int64_t>(layout.size()));
        for (size_t i = 0; i < offsets.size(); ++i) EXPECT_EQ(fastaOffset(map, i), offsets[i]) << "base " << i;
        for (size_t a = 0; a < offsets.size(); ++a) {
            for (size_t b = a + 1; b <= offsets.size(); ++b) {
                const bool gap = offsets[b - 1] - offsets[a] != static_cast<int64_t>(b - 1 - a);
                EXPECT_EQ(spansRemoved(map, a, b), gap) << "[" << a << ", " << b << ")";
            }
        }
    }
}

TEST(CoordinateMap, DamageAndAbsenceAreErrors) {
    TempDir dir;
    const std::string good = mapFileOf({mapRecordOf("xbbxb", 1), mapRecordOf("bb", 0)});
    auto readBytes = [&](const std::string& bytes) {
        std::ofstream(dir.path + "m.stmap", std::ios::binary) << bytes;
        readCoordinateMap(dir.path + "m.stmap", ChecksumFile{});
    };
    EXPECT_EXIT(readCoordinateMap(dir.path + "none.stmap", ChecksumFile{}), ::testing::ExitedWithCode(1),
                "## ERROR: coordinate map .*none.stmap is missing: the data set was made without it");
    EXPECT_EXIT(readBytes(good.substr(0, good.size() - 1)), ::testing::ExitedWithCode(1), "incomplete");
    std::string miscounted = good;
    miscounted[miscounted.size() - 16] = 3;
    EXPECT_EXIT(readBytes(miscounted), ::testing::ExitedWithCode(1), "fewer inputs than its trailer counts");
    std::string cut = good;
    cut.erase(9, 1);  // the first record loses a byte
    EXPECT_EXIT(readBytes(cut), ::testing::ExitedWithCode(1), "damaged");
}

TEST(NamesCatalogue, EscapedFieldsRoundTripAndBadLinesStop) {
    TempDir dir;
    const std::string odd = "a\tb\\c\nd\re";
    std::ofstream(dir.path + "p.stnames") << kNamesHeader << "chr1\tin/x.fa\t100\t90\n"
                                          << escapeField(odd) << "\t" << escapeField(odd) << "\t0\t0\n";
    const auto names = readNamesCatalogue(dir.path + "p.stnames", ChecksumFile{});
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].name, "chr1");
    EXPECT_EQ(names[0].file, "in/x.fa");
    EXPECT_EQ(names[0].fastaLength, 100);
    EXPECT_EQ(names[0].filteredLength, 90);
    EXPECT_EQ(names[1].name, odd);
    EXPECT_EQ(names[1].file, odd);

    auto readText = [&](const std::string& text) {
        std::ofstream(dir.path + "n.stnames") << text;
        readNamesCatalogue(dir.path + "n.stnames", ChecksumFile{});
    };
    EXPECT_EXIT(readText("chr1\tx\t1\t1\n"), ::testing::ExitedWithCode(1), "header line");
    EXPECT_EXIT(readText(std::string(kNamesHeader) + "chr1\tx\t1\n"), ::testing::ExitedWithCode(1),
                "line 2: 3 fields instead of 4");
    EXPECT_EXIT(readText(std::string(kNamesHeader) + "chr1\tx\t1\t2\n"), ::testing::ExitedWithCode(1),
                "more bases than FASTA characters");
    EXPECT_EXIT(readText(std::string(kNamesHeader) + "chr1\tx\t1\t-1\n"), ::testing::ExitedWithCode(1),
                "is not a length");
    EXPECT_EXIT(readText(std::string(kNamesHeader) + "chr1\tx\t1\t1"), ::testing::ExitedWithCode(1), "incomplete");
    EXPECT_EXIT(readNamesCatalogue(dir.path + "none.stnames", ChecksumFile{}), ::testing::ExitedWithCode(1),
                "is missing");
}

// Everything the stream gives for `path`, read in pieces of `piece` bytes.
std::string readStream(const std::string& path, size_t piece) {
    InputStream in;
    if (!openInputStream(in, path)) return "(cannot open)";
    std::string out(piece, 0), all;
    for (;;) {
        const size_t got = readInputStream(in, reinterpret_cast<uint8_t*>(out.data()), piece);
        all.append(out, 0, got);
        if (got < piece) return all;
    }
}

TEST(InputStream, PlainGzipAndMultiMemberGiveTheSameBytes) {
    TempDir dir;
    std::mt19937 rng(7);
    std::string text;
    for (int i = 0; i < 300000; ++i) text += "acgtN\n"[rng() % 6];
    std::ofstream(dir.path + "t.fa", std::ios::binary) << text.substr(0, 1000) << text.substr(1000);
    std::ofstream(dir.path + "a.fa", std::ios::binary) << text.substr(0, 1000);
    std::ofstream(dir.path + "b.fa", std::ios::binary) << text.substr(1000);
    const std::string d = dir.path;
    ASSERT_EQ(system(("gzip -c " + d + "t.fa > " + d + "t.dat && gzip -c " + d + "a.fa > " + d + "two.gz && gzip -c " +
                      d + "b.fa >> " + d + "two.gz")
                         .c_str()),
              0);
    for (size_t piece : {size_t{1} << 20, size_t{4096}, size_t{7}}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(readStream(d + "t.fa", piece), text);
        EXPECT_EQ(readStream(d + "t.dat", piece), text);  // recognised by its bytes, not its name
        EXPECT_EQ(readStream(d + "two.gz", piece), text);
    }
    std::ifstream in(d + "two.gz", std::ios::binary);
    const std::string gz((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(d + "cut.gz", std::ios::binary) << gz.substr(0, gz.size() / 2);
    EXPECT_EXIT(readStream(d + "cut.gz", 4096), ::testing::ExitedWithCode(1), "gzip data in .*cut.gz is truncated");
    std::string flipped = gz;
    flipped[gz.size() - 6] ^= 0x40;  // the last member's checksum
    std::ofstream(d + "bad.gz", std::ios::binary) << flipped;
    EXPECT_EXIT(readStream(d + "bad.gz", 4096), ::testing::ExitedWithCode(1), "gzip data in .*bad.gz is corrupt");
    std::ofstream(d + "tail.gz", std::ios::binary) << gz << "junk";
    EXPECT_EXIT(readStream(d + "tail.gz", 4096), ::testing::ExitedWithCode(1), "bytes after its gzip data");
    EXPECT_EQ(readStream(d + "missing.fa", 10), "(cannot open)");
}

}  // namespace
