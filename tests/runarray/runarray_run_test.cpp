// Sizing of the run text, the closing summary line (runs, flushes, suffixes), and a run
// that does not fit in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "runarray/runarray.h"
#include "tests/runarray/runarray_dataset.h"

using namespace runarray_test;

namespace {

InputCatalogue catalogueOf(std::vector<int32_t> lengths) {
    InputCatalogue inputs;
    inputs.count = (int)lengths.size();
    for (int32_t l : lengths) {
        inputs.maxLen = std::max(inputs.maxLen, l);
        inputs.sumLen += l;
    }
    inputs.lengths = lengths;
    return inputs;
}

TEST(RunarrayMaxSize, LimitsInTheirOrder) {
    SortSettings s;
    EXPECT_EQ(computeMaxSize(s, catalogueOf({5, 7})), 200000000);
    s.maxSALen = 15;
    EXPECT_EQ(computeMaxSize(s, catalogueOf({5, 7})), 15);
    // The longest input always fits in a run of its own.
    EXPECT_EQ(computeMaxSize(s, catalogueOf({5, 14})), 16);
    EXPECT_EQ(computeMaxSize(s, catalogueOf({5, 13})), 15);
    s.maxSALen = -4;
    EXPECT_EQ(computeMaxSize(s, catalogueOf({5, 7})), 9);
    s.maxSALen = 900000000;
    EXPECT_EQ(computeMaxSize(s, catalogueOf({5, 7})), 500000000);
    // -A: everything in one run, also under the cap; -S wins over -r.
    SortSettings all;
    all.all = 1;
    EXPECT_EQ(computeMaxSize(all, catalogueOf({20})), 22);
    EXPECT_EQ(computeMaxSize(all, catalogueOf({300000000, 250000000})), 500000000);
    SortSettings single;
    single.single = 1;
    single.maxSALen = 1000;
    EXPECT_EQ(computeMaxSize(single, catalogueOf({20, 3})), 22);
    // An input above the cap still gets its run.
    EXPECT_EQ(computeMaxSize(SortSettings{}, catalogueOf({600000000})), 600000002);
}

class RunarrayRun : public ::testing::Test {
protected:
    TempDir temp{"runarray_run"};
    const std::string dir = temp.path;

    Captured sort(const std::string& options) { return runProgram("runarray", dir + " ds " + options); }
    static std::string summary(const std::string& err) {
        size_t at = err.find("# sort: ");
        return at == std::string::npos ? "" : err.substr(at, err.find(" mem ", at) - at);
    }
};

TEST_F(RunarrayRun, SummaryCountsRunsFlushesAndSuffixes) {
    makeDataSet(dir, "ds", {"acgta", "cc", "gattaca", "", "tttt"});
    // Runs {0,1} (7 records: flushes of 3, 3, 1) and {2,3,4} (11 records: 3, 3, 3, 2).
    Captured r = sort("-r 15 -m 3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(summary(r.err), "# sort: 5 18, 2 runs, 7 flushes,");
    r = sort("-N -Z -r 15");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(summary(r.err), "# sort: 5 0, 2 runs, 0 flushes,");
    EXPECT_FALSE(std::filesystem::exists(dir + "ds.ST/ds_0.stpsa"));
    EXPECT_EQ(readFile(dir + "ds.ST/ds_1.stlcp").size(), 4u * 11);
}

TEST_F(RunarrayRun, NoInputsMakeOneEmptyRun) {
    makeDataSet(dir, "ds", {});
    Captured r = sort("-r 64");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(summary(r.err), "# sort: 0 0, 1 run, 0 flushes,");
    EXPECT_EQ(readRecords<uint32_t>(dir + "ds.ST/ds.stplengths"), std::vector<uint32_t>{0});
}

TEST_F(RunarrayRun, ExactFitOfTheBinaryBuffer) {
    // maxSize 22 gives 3 + 22/16 = 4 words: the input's 2 words and its 2 zero words.
    makeDataSet(dir, "ds", {"acgtacgtacgtacgtacgt"});
    Captured r = sort("-A");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("maxSize 22, outSize 65536, binSize 16\n"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir + "ds.ST/ds_0.stpsa").size(), 16u * 20);
}

#if defined(__SANITIZE_ADDRESS__)
#define RUNARRAY_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RUNARRAY_UNDER_ASAN 1
#endif
#endif

TEST_F(RunarrayRun, RunLargerThanMemoryNamesTheSize) {
#ifdef RUNARRAY_UNDER_ASAN
    GTEST_SKIP() << "a limit on the address space stops the sanitizer itself";
#else
    makeDataSet(dir, "ds", {"acgt"});
    // 256 MiB of address space: the 500,000,000-byte run text cannot be had.
    const Captured r = runCaptured("ulimit -v 262144; " + runarrayBinary() + " " + dir + " ds -q -r 500000000");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("## ERROR: can't allocate 500000000 bytes for the run text\n"), std::string::npos) << r.err;
#endif
}

}  // namespace

// The bits past an input's last base are cleared whatever the packed file holds there:
// prefix words and comparisons near the end of an input read them.
TEST_F(RunarrayRun, TailBitsOfPackedInputsAreIgnored) {
    makeDataSet(dir, "ds", {"acgta", "gattacagattacag", "cc"});
    Captured r = sort("-Z");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string clean = readFile(dir + "ds.ST/ds_0.stpsa"), cleanLcp = readFile(dir + "ds.ST/ds_0.stlcp");
    for (const char* input : {"ds_0", "ds_1", "ds_2"}) {
        const std::string path = dir + "ds.ST/" + input + ".stbin";
        std::string packed = readFile(path);
        ASSERT_EQ(packed.size() % 4, 0u);
        std::vector<uint32_t> words(packed.size() / 4);
        memcpy(words.data(), packed.data(), packed.size());
        words.back() |= 0xffffffffu >> (2 * 15);  // the last base of a word is never the 16th here
        writeBytes(path, words.data(), packed.size());
    }
    r = sort("-Z");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir + "ds.ST/ds_0.stpsa"), clean);
    EXPECT_EQ(readFile(dir + "ds.ST/ds_0.stlcp"), cleanLcp);
}
