// -C: how well each tree would compress if child offsets and edge lengths were indexes
// into per-tree dictionaries. Three hash sets collect the distinct values (0 and 1:
// child offsets, 2: edge lengths of interior records); a walk counts the records by
// kind. Only statistics: the trees written do not change.
// Time: O(1) expected per value fed to a set, O(records) per tree for the walk; extra
// memory: the three sets (12 bytes per slot each) and the walk's stack of chains.
#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/run.h"
#include "treebuild/tree_state.h"

void allocateHashSets(TreeState& tree) {
    for (int t = 0; t < 3; t++)
        if (!allocateHashSet(tree.sets[t], t, true))
            fatal("couldn't allocate the hash sets of %d slots\n", kHashSlots);
}

void clearSets(TreeState& tree) {
    for (HashSet& set : tree.sets) clearHashSet(set);
}

void recordPair(TreeState& tree, const PathEntry& parent, const PathEntry& child) {
    const TreeNode& p = tree.nodes[parent.node];
    const int set = (!isLeaf(p) && child1(p) != 0) ? 1 : 0;
    hashSetInsert(tree.sets[set], static_cast<int32_t>(child.node - parent.node));
    if (!isLeaf(tree.nodes[child.node])) hashSetInsert(tree.sets[2], static_cast<int32_t>(child.depth - parent.depth));
}

void recordPathStack(TreeState& tree) {
    const std::vector<PathEntry>& path = tree.path;
    for (size_t j = path.size() - 1; j >= 1; --j) recordPair(tree, path[j - 1], path[j]);
}

NodeCounts countNodes(const TreeNode* nodes) {
    NodeCounts counts{};
    // Chains still to walk, each entered through a child field (or the root).
    std::vector<uint32_t> pending{0};
    while (!pending.empty()) {
        uint32_t x = pending.back();
        pending.pop_back();
        bool chainStep = false;
        for (;; ++x) {
            const TreeNode& node = nodes[x];
            if (isLeaf(node)) {
                counts.leaves += 1;
                if (!chainStep) counts.headLeaves += 1;
            } else {
                if (!chainStep) counts.interiors += 1;
                if (child0(node) != 0) {
                    counts.zeroChildren += 1;
                    pending.push_back(child0(node));
                }
                if (child1(node) != 0) {
                    counts.oneChildren += 1;
                    pending.push_back(child1(node));
                }
            }
            if (!moreFollows(node)) break;
            if (isLeaf(node))
                counts.leafSteps += 1;
            else
                counts.interiorSteps += 1;
            chainStep = true;
        }
    }
    return counts;
}

std::string compactionLines(const TreeState& tree, const NodeCounts& c) {
    const HashCounters& a = tree.sets[0].counters;
    const HashCounters& b = tree.sets[1].counters;
    const HashCounters& e = tree.sets[2].counters;
    char text[320];
    snprintf(text, sizeof text, "#   nl/nt/ni/nl/nr/ne/nd=%d/%d/%d/%d/%d/%d/%d\n#   n/h/c={%d/%d/%d, %d/%d/%d, %d/%d/%d}\n",
             c.leaves, c.headLeaves, c.interiors, c.zeroChildren, c.oneChildren, c.interiorSteps, c.leafSteps,
             a.requested, a.stored, a.probes, b.requested, b.stored, b.probes, e.requested, e.stored, e.probes);
    return text;
}
