// The test walk of -a: every record of one tree visited once, depth first, counting
// its shapes (chain heads, children, edge lengths) and the distinct child offsets and
// edge lengths in hash sets, for the statistics lines. Time O(R) for R records (plus
// the hash sets' inserts); extra memory O(depth) steps and the three hash sets.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "treequery/traversal_walk.h"

namespace {

// Counts of the test walk; the short words of the statistics lines in brackets.
struct TestCounts {
    int visits, leaves, maxSteps;  // records visited, leaves (r), deepest step count (maxd)
    int heads, leafRecords;        // chain heads (ne), leaf records (nl)
    int with0, with1;              // interior records with a 0-child, with a 1-child (l/r)
    // nche/l: leaf records reached along a chain after its head, when the head is an
    // interior record (nche) and when it is a leaf (l).
    int afterHead, afterLeaf;
    int bothAndChain, only0, only1, oneNoChain;  // newk, nl, nr, nw
    int longEdges, maxInterior, maxLeaf;         // edges above 32767 bits (nmbl), longest edges
    double interiorSum, leafSum;
    int interiorEdges, leafEdges;
};

}  // namespace

int testTree(Walk& w) {
    const TreeStore& store = *w.store;
    const Node* tree = store.tree;
    const uint32_t nodes = (uint32_t)store.treeNodes;
    for (HashSet& t : w.tables) clearHashSet(t);
    // Zero keys are counted but never stored.
    auto enter = [](HashSet& set, int32_t key) {
        if (key == 0)
            ++set.counters.requested;
        else
            hashSetInsert(set, key);
    };
    TestCounts n{};
    struct Step {
        uint32_t node;
        int steps;
    };
    std::vector<Step> stack;
    stack.push_back(Step{0, 0});
    auto leafRecord = [&](const Node& r) {
        n.leaves++;
        n.leafRecords++;
        n.leafSum += edgeLength(r);
        n.leafEdges++;
        n.maxLeaf = std::max(n.maxLeaf, (int)std::min<uint32_t>(edgeLength(r), INT32_MAX));
    };
    while (!stack.empty()) {
        Step s = stack.back();
        stack.pop_back();
        if (++n.visits > (int)nodes) corrupt(store, "record reached twice, record", s.node);
        n.maxSteps = std::max(n.maxSteps, s.steps);
        const Node& x = treeNode(store, s.node);
        if (isLeaf(x)) {
            leafRecord(x);
        } else {
            const uint32_t c0 = child0(x), c1 = child1(x);
            const bool chain = moreFollows(x);
            if (chain) n.heads++;
            if (c0) n.with0++;
            if (c1) n.with1++;
            if (c0 && c1 && chain) n.bothAndChain++;
            if (c0 && !c1) n.only0++;
            if (c1 && !c0) n.only1++;
            if ((c0 != 0) != (c1 != 0) && !chain) n.oneNoChain++;
            if (s.node != 0) {  // the root has no edge
                const uint32_t e = edgeLength(x);
                if (e > 32767) n.longEdges++;
                n.interiorSum += e;
                n.interiorEdges++;
                n.maxInterior = std::max(n.maxInterior, (int)std::min<uint32_t>(e, INT32_MAX));
                enter(w.tables[2], (int32_t)e);
            }
            if (c0) enter(w.tables[0], (int32_t)(c0 - s.node));
            if (c1) enter(w.tables[1], (int32_t)(c1 - s.node));
            // The 1-child is pushed first so that the 0-child's subtree comes first.
            if (c1) stack.push_back(Step{c1, s.steps + 1});
            if (c0) stack.push_back(Step{c0, s.steps + 1});
        }
        // The rest of the chain, by adjacency.
        bool afterHead = !isLeaf(x);
        for (uint32_t y = s.node; moreFollows(tree[y]);) {
            y++;
            if (y >= nodes) corrupt(store, "leaf chain past the end of the tree, record", y);
            if (!isLeaf(tree[y]))
                fatal("entered interior node along chain!? record %u of tree file \"%s\"\n", y,
                      treePath(store, store.treeIndex).c_str());
            if (afterHead)
                n.afterHead++;
            else
                n.afterLeaf++;
            afterHead = false;
            if (++n.visits > (int)nodes) corrupt(store, "record reached twice, record", y);
            leafRecord(tree[y]);
        }
    }
    if (!gRun.quiet) {
        note("%d dfs visits: r=%d maxd=%d ne=%d nl=%d l/r=%d/%d  nche/l=%d/%d  newk=%d  nl=%d nr=%d nw=%d\n",
             n.visits, n.leaves, n.maxSteps, n.heads, n.leafRecords, n.with0, n.with1, n.afterHead,
             n.afterLeaf, n.bothAndChain, n.only0, n.only1, n.oneNoChain);
        note("  nmbl=%d avgilen/llen=%.0f/%.0f maxilen/llen=%d/%d  nh=%d/%d/%d  na=%d/%d/%d\n",
             n.longEdges, n.interiorEdges ? n.interiorSum / n.interiorEdges : 0.0,
             n.leafEdges ? n.leafSum / n.leafEdges : 0.0, n.maxInterior, n.maxLeaf,
             w.tables[0].counters.stored, w.tables[1].counters.stored, w.tables[2].counters.stored,
             w.tables[0].counters.requested, w.tables[1].counters.requested, w.tables[2].counters.requested);
    }
    w.visits = n.visits;
    return n.leaves;
}
