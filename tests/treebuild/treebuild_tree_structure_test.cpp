// Random data sets through dnaprep, runarray and treebuild: every suffix of every input
// is one leaf, a descent by a leaf's own bits reaches it, chains share their edge
// length, trees hold consecutive ranges of the global order and every divider matches
// its tree. The list merge, the heap merge (-H) and the stored LCP values (-Z) build
// the same trees (identical suffixes may trade places inside their chain), and -C
// changes nothing on disk.
#include <fstream>
#include <random>
#include <sstream>

#include "tests/treebuild/treebuild_trees.h"

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
    int status = std::system(("cd '" + dir + "' && " + command + " >/dev/null 2>err.log").c_str());
    if (status != 0) {
        std::ifstream log(dir + "/err.log");
        std::stringstream text;
        text << log.rdbuf();
        FAIL() << command << " failed:\n" << text.str();
    }
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

TEST(TreeStructure, RandomDataSetsThroughThePipeline) {
    const std::string bin = BIN_DIR;
    const unsigned first = firstSeed(20261208);
#ifdef __SANITIZE_ADDRESS__
    const unsigned rounds = 10;  // every stage starts slowly under the sanitizers
#else
    const unsigned rounds = 25;
#endif
    for (unsigned round = 0; round < rounds; ++round) {
        const unsigned seed = first + round;
        SCOPED_TRACE(seedNote(seed));
        std::mt19937 rng(seed);
        DataSet ds(randomInputs(rng));
        {
            std::ofstream fa(ds.dir + "/in.fa");
            for (size_t i = 0; i < ds.inputs.size(); ++i) fa << ">s" << i << "\n" << ds.inputs[i] << "\n";
        }
        run(ds.dir, bin + "/dnaprep ./ ./ d in.fa");
        const char* runOptions[] = {"", " -r 300", " -S"};
        run(ds.dir, bin + "/runarray ./ d -Z" + runOptions[rng() % 3]);
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
        if (testing::Test::HasFailure()) {
            std::ifstream fa(ds.dir + "/in.fa");
            std::stringstream text;
            text << fa.rdbuf();
            FAIL() << "data set:\n" << text.str();
        }
        expectSameTrees(treeBase(ds, "list"), treeBase(ds, "heap"));
        expectSameTrees(treeBase(ds, "list"), treeBase(ds, "stored"));
        std::vector<TreeDivider> dividers = readDividers(treeBase(ds, "list"));
        ASSERT_EQ(readFile(treeBase(ds, "list") + ".stdiv"), readFile(treeBase(ds, "compact") + ".stdiv"));
        for (size_t t = 0; t < dividers.size(); ++t) {
            const std::string name = std::string("_").append(std::to_string(t)).append(".stree");
            ASSERT_EQ(readFile(treeBase(ds, "list") + name), readFile(treeBase(ds, "compact") + name));
        }
        if (testing::Test::HasFailure()) return;
    }
}

}  // namespace
