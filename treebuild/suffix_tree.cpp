// Adding suffixes, in global sorted order, to the current tree.
// Algorithm: suffix tree construction from the sorted suffixes and their LCPs along the
// rightmost path; time O(n) for n suffixes; extra memory the path stack, O(tree depth).
//
// Every interior record branches on one bit. The path stack holds the records from the
// root down to the chain of the previous suffix; a new suffix pops it back to its LCP
// with the previous suffix and hangs its leaf there, in one of four ways:
//   case 3  identical to the previous suffix: the leaf joins the previous chain;
//   case 4  the previous suffix ends where this one goes on: its leaf chain becomes an
//           interior head followed by its leaves, and the new leaf hangs below the head;
//   case 5  branches off at an interior record that has only a 0-child;
//   case 6  branches off inside an edge: a new interior record splits it.
// Each record is written when it comes into use and its chain's edges rewritten at
// most once more (case 4 or 6), and each path entry is pushed and popped once.
//
// Names used throughout: o the suffix's length in bits (the depth of its leaf), L its
// bit LCP with the previous suffix, v and D the path entry it leaves the path at and
// that entry's bit depth, u v's most recent child, n the next free record.
#include <algorithm>
#include <cstdlib>

#include "toolkit/run.h"
#include "treebuild/tree_state.h"

namespace {

constexpr int kDefaultMaxNodesCap = 1 << 20;
// Child indexes and input numbers take 30 bits of a record word.
constexpr int kMaxNodesLimit = 1 << 30;

uint32_t leafWord0(const PsaRecord& r) { return (r.word0 & ~3u) | kLeafFlag; }

void makeLeaf(TreeState& tree, uint32_t index, const PsaRecord& r, uint32_t edge) {
    TreeNode& leaf = tree.nodes[index];
    leaf.edge = edge;
    leaf.link0 = leafWord0(r);
    leaf.link1 = recordPreceding(r);
}

void setChild(TreeNode& parent, int bit, uint32_t child) {
    if (bit)
        parent.link1 = child << 2;
    else
        parent.link0 = (parent.link0 & 3u) | (child << 2);
}

// Bit k of the suffix (0 = its first bit): from the prefix words while they cover it.
int suffixBit(const BuildState& build, const PsaRecord& r, uint32_t k) {
    if (k < 32) return static_cast<int>((r.prefix1 >> (31 - k)) & 1u);
    if (k < 64) return static_cast<int>((r.prefix2 >> (63 - k)) & 1u);
    return inputBit(build, recordInput(r), 2 * r.offset + k);
}

// Called once or twice per suffix: inlined, it costs a store and a compare.
[[gnu::always_inline]] inline void push(TreeState& tree, uint32_t node, uint32_t depth, uint32_t below = 0) {
    tree.path.push_back(PathEntry{node, depth, below});
    tree.maxPath = std::max(tree.maxPath, static_cast<int>(tree.path.size()));
}

void addFirstSuffix(TreeState& tree, const PsaRecord& r, uint32_t o) {
    makeLeaf(tree, 1, r, o);
    setChild(tree.nodes[0], static_cast<int>(r.prefix1 >> 31), 1);
    tree.inUse = 2;
    tree.from = r.prefix1;
    tree.path.clear();
    push(tree, 0, 0);
    push(tree, 1, o);
}

// The previous suffix's chain (records v to n-1, led by leaf v) becomes interior head
// v followed by its leaves, with the leaf that was v moved to n.
void addCase4(const BuildState& build, TreeState& tree, const PsaRecord& r, uint32_t o, uint32_t L, uint32_t v) {
    TreeNode* t = tree.nodes;
    const uint32_t n = static_cast<uint32_t>(tree.inUse);
    t[n] = t[v];
    t[n].link0 &= ~kMoreFollow;
    t[v].link0 = kMoreFollow;
    t[v].link1 = 0;
    t[n - 1].link0 |= kMoreFollow;
    for (uint32_t k = v + 1; k <= n; ++k) t[k].edge = t[v].edge;
    makeLeaf(tree, n + 1, r, o - L);
    setChild(t[v], suffixBit(build, r, L), n + 1);
    tree.inUse += 2;
    push(tree, n + 1, o);
    ++tree.c4;
}

void addCase5(TreeState& tree, const PsaRecord& r, uint32_t o, uint32_t L, uint32_t continuation, uint32_t v) {
    TreeNode* t = tree.nodes;
    const uint32_t n = static_cast<uint32_t>(tree.inUse);
    if (continuation != 1) fatal("firstbit %d, node %d, nsuff %d\n", continuation, tree.inUse, tree.suffixes);
    if (child1(t[v]) != 0) fatal("firstbit child (fb=%d), nsuff=%d\n", continuation, tree.suffixes);
    if (tree.compact) {
        uint32_t x = child0(t[v]);
        if (x != 0) {
            hashSetInsert(tree.sets[0], static_cast<int32_t>(x - v));
            if (!isLeaf(t[x])) hashSetInsert(tree.sets[2], static_cast<int32_t>(t[x].edge));
        }
    }
    makeLeaf(tree, n, r, o - L);
    setChild(t[v], 1, n);
    tree.inUse += 1;
    push(tree, n, o);
    ++tree.c5;
}

// The new interior record n takes over v's most recent child u at bit depth L.
// nBelow: the depth figure of n, whose complete subtree below it is u's.
void addCase6(TreeState& tree, const PsaRecord& r, uint32_t o, uint32_t L, uint32_t D, uint32_t v, uint32_t nBelow) {
    TreeNode* t = tree.nodes;
    const uint32_t n = static_cast<uint32_t>(tree.inUse);
    if (isLeaf(t[v])) fatal("leaf node above split?? nnode=%d nsuff=%d\n", tree.inUse, tree.suffixes);
    int side = child1(t[v]) != 0 ? 1 : 0;
    uint32_t u = side ? child1(t[v]) : child0(t[v]);
    if (u == 0) fatal("problem in case 6\n");
    const uint32_t cut = L - D;
    t[n].edge = cut;
    t[n].link0 = u << 2;
    t[n].link1 = (n + 1) << 2;
    makeLeaf(tree, n + 1, r, o - L);
    setChild(t[v], side, n);
    for (uint32_t k = u;; ++k) {
        t[k].edge -= cut;
        if (!moreFollows(t[k])) break;
    }
    if (tree.compact) {
        hashSetInsert(tree.sets[0], static_cast<int32_t>(u - n));
        if (!isLeaf(t[u])) hashSetInsert(tree.sets[2], static_cast<int32_t>(t[u].edge));
    }
    tree.inUse += 2;
    push(tree, n, L, nBelow);
    push(tree, n + 1, o);
    ++tree.c6;
}

void countLcp(BuildState& build, TreeState& tree, uint32_t L) {
    tree.lcpSum += L;
    tree.lcpCount += 1;
    build.current.lcpSum += L;
    build.current.lcpCount += 1;
    RunTotals& totals = build.totals;
    totals.maxLcp = std::max(totals.maxLcp, L);
    if (L > 255) ++totals.lcpsOver255;
    if (L > 65535) ++totals.lcpsOver65535;
}

}  // namespace

int defaultMaxNodes(int longestInput) {
    return std::clamp(longestInput, 3, kDefaultMaxNodesCap);
}

TreeState::~TreeState() {
    // A builder that stops early (a test, or a failed build on its way out) still waits
    // for the tree being written, so that no thread outlives the buffers.
    stopTreeWriter(*this);
    std::free(nodes);
    std::free(spare);
}

void setUpTrees(const BuildSettings& settings, const BuildState& build, TreeState& tree) {
    const int maxNodes = build.maxNodes;
    if (maxNodes < 3)
        fatal("maxNodes %d is too small: a tree needs at least 3 node records (root and one suffix)\n",
              maxNodes);
    if (maxNodes > kMaxNodesLimit) fatal("maxNodes %d is too large: at most %d node records per tree\n", maxNodes, kMaxNodesLimit);
    // A second set-up of the same tree starts afresh.
    stopTreeWriter(tree);
    std::free(tree.spare);
    tree.spare = nullptr;
    std::free(tree.nodes);
    tree.nodes = static_cast<TreeNode*>(trackedCalloc(static_cast<size_t>(maxNodes), sizeof(TreeNode)));
    if (tree.nodes == nullptr) fatal("couldn't allocate %d nodes for treeBuff\n", maxNodes);
    tree.capacity = maxNodes;
    tree.inUse = 1;
    tree.path.clear();
    tree.path.reserve(1024);
    tree.path.push_back(PathEntry{0, 0, 0});
    tree.treeNumber = 0;
    tree.from = tree.to = 0;
    tree.suffixes = 0;
    tree.c3 = tree.c4 = tree.c5 = tree.c6 = 0;
    tree.maxPath = 1;
    tree.lcpSum = tree.lcpCount = 0;
    tree.compact = settings.compact != 0;
    if (tree.compact) allocateHashSets(tree);
    tree.lastCpuMs = cpuMs();
    tree.lastWallMs = msClock();
}

int pathMaxDepth(const TreeState& tree) {
    uint32_t steps = 0;
    bool first = true;
    for (auto entry = tree.path.rbegin(); entry != tree.path.rend(); ++entry) {
        steps = first ? entry->below : std::max(entry->below, steps + 1);
        first = false;
    }
    return static_cast<int>(steps);
}

void addSuffix(BuildState& build, TreeState& tree, const PsaRecord& r, uint32_t lcp) {
    const int input = recordInput(r);
    if (input < 0 || input >= build.numInputs)
        fatal("suffix of input %d at offset %u: the data set has %d inputs\n", input, r.offset, build.numInputs);
    const int64_t remaining = static_cast<int64_t>(build.bitLengths[input]) - 2 * static_cast<int64_t>(r.offset);
    if (remaining <= 0)
        fatal("suffix of input %d at offset %u lies past the input's end (%d bits)\n", input, r.offset,
              build.bitLengths[input]);
    if (tree.inUse + 2 > tree.capacity) fatal("tree buffer of %d nodes overfilled\n", tree.capacity);
    const uint32_t o = static_cast<uint32_t>(remaining);
    tree.to = r.prefix1;

    if (tree.inUse == 1) {
        addFirstSuffix(tree, r, o);
        tree.suffixes = 1;
        return;
    }
    ++tree.suffixes;
    const uint32_t L = lcpBits(lcp);
    const uint32_t continuation = lcpContinuation(lcp);
    if (L > o)
        fatal("LCP of %u bits for a suffix of %u bits (input %d, offset %u)\n", L, o, input, r.offset);
    countLcp(build, tree, L);

    std::vector<PathEntry>& path = tree.path;
    if (o == L) {
        // Identical to the previous suffix: its chain is the top of the path.
        const PathEntry& top = path.back();
        if (top.depth != o)
            fatal("suffix of input %d at offset %u equals the previous suffix over %u bits, which is %u bits long\n",
                  input, r.offset, o, top.depth);
        const uint32_t n = static_cast<uint32_t>(tree.inUse);
        makeLeaf(tree, n, r, o - path[path.size() - 2].depth);
        tree.nodes[n - 1].link0 |= kMoreFollow;
        tree.inUse += 1;
        ++tree.c3;
        return;
    }

    // A popped entry's subtree is complete. Its depth figure goes to its parent, except
    // for the last one (u, the child of v on the path): an edge split may yet put a
    // new record between v and u.
    uint32_t uBelow = 0;
    bool popped = false;
    while (path.back().depth > L) {
        PathEntry top = path.back();
        path.pop_back();
        if (tree.compact) recordPair(tree, path.back(), top);
        PathEntry& parent = path.back();
        if (parent.depth > L) {
            parent.below = std::max(parent.below, top.below + 1);
        } else {
            uBelow = top.below;
            popped = true;
        }
    }
    const uint32_t v = path.back().node;
    const uint32_t D = path.back().depth;
    if (D != L) {
        addCase6(tree, r, o, L, D, v, uBelow + 1);
        return;
    }
    if (popped) path.back().below = std::max(path.back().below, uBelow + 1);
    if (isLeaf(tree.nodes[v]))
        addCase4(build, tree, r, o, L, v);
    else
        addCase5(tree, r, o, L, continuation, v);
}
