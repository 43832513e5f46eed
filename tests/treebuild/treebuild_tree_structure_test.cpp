// Random data sets through dnaprep, runarray and treebuild: every suffix of every input
// is one leaf, a descent by a leaf's own bits reaches it, chains share their edge
// length, trees hold consecutive ranges of the global order and every divider matches
// its tree. The list merge, the heap merge (-H) and the stored LCP values (-Z) build
// the same trees (identical suffixes may trade places inside their chain), and -C
// changes nothing on disk.
#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/run.h"
#include "tests/support/trie_trees.h"
#include "tests/treebuild/treebuild_dataset.h"
#include "tests/treebuild/treebuild_trees.h"
#include "treebuild/suffix_tree.h"

using namespace treetest;

namespace {

// Inputs that stress the builder: long runs of one base, tandem repeats running to
// an input's end, identical inputs and inputs contained in others.
std::vector<std::string> randomInputs(std::mt19937& rng) {
    std::vector<std::string> inputs;
    const int count = 2 + static_cast<int>(rng() % 10);
    for (int i = 0; i < count; ++i) {
        std::string s;
        switch (rng() % 6) {
            case 0:
                s = randomBases(rng, 1 + rng() % 200);
                break;
            case 1:
                s = randomBases(rng, rng() % 20) + std::string(50 + rng() % 400, "acgt"[rng() % 4]);
                break;
            case 2: {
                std::string unit = randomBases(rng, 2 + rng() % 4);
                s = randomBases(rng, rng() % 10);
                while (s.size() < 300) s += unit;
                if (rng() % 2) s += randomBases(rng, 1 + rng() % 5);
                break;
            }
            case 3:
                s = inputs.empty() ? randomBases(rng, 1 + rng() % 30) : inputs[rng() % inputs.size()];
                break;
            case 4:
                if (!inputs.empty()) {
                    const std::string& from = inputs[rng() % inputs.size()];
                    size_t a = rng() % from.size();
                    s = from.substr(a, 1 + rng() % (from.size() - a));
                } else {
                    s = randomBases(rng, 1 + rng() % 3);
                }
                break;
            default:
                s = randomBases(rng, 1 + rng() % 4);
                break;
        }
        inputs.push_back(s);
    }
    return inputs;
}

// Runs a pipeline stage in the data set's directory; a failure shows its messages.
void run(const std::string& dir, const std::string& command) {
    const Captured c = runCaptured("cd '" + dir + "' && " + command);
    if (c.status != 0) FAIL() << shown(command, c);
}

std::string treeBase(const DataSet& ds, const std::string& prefix) {
    return ds.dir + "/" + prefix + ".ST/" + prefix;
}

// Tree files equal but for which identical suffix a leaf record of a chain holds.
void expectSameTrees(const std::string& a, const std::string& b) {
    std::string da = readFile(a + ".stdiv"), db = readFile(b + ".stdiv");
    ASSERT_EQ(da, db) << a << " vs " << b;
    std::vector<TreeDivider> dividers = readDividers(a);
    for (size_t t = 0; t < dividers.size(); ++t) {
        std::vector<TreeNode> x = readTree(a, static_cast<int>(t)), y = readTree(b, static_cast<int>(t));
        ASSERT_EQ(x.size(), y.size());
        for (size_t k = 0; k < x.size(); ++k) {
            ASSERT_EQ(x[k].edge, y[k].edge) << "tree " << t << " record " << k;
            ASSERT_EQ(x[k].link0 & 3, y[k].link0 & 3) << "tree " << t << " record " << k;
            if (!isLeaf(x[k])) {
                ASSERT_EQ(x[k].link0, y[k].link0) << "tree " << t << " record " << k;
                ASSERT_EQ(x[k].link1, y[k].link1) << "tree " << t << " record " << k;
            }
        }
    }
}

// The tree files under `base` byte for byte those of the trie; a tree that differs is
// named with its first record that differs.
void expectTrieTrees(const std::string& base, const TreeFiles& want) {
    EXPECT_TRUE(readFile(base + ".stdiv") == bytesOf(want.dividers)) << base << ".stdiv differs from the trie's";
    for (size_t t = 0; t < want.trees.size(); ++t) {
        const std::vector<TreeNode>& records = want.trees[t];
        if (readFile(base + "_" + std::to_string(t) + ".stree") == bytesOf(records)) continue;
        std::vector<TreeNode> got = readTree(base, static_cast<int>(t));
        size_t k = 0;
        while (k < std::min(got.size(), records.size()) && got[k].edge == records[k].edge &&
               got[k].link0 == records[k].link0 && got[k].link1 == records[k].link1)
            ++k;
        std::ostringstream what;
        what << "tree " << t << ": " << got.size() << " records, the trie's " << records.size();
        if (k < std::min(got.size(), records.size()))
            what << "; record " << k << " is " << got[k].edge << " " << got[k].link0 << " " << got[k].link1
                 << ", the trie's " << records[k].edge << " " << records[k].link0 << " " << records[k].link1;
        ADD_FAILURE() << what.str();
        return;
    }
    EXPECT_FALSE(exists(base + "_" + std::to_string(want.trees.size()) + ".stree")) << "a tree past the trie's last";
}

TEST(TreeStructure, RandomDataSetsThroughThePipeline) {
    const std::string bin = BIN_DIR;
#ifdef __SANITIZE_ADDRESS__
    const unsigned rounds = 10;  // every stage starts slowly under the sanitizers
#else
    const unsigned rounds = 25;
#endif
    seededRounds(20261208, rounds, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        DataSet ds(randomInputs(rng));
        {
            std::ofstream fa(ds.dir + "/in.fa");
            for (size_t i = 0; i < ds.inputs.size(); ++i) fa << ">s" << i << "\n" << ds.inputs[i] << "\n";
        }
        run(ds.dir, bin + "/dnaprep ./ ./ d in.fa");
        const char* runOptions[] = {"", " -r 300", " -S"};
        const unsigned runOption = rng() % 3;
        run(ds.dir, bin + "/runarray ./ d -Z" + runOptions[runOption]);
        // Small trees, but not so many tree files that creating them dominates the run.
        const std::vector<Suffix> order = ds.sortedSuffixes();
        const int nodeChoices[] = {3, 4, 7, 20, 100, 1000, 0};
        size_t pick = rng() % 7;
        while (pick < 5 && 2 * order.size() / nodeChoices[pick] > 60) ++pick;
        const int maxNodes = nodeChoices[pick];
        const std::string n = maxNodes ? " -n " + std::to_string(maxNodes) : "";
        run(ds.dir, bin + "/treebuild ./ d -q -p list" + n);
        run(ds.dir, bin + "/treebuild ./ d -q -p heap -H" + n);
        run(ds.dir, bin + "/treebuild ./ d -q -p stored -Z" + n);
        run(ds.dir, bin + "/treebuild ./ d -p compact -C" + n);
        if (testing::Test::HasFailure()) return;

        checkTrees(ds, treeBase(ds, "list"), order);
        if (testing::Test::HasFailure()) FAIL() << "data set:\n" << readFile(ds.dir + "/in.fa");
        if (runOption == 2) {  // runs of one input: the heap merge orders identical suffixes as the trie does
            int longest = 0;
            for (const std::string& s : ds.inputs) longest = std::max(longest, static_cast<int>(s.size()));
            expectTrieTrees(treeBase(ds, "heap"), trieTrees(ds.inputs, maxNodes ? maxNodes : defaultMaxNodes(longest)));
        }
        expectSameTrees(treeBase(ds, "list"), treeBase(ds, "heap"));
        expectSameTrees(treeBase(ds, "list"), treeBase(ds, "stored"));
        std::vector<TreeDivider> dividers = readDividers(treeBase(ds, "list"));
        ASSERT_EQ(readFile(treeBase(ds, "list") + ".stdiv"), readFile(treeBase(ds, "compact") + ".stdiv"));
        for (size_t t = 0; t < dividers.size(); ++t) {
            const std::string name = std::string("_").append(std::to_string(t)).append(".stree");
            ASSERT_EQ(readFile(treeBase(ds, "list") + name), readFile(treeBase(ds, "compact") + name));
        }
    });
}

// Many small data sets straight from their sorted runs, one run per input so that the
// heap merge orders identical suffixes by input number as the trie does: its trees are
// the trie's byte for byte, for trees of every size from one suffix up.
TEST(TreeStructure, HeapMergeWritesTheTreesOfATrieOfAllSuffixes) {
    seededRounds(20261214, 60, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        TempDir dir("tbtrie");
        const std::vector<std::string> inputs = randomInputs(rng);
        const std::string base = tbdata::writeInputs(dir.path, "ds", inputs);
        tbdata::writeRuns(base, inputs, std::vector<int>(inputs.size(), 1), false);
        size_t suffixes = 0;
        for (const std::string& s : inputs) suffixes += s.size();
        // From one suffix per tree up to one tree for all, but at most some hundred trees.
        const int fewest = std::max(3, static_cast<int>(2 * suffixes / 200));
        const int maxNodes = fewest + static_cast<int>(rng() % (2 * suffixes + 1));
        const std::string command = binary("treebuild") + " " + dir.path + " ds -q -H -p t -n " + std::to_string(maxNodes);
        const Captured c = runCaptured(command);
        ASSERT_EQ(c.status, 0) << shown(command, c);
        expectTrieTrees(dir.path + "t.ST/t", trieTrees(inputs, maxNodes));
    });
}

}  // namespace
