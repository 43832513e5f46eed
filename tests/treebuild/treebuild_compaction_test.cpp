// -C: the node counts and hash-set figures printed per tree.
#include "tests/treebuild/treebuild_trees.h"
#include "treebuild/tree_state.h"

using namespace treetest;

namespace {

TEST(CompactionLines, OneSuffixPerTree) {
    DataSet ds({"a"});
    std::string log = buildAndCapture(ds, 3, true);
    EXPECT_NE(log.find("#   nl/nt/ni/nl/nr/ne/nd=1/1/1/1/0/0/0\n#   n/h/c={1/1/0, 0/0/0, 0/0/0}\n"), std::string::npos)
        << log;
}

TEST(CompactionLines, TwoIdenticalSuffixesMakeOneLeafStep) {
    DataSet ds({"a", "a"});
    std::string log = buildAndCapture(ds, 100, true);
    EXPECT_NE(log.find("nl/nt/ni/nl/nr/ne/nd=2/1/1/1/0/0/1\n"), std::string::npos) << log;
}

TEST(CompactionLines, SplitTreeFeedsAllThreeSets) {
    // "aca": pops feed offsets 2 and 1 (set 0) and depth 2 (set 2); the split adopts
    // record 1 under record 4 (offset -3, edge 1); the closing path pass adds offset 1
    // under a parent with a 1-child (set 1) and offset 4 with depth 1.
    DataSet ds({"aca"});
    std::string log = buildAndCapture(ds, 100, true);
    EXPECT_NE(log.find("#   nl/nt/ni/nl/nr/ne/nd=3/2/3/3/1/1/0\n#   n/h/c={4/4/0, 1/1/0, 3/2/0}\n"),
              std::string::npos)
        << log;
    // The lines come right after the tree's own line.
    EXPECT_NE(log.find("real"), std::string::npos);
    EXPECT_LT(log.find("# Tree   0:"), log.find("nl/nt/ni"));
}

TEST(CompactionLines, SetsAreClearedBetweenTrees) {
    DataSet ds({"a", "c"});
    std::string log = buildAndCapture(ds, 3, true);
    size_t first = log.find("n/h/c={1/1/0, 0/0/0, 0/0/0}");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("n/h/c={1/1/0, 0/0/0, 0/0/0}", first + 1), std::string::npos) << log;
}

}  // namespace
