// The tree builder on small data sets whose trees are known record by record, the
// tree and dividers files, and the guards around them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "tests/treebuild/treebuild_trees.h"
#include "toolkit/file_io.h"
#include "treebuild/tree_state.h"

using namespace treetest;

namespace {

struct Rec {
    uint32_t edge, link0, link1;
};

void expectRecords(const std::vector<TreeNode>& t, const std::vector<Rec>& want) {
    ASSERT_EQ(t.size(), want.size());
    for (size_t k = 0; k < t.size(); ++k) {
        EXPECT_EQ(t[k].edge, want[k].edge) << "record " << k << " word 0";
        EXPECT_EQ(t[k].link0, want[k].link0) << "record " << k << " word 1";
        EXPECT_EQ(t[k].link1, want[k].link1) << "record " << k << " word 2";
    }
}

constexpr uint32_t L = 1;       // leaf flag
constexpr uint32_t M = 2;       // more-follow
uint32_t idx(uint32_t i) { return i << 2; }


TEST(WorkedTrees, PrefixInputThenItsExtension) {
    DataSet ds({"a", "ag"});
    std::string log = buildAndCapture(ds, 100);
    EXPECT_NE(log.find("# Tree   0:  c3  0  c4  1  c6      0  maxd=2 ("), std::string::npos) << log;
    expectRecords(readTree(ds.base(), 0), {{0, idx(1), idx(4)},
                                           {2, M, idx(3)},
                                           {2, idx(0) | L, 0},
                                           {2, idx(1) | L, 0},
                                           {2, idx(1) | L, 0}});
    std::vector<TreeDivider> d = readDividers(ds.base());
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].from, 0u);
    EXPECT_EQ(d[0].to, 0x80000000u);
    EXPECT_EQ(d[0].nodes, 5);
    EXPECT_EQ(d[0].maxDepth, 2);
    checkTrees(ds, ds.base(), ds.sortedSuffixes());
}

TEST(WorkedTrees, SplitAboveAChainShortensTheWholeChain) {
    DataSet ds({"aca"});
    std::string log = buildAndCapture(ds, 100);
    EXPECT_NE(log.find("c3  0  c4  1  c6      1  maxd=3 ("), std::string::npos) << log;
    expectRecords(readTree(ds.base(), 0), {{0, idx(4), 0},
                                           {1, M | idx(3), 0},
                                           {1, idx(0) | L, 1},
                                           {4, idx(0) | L, 0},
                                           {1, idx(1), idx(5)},
                                           {3, idx(0) | L, 0}});
    checkTrees(ds, ds.base(), ds.sortedSuffixes());
}

TEST(WorkedTrees, IdenticalInputsFormOneLeafChain) {
    DataSet ds({"a", "a", "a"});
    std::string log = buildAndCapture(ds, 100);
    EXPECT_NE(log.find("c3  2  c4  0  c6      0  maxd=1 ("), std::string::npos) << log;
    expectRecords(readTree(ds.base(), 0),
                  {{0, idx(1), 0}, {2, idx(0) | L | M, 0}, {2, idx(1) | L | M, 0}, {2, idx(2) | L, 0}});
}

TEST(WorkedTrees, ExtensionStartingWithBitOneHangsInTheOneChild) {
    DataSet ds({"ac", "acg"});
    std::string log = buildAndCapture(ds, 100);
    EXPECT_NE(log.find("c3  0  c4  2  c6      1  "), std::string::npos) << log;
    std::vector<TreeNode> t = readTree(ds.base(), 0);
    expectRecords(t, {{0, idx(4), idx(8)},
                      {3, M, idx(3)},
                      {3, idx(0) | L, 0},
                      {2, idx(1) | L, 0},
                      {1, idx(1), idx(5)},
                      {1, M, idx(7)},
                      {1, idx(0) | L, 0},
                      {2, idx(1) | L, 0},
                      {2, idx(1) | L, 1}});
    EXPECT_EQ(descend(t, "acg"), 3u);
    checkTrees(ds, ds.base(), ds.sortedSuffixes());
}

TEST(WorkedTrees, ThreeRecordsPerTreeHoldOneSuffixEach) {
    DataSet ds({"acgt", "ga"});
    buildAndCapture(ds, 3);
    std::vector<TreeDivider> d = readDividers(ds.base());
    std::vector<Suffix> order = ds.sortedSuffixes();
    ASSERT_EQ(d.size(), order.size());
    for (size_t k = 0; k < d.size(); ++k) {
        EXPECT_EQ(d[k].nodes, 2);
        EXPECT_EQ(d[k].from, d[k].to);
        EXPECT_EQ(d[k].from, ds.record(order[k]).prefix1);
        EXPECT_EQ(readTree(ds.base(), static_cast<int>(k)).size(), 2u);
    }
    checkTrees(ds, ds.base(), order);
    EXPECT_EQ(ds.run.totals.trees, static_cast<int>(order.size()));
}

TEST(WorkedTrees, LastSuffixFillingTheBufferWritesNoRootOnlyTree) {
    DataSet ds({"aca"});  // six records: full at maxNodes 7 right after the last suffix
    buildAndCapture(ds, 7);
    EXPECT_EQ(readDividers(ds.base()).size(), 1u);
    EXPECT_EQ(ds.run.totals.trees, 1);
    struct stat st;
    EXPECT_NE(stat((ds.base() + "_1.stree").c_str(), &st), 0);
}

TEST(WorkedTrees, LongSharedPrefixStillHangsFromTheRoot) {
    std::string unit(40, 'a');
    DataSet ds({unit + "c", unit + "g", unit + "t"});
    std::vector<Suffix> order = ds.sortedSuffixes();
    // Only the three long suffixes, as the first ones of a tree.
    std::vector<Suffix> longOnes;
    for (const Suffix& s : order)
        if (s.offset == 0) longOnes.push_back(s);
    ds.build(longOnes, 100);
    std::vector<TreeNode> t = readTree(ds.base(), 0);
    // The first leaf hung from the root with its whole length; the second suffix split
    // that edge at the shared 40 bases.
    EXPECT_EQ(child0(t[0]), 2u);
    EXPECT_EQ(t[2].edge, 2 * 40u);
    EXPECT_EQ(child0(t[2]), 1u);
    EXPECT_EQ(t[1].edge, 2u);
    checkTrees(ds, ds.base(), longOnes);
}

TEST(Totals, LcpFiguresAndPathHeight) {
    DataSet ds({"acgtacgt", "acgt", "ttt"});
    ds.build(1000);
    std::vector<Suffix> order = ds.sortedSuffixes();
    double sum = 0;
    uint32_t maxLcp = 0;
    for (size_t k = 1; k < order.size(); ++k) {
        uint32_t bits = bitLcpValue(ds.text(order[k - 1]), ds.text(order[k])) >> 1;
        sum += bits;
        maxLcp = std::max(maxLcp, bits);
    }
    EXPECT_EQ(ds.run.totals.sums.lcpCount, static_cast<double>(order.size() - 1));
    EXPECT_EQ(ds.run.totals.sums.lcpSum, sum);
    EXPECT_EQ(ds.run.totals.maxLcp, maxLcp);
    EXPECT_EQ(ds.run.totals.trees, 1);
    EXPECT_GE(ds.run.totals.maxPathHeight, 3);
}

// A run of one base nests a chain head every two bits: far deeper than 1024 path
// entries and than the 16-bit depth field.
TEST(DeepTrees, HomopolymerOfHundredThousandBases) {
    const uint32_t n = 100000;
    DataSet ds({std::string(n, 'a')});
    std::vector<Suffix> order;
    std::vector<uint32_t> lcps;  // each suffix continues the one before it
    for (uint32_t k = 0; k < n; ++k) {
        order.push_back({0, n - 1 - k});
        lcps.push_back(2 * k << 1);
    }
    ds.build(order, 300000, false, &lcps);
    std::vector<TreeDivider> d = readDividers(ds.base());
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].maxDepth, 65535) << "depth saturates, never wraps";
    EXPECT_GT(ds.run.totals.maxPathHeight, 1024);
    checkTrees(ds, ds.base(), order, /*descents=*/false);
    std::vector<TreeNode> t = readTree(ds.base(), 0);
    EXPECT_EQ(descend(t, std::string(n, 'a')), 2 * n - 1) << "the longest suffix is the last leaf";
}

TEST(DeepTrees, DepthFieldSaturatesExactlyAtItsLimit) {
    // A run of n equal bases at an input's end nests n child steps.
    for (uint32_t n : {65534u, 65535u, 65536u, 70000u}) {
        DataSet ds({std::string(n, 'c')});
        std::vector<Suffix> order;
        std::vector<uint32_t> lcps;
        for (uint32_t k = 0; k < n; ++k) {
            order.push_back({0, n - 1 - k});
            lcps.push_back(2 * k << 1);
        }
        ds.build(order, 2 * n + 2, false, &lcps);
        std::vector<TreeDivider> d = readDividers(ds.base());
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].maxDepth, std::min(n, 65535u)) << n << " bases";
    }
}

TEST(DeepTrees, LongTandemRepeatWithDefaultTreeSize) {
    // Suffixes inside a repeat that runs to the input's end are prefixes of one another.
    std::string s = "tt";
    while (s.size() < 9000) s += "acg";
    DataSet ds({s, "acgacgacg", "gacgacgt"});
    ds.build(defaultMaxNodes(static_cast<int>(s.size())));
    EXPECT_GT(ds.run.totals.maxPathHeight, 1024);
    checkTrees(ds, ds.base(), ds.sortedSuffixes());
}

TEST(DividersFile, WrittenUnderTemporaryNameAndRenamedAtTheEnd) {
    DataSet ds({"acgt"});
    ds.install(10, false);
    const std::string final = ds.base() + ".stdiv", temporary = final + ".tmp";
    {
        std::ofstream old(final);
        old << "stale dividers of an earlier build";
    }
    openDividers(ds.run);
    struct stat st;
    EXPECT_NE(stat(final.c_str(), &st), 0) << "the old dividers file is removed at start";
    EXPECT_EQ(stat(temporary.c_str(), &st), 0);
    setUpTrees(ds.settings, ds.run, ds.tree);
    std::vector<Suffix> order = ds.sortedSuffixes();
    for (size_t k = 0; k < order.size(); ++k) {
        addSuffix(ds.run, ds.tree, ds.record(order[k]),
                  k == 0 ? 0 : bitLcpValue(ds.text(order[k - 1]), ds.text(order[k])));
        if (treeIsFull(ds.tree)) writeFullTree(ds.run, ds.tree);
    }
    finishTrees(ds.run, ds.tree);
    EXPECT_NE(stat(final.c_str(), &st), 0) << "not in place before the last tree is written";
    closeDividers(ds.run);
    EXPECT_EQ(stat(final.c_str(), &st), 0);
    EXPECT_EQ(st.st_size % 24, 0);
    EXPECT_GT(st.st_size, 0);
    EXPECT_NE(stat(temporary.c_str(), &st), 0);
}

TEST(DividersFile, ArrayOutputLeavesAnEmptyDividersFile) {
    DataSet ds({"acgt"});
    ds.install(10, false);
    openDividers(ds.run);
    closeDividers(ds.run);
    EXPECT_TRUE(readFile(ds.base() + ".stdiv").empty());
}

using FailureDeathTest = testing::Test;

TEST_F(FailureDeathTest, UncreatableDividersFileStops) {
    DataSet ds({"acgt"});
    ds.install(10, false);
    ds.run.dividersPath = ds.dir + "/missing/t.stdiv";
    EXPECT_EXIT(openDividers(ds.run), testing::ExitedWithCode(1),
                "## ERROR: can't open ST dividers file .*/missing/t.stdiv.tmp for writing");
}

TEST_F(FailureDeathTest, TooFewNodesPerTreeRefused) {
    for (int maxNodes : {2, 1, -4}) {
        DataSet ds({"acgt"});
        ds.install(maxNodes, false);
        EXPECT_EXIT(setUpTrees(ds.settings, ds.run, ds.tree), testing::ExitedWithCode(1), "## ERROR: maxNodes .* is too small");
    }
    EXPECT_EQ(defaultMaxNodes(1), 3);
    EXPECT_EQ(defaultMaxNodes(2), 3);
    EXPECT_EQ(defaultMaxNodes(0), 3);
    EXPECT_EQ(defaultMaxNodes(5000), 5000);
    EXPECT_EQ(defaultMaxNodes(2000000), 1 << 20);
}

TEST_F(FailureDeathTest, ShortDividerWriteStops) {
    DataSet ds({"acgt"});
    auto run = [&] {
        ds.install(10, false);
        openDividers(ds.run);
        ds.run.dividers.file.reset(open("/dev/full", O_WRONLY));
        setUpTrees(ds.settings, ds.run, ds.tree);
        addSuffix(ds.run, ds.tree, ds.record({0, 0}), 0);
        finishTrees(ds.run, ds.tree);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1), "## ERROR: could not write current divider element");
}

TEST_F(FailureDeathTest, TreeFileFailuresStop) {
    DataSet ds({"acgt"});
    auto run = [&](const std::string& base) {
        ds.install(10, false);
        openDividers(ds.run);
        ds.run.outputBase = base;
        setUpTrees(ds.settings, ds.run, ds.tree);
        addSuffix(ds.run, ds.tree, ds.record({0, 0}), 0);
        finishTrees(ds.run, ds.tree);
    };
    EXPECT_EXIT(run(ds.dir + "/missing/t"), testing::ExitedWithCode(1),
                "## ERROR: cannot open suffix array .*/missing/t_0.stree for writing tree");
    // Written under the temporary name until whole.
    ASSERT_EQ(symlink("/dev/full", (ds.dir + "/full_0.stree.tmp").c_str()), 0);
    EXPECT_EXIT(run(ds.dir + "/full"), testing::ExitedWithCode(1),
                "## ERROR: not all output tree nodes were written: .* bytes and 2 Nodes");
}

TEST_F(FailureDeathTest, InconsistentLcpValuesStop) {
    DataSet ds({"ac", "ag", "a"});
    auto run = [&](Suffix first, Suffix second, uint32_t lcp) {
        ds.install(10, false);
        openDividers(ds.run);
        setUpTrees(ds.settings, ds.run, ds.tree);
        addSuffix(ds.run, ds.tree, ds.record(first), 0);
        addSuffix(ds.run, ds.tree, ds.record(second), lcp);
    };
    // Branching at the root needs the continuation bit.
    EXPECT_EXIT(run({0, 0}, {1, 0}, 0), testing::ExitedWithCode(1), "## ERROR: firstbit 0, node 2, nsuff 2");
    // An LCP longer than the previous suffix puts a leaf above the split.
    EXPECT_EXIT(run({2, 0}, {1, 0}, 3 << 1 | 1), testing::ExitedWithCode(1),
                "## ERROR: leaf node above split\\?\\? nnode=2 nsuff=2");
    EXPECT_EXIT(run({0, 0}, {1, 0}, 9 << 1), testing::ExitedWithCode(1),
                "## ERROR: LCP of 9 bits for a suffix of 4 bits");
}

}  // namespace
