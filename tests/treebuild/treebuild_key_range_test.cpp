// Key ranges and the join: the split gives contiguous ranges of similar size, range
// texts read back as written, and parts built one range each and joined answer as
// one build does, with their trees in key order, continuous dividers and checksums
// that cover every joined file.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/output.h"
#include "tests/support/run.h"
#include "tests/treebuild/treebuild_dataset.h"
#include "toolkit/checksum.h"
#include "treebuild/treebuild.h"

using namespace tbdata;

namespace {

constexpr uint64_t kAllKeys = uint64_t(1) << 32;

// The ranges cover every key once, in order.
void expectContiguous(const std::vector<KeyRange>& ranges) {
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(ranges.front().low, 0u);
    EXPECT_EQ(ranges.back().high, kAllKeys);
    for (size_t r = 0; r < ranges.size(); r++) {
        EXPECT_LE(ranges[r].low, ranges[r].high);
        if (r > 0) {
            EXPECT_EQ(ranges[r].low, ranges[r - 1].high);
        }
    }
}

size_t inRange(const std::vector<uint64_t>& keys, const KeyRange& range) {
    return (size_t)std::count_if(keys.begin(), keys.end(),
                                 [&](uint64_t k) { return k >= range.low && k < range.high; });
}

TEST(KeyRanges, SplitGivesContiguousRangesOfSimilarSize) {
    std::mt19937 rng(firstSeed(23));
    std::vector<uint64_t> keys(10000);
    for (uint64_t& k : keys) k = rng();
    for (int count : {1, 3, 7}) {
        std::vector<KeyRange> ranges = splitKeys(keys, count);
        ASSERT_EQ(ranges.size(), (size_t)count);
        expectContiguous(ranges);
        for (const KeyRange& range : ranges)
            EXPECT_NEAR((double)inRange(keys, range), 10000.0 / count, 2.0) << formatKeyRange(range);
    }
    // One key held by most suffixes cannot be cut: the ranges after it stay empty
    // and the count of ranges is kept, so that every job has its range.
    std::vector<uint64_t> heavy(1000, 0x12345678u);
    for (int i = 0; i < 100; i++) heavy.push_back(rng());
    std::vector<KeyRange> ranges = splitKeys(heavy, 5);
    ASSERT_EQ(ranges.size(), 5u);
    expectContiguous(ranges);
    size_t total = 0;
    for (const KeyRange& range : ranges) total += inRange(heavy, range);
    EXPECT_EQ(total, heavy.size());
    expectContiguous(splitKeys({}, 3));
}

TEST(KeyRanges, TextsReadBackAsWritten) {
    KeyRange r = parseKeyRange("ACG:ctt");
    EXPECT_EQ(r.bases, 3);
    EXPECT_EQ(r.low, 6u);    // A C G: 0 1 2
    EXPECT_EQ(r.high, 31u);  // C T T: 1 3 3
    EXPECT_EQ(formatKeyRange(r), "ACG:CTT");
    EXPECT_EQ(formatKeyRange(parseKeyRange(":GT")), ":GT");
    EXPECT_EQ(formatKeyRange(parseKeyRange("T:")), "T:");
    KeyRange all = parseKeyRange(":");
    EXPECT_EQ(all.low, 0u);
    EXPECT_EQ(all.high, 4u);
    for (const KeyRange& range : splitKeys({5, 900000, 3000000000u}, 3)) {
        KeyRange back = parseKeyRange(formatKeyRange(range).c_str());
        EXPECT_EQ(back.low, range.low);
        EXPECT_EQ(back.high, range.high);
    }
    EXPECT_EXIT(parseKeyRange("AC:G"), testing::ExitedWithCode(1), "same number of bases");
    EXPECT_EXIT(parseKeyRange("ACX:"), testing::ExitedWithCode(1), "'X' is not one of A, C, G, T");
    EXPECT_EXIT(parseKeyRange("G:C"), testing::ExitedWithCode(1), "ends before it starts");
    EXPECT_EXIT(parseKeyRange("ACG"), testing::ExitedWithCode(1), "is not <from>:<to>");
}

class KeyRangeJoin : public ::testing::Test {
protected:
    TempDir temp{"tbjoin"};
    const std::string dir = temp.path;
    std::string base;

    void SetUp() override {
        std::mt19937 rng(firstSeed(23));
        std::vector<std::string> inputs;
        for (int i = 0; i < 6; i++) inputs.push_back(randomBases(rng, 200 + 50 * i, 4));
        inputs.push_back(inputs[2]);  // identical suffixes in two runs
        base = writeInputs(dir, "ds", inputs);
        writeRuns(base, inputs, {2, 3, 2}, false);
        // The same data set in whole/, built in one process.
        writeRuns(writeInputs(dir + "whole/", "ds", inputs), inputs, {2, 3, 2}, false);
    }
    Captured treebuild(const std::string& options) { return runProgram("treebuild", dir + " ds -q -n 40 " + options); }
    std::string treequery(const std::string& folder, const std::string& options) {
        const Captured c = runProgram("treequery", folder + " ds -q " + options);
        return c.out + "status " + std::to_string(c.status);
    }
};

TEST_F(KeyRangeJoin, PartsJoinedAnswerAsOneBuild) {
    ASSERT_EQ(runProgram("treebuild", dir + "whole/ ds -q -n 40").status, 0);
    const Captured split = runProgram("treebuild", dir + " ds -q -Q 3");
    ASSERT_EQ(split.status, 0) << split.err;
    const std::vector<std::string> ranges = lines(split.out);
    ASSERT_EQ(ranges.size(), 3u);
    for (int p = 0; p < 3; p++)
        ASSERT_TRUE(succeeded(treebuild("-K " + ranges[(size_t)p] + " -P " + std::to_string(p))));
    // Named in any order, the parts are joined in key order.
    ASSERT_TRUE(succeeded(treebuild("-G 2,0,1")));

    std::vector<TreeDivider> dividers = readRecords<TreeDivider>(base + ".stdiv");
    ASSERT_GE(dividers.size(), 3u);
    int64_t nodes = 0;
    for (size_t t = 0; t < dividers.size(); t++) {
        EXPECT_EQ(dividers[t].tree, (int32_t)t);
        EXPECT_LE(dividers[t].from, dividers[t].to);
        if (t > 0) {
            EXPECT_LE(dividers[t - 1].to, dividers[t].from) << "tree " << t;
        }
        nodes += dividers[t].nodes;
    }
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(base + ".streesum"));
    EXPECT_EQ(sums.items.size(), dividers.size() + 1);
    for (size_t t = 0; t < dividers.size(); t++) {
        std::string tree = base + "_" + std::to_string(t) + ".stree";
        const ChecksumFile::Item* item = sums.find(tree);
        ASSERT_NE(item, nullptr) << tree;
        EXPECT_EQ(firstFault(sums, *item, tree), "");
    }
    const ChecksumFile::Item* joined = sums.find(base + ".stdiv");
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(firstFault(sums, *joined, base + ".stdiv"), "");
    for (int p = 0; p < 3; p++) EXPECT_FALSE(exists(partBase(base, std::to_string(p)) + ".stdiv"));

    for (const char* options : {"-p acgt -p ttgca -p a", "-p acgtacgtac -H 2", "-t 10 -0 -K", "-e -t 30"})
        EXPECT_EQ(treequery(dir, options), treequery(dir + "whole/", options)) << options;
}

TEST_F(KeyRangeJoin, JoinRefusesMissingAndOverlappingParts) {
    ASSERT_TRUE(succeeded(treebuild("-K :G -P low")));
    ASSERT_TRUE(succeeded(treebuild("-K C: -P high")));
    for (const auto& [options, message] : {std::pair{"-G low,none", "part none is not complete"},
                                           {"-G low,high", "overlapping keys"}, {"-K :G", "-K and -P go together"},
                                           {"-K :G -P x -R", ""}}) {
        const Captured c = treebuild(options);
        EXPECT_EQ(c.status, 1) << options;
        EXPECT_NE(c.err.find(message), std::string::npos) << options << "\n" << c.err;
    }
}

}  // namespace
