// -C: how well each tree would compress if child offsets and edge lengths were indexes
// into per-tree dictionaries. Three hash sets collect the distinct values (0 and 1:
// child offsets, 2: edge lengths of interior records); a walk counts the records by
// kind. Only statistics: the trees written do not change.
#include <cstring>
#include <vector>

#include "toolkit/run.h"
#include "treebuild/tree_state.h"

namespace {

// Slot of a set: key 0 marks an empty slot.
struct HashSlot {
    int32_t key;
    uint32_t id;
};
static_assert(sizeof(HashSlot) == 8);

constexpr int kHashStep = 113;

struct HashSet {
    HashSlot* slots = nullptr;
    int32_t* keys = nullptr;  // keys in the order they were stored; id k at k - 1
    HashCounters counters{};
};

HashSet gSets[3];

}  // namespace

void allocateHashSets() {
    for (HashSet& set : gSets) {
        if (set.slots != nullptr) continue;
        set.slots = static_cast<HashSlot*>(trackedCalloc(kHashSlots, sizeof(HashSlot)));
        set.keys = static_cast<int32_t*>(trackedCalloc(kHashSlots, sizeof(int32_t)));
        if (set.slots == nullptr || set.keys == nullptr) fatal("couldn't allocate the hash sets of %d slots\n", kHashSlots);
        set.counters = HashCounters{};
    }
}

void clearSets() {
    for (HashSet& set : gSets) {
        if (set.slots == nullptr) continue;
        std::memset(set.slots, 0, sizeof(HashSlot) * kHashSlots);
        set.counters = HashCounters{};
    }
}

const HashCounters& hashCounters(int set) { return gSets[set].counters; }

int hashInsert(int t, int32_t key) {
    HashSet& set = gSets[t];
    set.counters.requested += 1;
    int slot = key % kHashSlots;
    if (slot < 0) slot = (159996 - slot) % kHashSlots;
    if (set.counters.stored > kHashSlots - 1) fatal("hash full, table %d\n", t);
    while (set.slots[slot].key != key && set.slots[slot].key != 0) {
        slot = (slot + kHashStep) % kHashSlots;
        set.counters.probes += 1;
    }
    if (key != 0 && set.slots[slot].key == key) return static_cast<int>(set.slots[slot].id);
    // A key of 0 leaves its slot looking empty: every insertion of 0 is a new key.
    set.keys[set.counters.stored] = key;
    set.counters.stored += 1;
    set.slots[slot].key = key;
    set.slots[slot].id = static_cast<uint32_t>(set.counters.stored);
    return set.counters.stored;
}

void recordPair(const PathEntry& parent, const PathEntry& child) {
    const TreeNode& p = gTree.nodes[parent.node];
    const int set = (!isLeaf(p) && child1(p) != 0) ? 1 : 0;
    hashInsert(set, static_cast<int32_t>(child.node - parent.node));
    if (!isLeaf(gTree.nodes[child.node])) hashInsert(2, static_cast<int32_t>(child.depth - parent.depth));
}

void recordPathStack() {
    const std::vector<PathEntry>& path = gTree.path;
    for (size_t j = path.size() - 1; j >= 1; --j) recordPair(path[j - 1], path[j]);
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

void printCompactionLines(const NodeCounts& c) {
    note("  nl/nt/ni/nl/nr/ne/nd=%d/%d/%d/%d/%d/%d/%d\n", c.leaves, c.headLeaves, c.interiors, c.zeroChildren,
         c.oneChildren, c.interiorSteps, c.leafSteps);
    const HashCounters& a = gSets[0].counters;
    const HashCounters& b = gSets[1].counters;
    const HashCounters& e = gSets[2].counters;
    note("  n/h/c={%d/%d/%d, %d/%d/%d, %d/%d/%d}\n", a.requested, a.stored, a.probes, b.requested, b.stored, b.probes,
         e.requested, e.stored, e.probes);
}
