// Test support for the tree builder: data sets held in memory, their suffixes in the
// global order with LCP values (brute force), building trees from that order, reading
// the tree files back and checking their structure.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/dna.h"
#include "tests/support/files.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"
#include "toolkit/run.h"
#include "treebuild/suffix_tree.h"
#include "treebuild/tree_state.h"
#include "treebuild/treebuild.h"

namespace treetest {

using namespace testsupport;

// A data set in memory, installed into its own run, with trees written under `dir`.
struct DataSet {
    std::vector<std::string> inputs;
    std::vector<int32_t> bitLengths;
    std::vector<std::vector<uint32_t>> packedWords;
    std::vector<uint32_t*> packedTable;
    TempDir temp{"treebuild-test"};
    std::string dir = temp.path.substr(0, temp.path.size() - 1);  // without the final "/"
    BuildSettings settings;
    BuildState run;
    TreeState tree;

    explicit DataSet(std::vector<std::string> in) : inputs(std::move(in)) {
        for (const std::string& s : inputs) {
            bitLengths.push_back(static_cast<int32_t>(2 * s.size()));
            packedWords.push_back(packBases(s, 1));  // and the readers' zero word
        }
        for (auto& w : packedWords) packedTable.push_back(w.data());
    }

    std::string base() const { return dir + "/t"; }

    std::string_view text(const Suffix& s) const {
        return std::string_view(inputs[s.input]).substr(s.offset);
    }

    // Every suffix in the global order; identical suffixes by input number.
    std::vector<Suffix> sortedSuffixes() const { return globalOrder(inputs); }

    PsaRecord record(const Suffix& s) const { return suffixRecord(inputs[s.input], s.input, s.offset).psa(); }

    void install(int maxNodes, bool compact) {
        run = BuildState{};
        settings = BuildSettings{};
        settings.compact = compact;
        gRun.quiet = 1;
        run.numInputs = static_cast<int>(inputs.size());
        run.bitLengths = bitLengths.data();
        run.packed = packedTable.data();
        run.outputBase = base();
        run.dividersPath = base() + ".stdiv";
        run.maxNodes = maxNodes;
    }

    // Builds the trees from `order` the way the merge drives the builder; the LCP
    // values are computed unless given.
    void build(const std::vector<Suffix>& order, int maxNodes, bool compact = false,
               const std::vector<uint32_t>* lcps = nullptr, bool quiet = true) {
        install(maxNodes, compact);
        gRun.quiet = quiet;
        openDividers(run);
        setUpTrees(settings, run, tree);
        for (size_t k = 0; k < order.size(); ++k) {
            uint32_t lcp = lcps ? (*lcps)[k] : k == 0 ? 0 : bitLcpValue(text(order[k - 1]), text(order[k]));
            addSuffix(run, tree, record(order[k]), lcp);
            if (treeIsFull(tree)) writeFullTree(run, tree);
        }
        finishTrees(run, tree);
        closeDividers(run);
    }
    void build(int maxNodes, bool compact = false) { build(sortedSuffixes(), maxNodes, compact); }
};

// Builds with the "Tree" lines (and with -C the statistics lines) on and returns them.
inline std::string buildAndCapture(DataSet& ds, int maxNodes, bool compact = false) {
    testing::internal::CaptureStderr();
    ds.build(ds.sortedSuffixes(), maxNodes, compact, nullptr, false);
    std::fflush(stderr);
    return testing::internal::GetCapturedStderr();
}

inline std::vector<TreeDivider> readDividers(const std::string& base) {
    return readRecords<TreeDivider>(base + ".stdiv");
}

inline std::vector<TreeNode> readTree(const std::string& base, int t) {
    const std::string path = base + "_" + std::to_string(t) + ".stree";
    EXPECT_EQ(readFile(path).size() % sizeof(TreeNode), 0u) << path;
    return readRecords<TreeNode>(path);
}

struct LeafAt {
    int input;
    uint32_t depth;  // bit depth = remaining length of the suffix
    uint32_t preceding;
    uint32_t index;
};

// Leaves in tree order (a chain's leaves, then its head's 0-child, then its 1-child),
// checking on the way that every record of a chain carries the chain's edge length.
// Also returns the largest number of child-field steps.
inline std::vector<LeafAt> leavesInOrder(const std::vector<TreeNode>& t, int* maxSteps) {
    struct Visit {
        uint32_t node, depth;
        int steps;
    };
    std::vector<LeafAt> leaves;
    std::vector<Visit> pending{{0, 0, 0}};
    std::vector<char> seen(t.size(), 0);
    *maxSteps = 0;
    while (!pending.empty()) {
        Visit v = pending.back();
        pending.pop_back();
        *maxSteps = std::max(*maxSteps, v.steps);
        if (v.node >= t.size() || seen[v.node]) {
            ADD_FAILURE() << "record " << v.node << " reached twice or out of range";
            return leaves;
        }
        uint32_t depth = v.depth + t[v.node].edge;
        uint32_t c0 = 0, c1 = 0;
        for (uint32_t x = v.node;; ++x) {
            seen[x] = 1;
            EXPECT_EQ(t[x].edge, t[v.node].edge) << "chain record " << x << " of chain " << v.node;
            if (isLeaf(t[x])) {
                leaves.push_back({static_cast<int>(leafInput(t[x])), depth, static_cast<uint32_t>(precedingCode(t[x])), x});
            } else {
                EXPECT_EQ(x, v.node) << "interior record inside a chain";
                c0 = child0(t[x]);
                c1 = child1(t[x]);
            }
            if (!moreFollows(t[x])) break;
        }
        if (c1) pending.push_back({c1, depth, v.steps + 1});
        if (c0) pending.push_back({c0, depth, v.steps + 1});
    }
    for (size_t k = 0; k < t.size(); ++k) EXPECT_TRUE(seen[k]) << "record " << k << " is unreachable";
    return leaves;
}

// Descends from the root by the bits of `s` (in `ds`) and returns the record of the
// chain reached at bit depth |s| x 2, or 0.
inline uint32_t descend(const std::vector<TreeNode>& t, std::string_view s) {
    uint32_t node = 0, depth = 0;
    const uint32_t length = static_cast<uint32_t>(2 * s.size());
    while (depth < length) {
        uint32_t bit = bitAt(s, depth);
        if (isLeaf(t[node])) return 0;
        uint32_t child = bit ? child1(t[node]) : child0(t[node]);
        if (child == 0) return 0;
        node = child;
        depth += t[child].edge;
    }
    return depth == length ? node : 0;
}

// Checks every tree of a build against the global order `order` of the data set:
// leaves in tree order, tree after tree, are exactly that order (identical suffixes
// may trade places inside their chain), every leaf is reached by a descent by its own
// bits, and every divider matches its tree.
inline void checkTrees(const DataSet& ds, const std::string& base, const std::vector<Suffix>& order,
                       bool descents = true) {
    std::vector<TreeDivider> dividers = readDividers(base);
    size_t next = 0;
    std::vector<Suffix> all;  // leaves of all trees, in tree order
    for (size_t d = 0; d < dividers.size(); ++d) {
        SCOPED_TRACE("tree " + std::to_string(d));
        const TreeDivider& div = dividers[d];
        EXPECT_EQ(div.tree, static_cast<int32_t>(d));
        std::vector<TreeNode> t = readTree(base, static_cast<int>(d));
        ASSERT_EQ(div.nodes, static_cast<int32_t>(t.size()));
        ASSERT_GE(t.size(), 2u);
        int steps = 0;
        std::vector<LeafAt> leaves = leavesInOrder(t, &steps);
        EXPECT_EQ(div.maxDepth, std::min(steps, 65535));
        ASSERT_LE(next + leaves.size(), order.size());
        std::vector<Suffix> got, want(order.begin() + next, order.begin() + next + leaves.size());
        for (const LeafAt& leaf : leaves) {
            ASSERT_LT(leaf.input, static_cast<int>(ds.inputs.size()));
            uint32_t bits = static_cast<uint32_t>(ds.bitLengths[leaf.input]);
            ASSERT_LE(leaf.depth, bits);
            ASSERT_EQ((bits - leaf.depth) % 2, 0u);
            Suffix s{leaf.input, (bits - leaf.depth) / 2};
            ASSERT_LT(s.offset, ds.inputs[leaf.input].size());
            EXPECT_EQ(leaf.preceding, ds.record(s).word0 & 3);
            got.push_back(s);
            if (descents) {
                uint32_t reached = descend(t, ds.text(s));
                // The chain reached must hold this leaf.
                bool found = false;
                for (uint32_t x = reached; reached != 0; ++x) {
                    if (x == leaf.index) found = true;
                    if (!moreFollows(t[x])) break;
                }
                EXPECT_TRUE(found) << "descent by input " << s.input << " offset " << s.offset;
            }
        }
        // Same order up to the order of identical suffixes.
        for (size_t k = 0; k < got.size(); ++k) {
            if (got[k].input == want[k].input && got[k].offset == want[k].offset) continue;
            ASSERT_EQ(ds.text(got[k]), ds.text(want[k])) << "leaf " << k;
        }
        for (const Suffix& g : got) all.push_back(g);
        if (!got.empty()) {
            EXPECT_EQ(div.from, ds.record(got.front()).prefix1);
            EXPECT_EQ(div.to, ds.record(want.back()).prefix1);
        }
        for (int z = 0; z < 6; ++z) EXPECT_EQ(div.zero[z], 0);
        next += leaves.size();
    }
    EXPECT_EQ(next, order.size()) << "every suffix appears once as a leaf";
    // Identical suffixes may trade places, also across a tree boundary.
    auto keys = [](const std::vector<Suffix>& v) {
        std::vector<std::pair<int, uint32_t>> k;
        for (const Suffix& s : v) k.push_back({s.input, s.offset});
        std::sort(k.begin(), k.end());
        return k;
    };
    EXPECT_EQ(keys(all), keys(order));
}

}  // namespace treetest
