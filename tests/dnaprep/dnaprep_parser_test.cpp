// The converter's pieces: the class table, packing, tail runs, file names, and the
// parser's state carried across chunk boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dnaprep/prep.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(DnaprepClassTable, SortsEveryByteIntoItsClass) {
    uint8_t table[256];
    buildClassTable(table, 0, 0);
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        SCOPED_TRACE(b);
        if (strchr("acgtACGT", c) && b) EXPECT_EQ(table[b], c | 32);
        else if (strchr("BDHKMNRSUVWYbdhkmnrsuvwy", c) && b) EXPECT_EQ(table[b], kWildcard);
        else if (b == '\n' || b == '\r') EXPECT_EQ(table[b], kLineBreak);
        else if (b == '>') EXPECT_EQ(table[b], kHeaderStart);
        else EXPECT_EQ(table[b], kGarbage);  // E, X, Z, digits, blanks, NUL, bytes from 128
    }
}

TEST(DnaprepClassTable, UpperCaseAndMaskingCombine) {
    uint8_t table[256];
    buildClassTable(table, 1, 0);
    EXPECT_EQ(table['a'], 'A');
    EXPECT_EQ(table['T'], 'T');
    // -t applies after -u: lower-case bases become wildcards, upper case stays upper.
    buildClassTable(table, 1, 1);
    EXPECT_EQ(table['g'], kWildcard);
    EXPECT_EQ(table['G'], 'G');
    buildClassTable(table, 0, 1);
    EXPECT_EQ(table['c'], kWildcard);
    EXPECT_EQ(table['C'], 'c');
}

// The sixteen-byte check stands in for the class table only where the two agree.
TEST(DnaprepClassTable, VectorCheckOnlyForThePlainTables) {
    PrepRun run;
    for (int ucase = 0; ucase < 2; ++ucase) {
        for (int trmask = 0; trmask < 2; ++trmask) {
            buildClassTable(run.classTable, ucase, trmask);
            setUpVectorBases(run);
            EXPECT_EQ(run.vectorLowerIn, !trmask);
            EXPECT_EQ(run.vectorUpperOut, static_cast<bool>(ucase));
#ifdef __SSE2__
            EXPECT_TRUE(run.vectorBases) << ucase << trmask;
#endif
        }
    }
    buildClassTable(run.classTable, 0, 0);
    run.classTable[static_cast<uint8_t>('u')] = 't';  // a table with one more base
    setUpVectorBases(run);
    EXPECT_FALSE(run.vectorBases);
}

TEST(DnaprepPack, FirstBaseInTopBitsBothCasesAndZeroPadding) {
    uint8_t bases[32] = {};
    uint32_t words[2];
    memcpy(bases, "acgtACGTttttgggg", 16);
    memcpy(bases + 16, "c", 1);  // the rest is zero padding, packed as a
    EXPECT_EQ(packDna(words, bases, 32), 2);
    EXPECT_EQ(words[0], 0x1B1BFFAAu);
    EXPECT_EQ(words[1], 0x40000000u);
}

TEST(DnaprepPack, MatchesBaseByBaseCodes) {
    const unsigned seed = testsupport::firstSeed(7);
    SCOPED_TRACE(testsupport::seedNote(seed));
    std::mt19937 rng(seed);
    const char letters[] = "acgtACGT";
    std::vector<uint8_t> bases(16 * 64);
    for (uint8_t& b : bases) b = static_cast<uint8_t>(letters[rng() % 8]);
    std::vector<uint32_t> words(64);
    ASSERT_EQ(packDna(words.data(), bases.data(), static_cast<int>(bases.size())), 64);
    for (size_t i = 0; i < bases.size(); ++i) {
        const int code = static_cast<int>(strchr("acgt", bases[i] | 32) - "acgt");
        EXPECT_EQ((words[i / 16] >> (30 - 2 * (i % 16))) & 3u, static_cast<uint32_t>(code)) << i;
    }
}

TEST(DnaprepTailRun, StartOfTheRunThatEndsTheBuffer) {
    const uint8_t dna[] = {'a', 'c', 'g', 't', 't', 't', 'g'};
    EXPECT_EQ(tailRunStart(dna, 6), 3);
    EXPECT_EQ(tailRunStart(dna, 7), 6);
    EXPECT_EQ(tailRunStart(dna + 3, 3), 0);  // a run that fills the buffer
}

TEST(DnaprepFileName, CutsTheExtensionOfTheLastPathPart) {
    EXPECT_EQ(fileNameOf("chr1.fa"), "chr1");
    EXPECT_EQ(fileNameOf("dir/chr1.fa.gz"), "dir/chr1.fa");
    EXPECT_EQ(fileNameOf("data.old/chr1"), "data.old/chr1");
    EXPECT_EQ(fileNameOf(".fa"), ".fa");
    EXPECT_EQ(fileNameOf("chr1."), "chr1");
    EXPECT_EQ(fileNameOf("chr1"), "chr1");
}

// A run that writes into a fresh temporary data-set directory and prints no table.
class ParserRun : public ::testing::Test {
protected:
    void SetUp() override {
        settings_.prefix = "t";
        settings_.keybset = 8;
        run_.settings = &settings_;
        run_.datasetDir = dir_;
        setUpBuffers(run_, settings_);
        buildClassTable(run_.classTable, 0, 0);
        setUpVectorBases(run_);
    }
    void TearDown() override {
        for (void* buffer : {static_cast<void*>(run_.lengths), static_cast<void*>(run_.input),
                             static_cast<void*>(run_.dna), static_cast<void*>(run_.packed),
                             static_cast<void*>(run_.key)}) {
            free(buffer);
        }
    }
    // Parses `text` as one file, cut into chunks at the given positions.
    void parseFile(const std::string& text, std::vector<size_t> cuts) {
        startFile(run_);
        cuts.push_back(text.size());
        size_t from = 0;
        for (size_t cut : cuts) {
            if (cut > from) parseChunk(run_, reinterpret_cast<const uint8_t*>(text.data()) + from, cut - from);
            from = cut;
        }
        endFile(run_);
    }
    PrepSettings settings_;
    PrepRun run_;
    testsupport::TempDir temp_{"dnaprep_parser"};
    const std::string dir_ = temp_.path;
};

TEST_F(ParserRun, WildcardSectionsJoinOnlyAcrossLineBreaksAndChunkEnds) {
    // sections: "N|N" (one, across a chunk end), "N\n|N" (one), "Na|N" (two)
    parseFile(">s\nacN", {});
    EXPECT_EQ(run_.sectionTotal, 1);
    parseFile(">s\nN\r\nN", {4});
    EXPECT_EQ(run_.sectionTotal, 2);
    parseFile(">s\nNa\nN", {6});
    EXPECT_EQ(run_.sectionTotal, 4);
    parseFile(">s\nNN", {4});
    EXPECT_EQ(run_.sectionTotal, 5);
    EXPECT_EQ(run_.wildTotal, 1 + 2 + 2 + 2);
}

TEST_F(ParserRun, SectionsNeverJoinAcrossSequences) {
    parseFile(">a\nacgN\n>b\nNacg", {10});
    EXPECT_EQ(run_.sectionTotal, 2);
    EXPECT_EQ(run_.seqsWithWild, 2);
}

TEST_F(ParserRun, KeyIsCutAndContinuesAcrossChunks) {
    // key room 8 - 2 = 6 bytes: ">abcde"; the rest of the line is skipped, also
    // when the chunk ends inside it
    parseFile(">abcdefghij\nac", {3, 9});
    EXPECT_STREQ(run_.key, ">abcde");
    EXPECT_EQ(run_.lengths[0], 2);
}

TEST_F(ParserRun, ChunkSplitsDoNotChangeAnything) {
    const std::string text = ">one two\r\nacgtNN\nNNacXgt\n>\n\n>3\nggggNaNNN\n\nNtt";
    parseFile(text, {});
    const int64_t sections = run_.sectionTotal, wild = run_.wildTotal, garbage = run_.garbageTotal;
    const int inputs = run_.inputNumber;
    ASSERT_EQ(inputs, 3);
    for (size_t cut = 1; cut < text.size(); ++cut) {
        parseFile(text, {cut, std::min(cut + 1 + cut % 7, text.size())});
    }
    const int files = run_.inputNumber / inputs;
    EXPECT_EQ(run_.inputNumber, files * inputs);
    EXPECT_EQ(run_.sectionTotal, sections * files);
    EXPECT_EQ(run_.wildTotal, wild * files);
    EXPECT_EQ(run_.garbageTotal, garbage * files);
    for (int i = 0; i < run_.inputNumber && i < kLengthsEntries; ++i) {
        EXPECT_EQ(run_.lengths[i], run_.lengths[i % inputs]) << "input " << i;
    }
}

}  // namespace

namespace {

// The bit-lengths catalogue holds twice each length in 32 bits: a longer sequence
// must stop the run with its name, not wrap.
TEST_F(ParserRun, SequenceBeyondTheCatalogueLimitIsFatal) {
    run_.fastaPath = "in/big.fa";
    parseFile(">big\nac", {});
    ASSERT_EQ(run_.lengths[0], 2);
    EXPECT_EXIT(
        {
            startFile(run_);
            const std::string text = ">huge\nacgt";
            parseChunk(run_, reinterpret_cast<const uint8_t*>(text.data()), text.size());
            run_.seq.dnaSize = kMaxInputLength - 3;
            endFile(run_);
        },
        ::testing::ExitedWithCode(1), "## ERROR: sequence 2 \\(huge\\) in in/big.fa has more than 1073741823 bases");
}

}  // namespace
