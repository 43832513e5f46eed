// The result walk of one tree with per-level vectors: time O(R·(w + S)) for R
// records, w words of an input vector and S result sets; extra memory O(D·(w + 2I))
// for D nodes with a 1-child on the current path and I inputs (plus O(depth) stack
// frames).
//
// Every node is a candidate repeat (the string from the root to the node, cut to
// whole characters). From the leaves below a node the walk learns how often the
// string occurs, in which inputs, how often per input and which bases precede it,
// and offers the node to the standard N and K arrays and to every result set whose
// condition it meets.
//
// The walk keeps its own stack: a tree over a long run of one base nests a chain
// head every two bits, tens of thousands of levels deep. The input vectors a node
// accumulates into are shared with its 0-child; only a node that has a 1-child needs
// a vector set of its own (for that child's subtree), taken from a pool that grows
// with the tree instead of being sized from the dividers' 16-bit depth.
#include <bit>
#include <cstdint>
#include <vector>

#include "toolkit/bit_vector.h"
#include "treequery/traversal_walk.h"

[[noreturn]] void corrupt(const TreeStore& store, const char* what, long long value) {
    fatal("corrupt suffix tree file \"%s\": %s %lld\n", treePath(store, store.treeIndex).c_str(), what, value);
}

namespace {

bool singleCode(uint8_t mask) { return mask == 1 || mask == 2 || mask == 4 || mask == 8; }

// A node about to be reported. Its occurrence (the first leaf of the chain processed
// last, which lies in the node's subtree) is looked up only when a record is kept.
struct Candidate {
    ResultRecord record;
    bool hasOccurrence = false;
    const ResultRecord& located(const Walk& w) {
        if (hasOccurrence) return record;
        const TreeStore& store = *w.store;
        if (!w.chainSeen) corrupt(store, "node without leaves below it, length", record.length);
        const Node& leaf = treeNode(store, w.lastChain);
        if (!isLeaf(leaf))
            fatal("checkNode - node %u not a leaf (tree file \"%s\")\n", w.lastChain,
                  treePath(store, store.treeIndex).c_str());
        record.sequence = leafInputChecked(store, leaf);
        record.position = leafPosition(store, record.sequence, w.lastDepth);
        hasOccurrence = true;
        return record;
    }
};

// Offers the finished node to every result set whose condition it meets.
void offerToSets(Walk& w, Candidate& node, int k, int leaves, int slot, const SlotView& view) {
    Accumulators& a = w.acc;
    const uint32_t* V = view.V;
    const uint8_t* M = view.M;
    const uint8_t* C = view.C;
    const int tfreq = w.tfreq;
    const int length = node.record.length;
    // Counts the candidate, and keeps it when the heap has room or it beats the worst.
    int* entry = w.entryLength;
    auto offer = [&](ResultSet& set, int j) {
        if (length <= entry[j]) {
            set.total++;
            return;
        }
        offerToSet(set, node.located(w));
        if (w.kept) w.kept->push_back(KeptRecord{j, node.record});
        entry[j] = entryLength(set);
    };
    for (int j = 0; j < w.setCount; j++) {
        ResultSet& set = w.sets[j];
        if (set.kind == kCustomSet) {
            const int o = set.memberCount;
            if (k < o || V == nullptr) continue;
            bool ok = true;
            if (o == 1)  // singles, the commonest sets
                ok = bitTest(V, set.members[0]) != 0;
            else
                for (int m = 0; m < o && ok; m++) ok = bitTest(V, set.members[m]) != 0;
            if (!ok) continue;
            if (C != nullptr && tfreq != 0) {
                for (int m = 0; m < o && ok; m++) ok = C[set.members[m]] <= tfreq;
                if (!ok) continue;
            }
            if (o == 1) {
                if (M != nullptr && singleCode(M[set.members[0]])) continue;
            } else if (M != nullptr) {
                uint8_t all = 15;
                for (int m = 0; m < o; m++) all &= M[set.members[m]] & 15;
                if (all != 0) continue;
            }
            offer(set, j);
        } else if (set.kind == kKSet) {
            if (k == set.members[0] && a.andMask[slot] == 0) offer(set, j);
        } else {
            if (leaves == set.members[0] && !singleCode(a.orMask[slot])) offer(set, j);
        }
    }
}

// Processes the leaf chain starting at record `first` at bit depth D into the
// vectors of the node's slot and its masks; `belowHead`: the chain hangs below an interior head.
// Returns the leaves of the chain.
int leafChain(Walk& w, uint32_t first, const SlotView& view, int64_t D, bool belowHead, uint8_t& andLocal, uint8_t& orLocal) {
    const TreeStore& store = *w.store;
    const Node* tree = w.tree;
    const int32_t* bitLengths = w.bitLengths;
    uint32_t* V = view.V;
    uint8_t* M = view.M;
    uint8_t* C = view.C;
    const bool equiv = w.equiv;
    ChainCheck check{0, 0, belowHead ? first - 1 : 0, -1};
    w.lastChain = first;
    w.lastDepth = D;
    w.chainSeen = true;
    int count = 0;
    for (uint32_t y = first;; y++) {
        const Node& leaf = tree[y];  // chain ends lie inside the tree (validated)
        if (!isLeaf(leaf)) corrupt(store, "interior record inside a leaf chain, record", y);
        const int c = (int)leafInput(leaf);
        const int p = 1 << precedingCode(leaf);
        const int64_t bits = bitLengths[c];
        if (D > bits) corrupt(store, "leaf deeper than its input, record", y);
        const bool whole = bits == D;
        if (C) C[c]++;
        if (!whole) {
            if (M) M[c] |= (uint8_t)p;
            andLocal &= (uint8_t)p;
        }
        if (V) bitSet(V, c);
        orLocal |= (uint8_t)p;
        count++;
        if (equiv) equivLeaf(*w.q, check, y, D);
        if (!moreFollows(leaf)) break;
    }
    if (equiv) equivChainEnd(*w.q, check, count, belowHead);
    return count;
}

// Offers a finished node of bit depth D, with `result` leaves below it and its
// vectors in `slot`, to the standard arrays and the result sets.
void reportNode(Walk& w, int slot, int64_t D, int result, const SlotView& view) {
    const uint32_t* V = view.V;
    int k = 0;
    if (V != nullptr) {
        const int words = w.acc.words;
        // Most nodes hold one input or none per word.
        auto count = [](uint32_t bits) { return (bits & (bits - 1)) == 0 ? (int)(bits != 0) : std::popcount(bits); };
        if (words == 1)
            k = count(V[0]);
        else
            for (int w = 0; w < words; w++) k += count(V[w]);
    }
    if (V != nullptr && w.rgenome >= 0 && !bitTest(V, w.rgenome)) return;

    Candidate node;
    node.record = ResultRecord{k, result, V != nullptr ? (int32_t)V[0] : 0, (int32_t)(D & ~(int64_t)1), 0, 0, 0};
    const int length = node.record.length;
    if (w.standardN != nullptr && result > 1 && result < w.sresults &&
        length >= w.standardN[result].length)
        offerStandard(w.standardN, w.sresults, result,
                      length > w.standardN[result].length ? node.located(w) : node.record);
    if (w.standardK != nullptr && k > 1 && k < w.kresults && length >= w.standardK[k].length)
        offerStandard(w.standardK, w.kresults, k,
                      length > w.standardK[k].length ? node.located(w) : node.record);
    if (w.setCount > 0) offerToSets(w, node, k, result, slot, view);
}

// Everything done for a node after its children: merging its 1-child's vectors (and
// giving back their slot), processing its leaf chain, and reporting it. Returns the
// leaves counted below it.
int finishNode(Walk& w, const Frame& f) {
    Accumulators& a = w.acc;
    const Node& x = w.tree[f.node];
    int result = f.leaves;
    const int64_t D = f.depth;
    if (D < w.minDepth) return result;  // too shallow: neither merged nor reported

    const int slot = f.acc;
    const SlotView view{a.kv(slot), a.lv(slot), a.cv(slot)};
    uint8_t andLocal = 15, orLocal = 0;
    if (f.own >= 0) {
        andLocal = a.andMask[f.own];
        orLocal = a.orMask[f.own];
        a.mergeAndRelease(view.V, view.M, view.C, f.own);
    } else if (f.leafInput1 >= 0) {
        const int c = f.leafInput1;
        if (view.V) bitSet(view.V, c);
        if (view.M) view.M[c] |= f.leafCode1;
        if (view.C) view.C[c]++;
        andLocal = f.leafCode1;
        orLocal = f.leafCode1;
    }
    if (isLeaf(x))
        result += leafChain(w, f.node, view, D, false, andLocal, orLocal);
    else if (moreFollows(x))
        result += leafChain(w, f.node + 1, view, D, true, andLocal, orLocal);
    a.andMask[slot] &= andLocal;
    a.orMask[slot] |= orLocal;
    if (w.reporting) reportNode(w, slot, D, result, view);
    return result;
}

// A leaf alone in its chain, about half of all records: its string occurs once, so
// it can only be offered to a single set, and only as a whole input (a suffix that
// continues has one preceding code, which disqualifies it there); the K and N sets it
// could enter need two codes. Anything else takes the whole of finishNode. The slot
// is clean when a leaf reaches it (a 0-child shares its parent's slot before anything
// else went in, a 1-child gets a fresh one), so the leaf only sets its own bits.
inline int loneLeaf(Walk& w, const Node& x, uint32_t node, int32_t slot, int64_t depth) {
    if (depth < w.minDepth) return 0;
    const int c = (int)leafInput(x);
    const int64_t bits = w.bitLengths[c];
    if (depth > bits) corrupt(*w.store, "leaf deeper than its input, record", node);
    if (depth == bits) return finishNode(w, Frame{node, slot, -1, 2, depth, 0});
    Accumulators& a = w.acc;
    const uint8_t p = (uint8_t)(1 << precedingCode(x));
    if (a.haveK) bitSet(a.k.data() + (size_t)slot * a.words, c);
    if (a.haveL) a.l[(size_t)slot * a.inputs + c] |= p;
    if (a.haveC) a.c[(size_t)slot * a.inputs + c]++;
    a.andMask[slot] &= p;
    a.orMask[slot] |= p;
    w.lastChain = node;
    w.lastDepth = depth;
    w.chainSeen = true;
    return 1;
}

}  // namespace

// The result walk of the loaded tree; returns the leaves counted.
__attribute__((noinline)) int checkTree(Walk& w) {
    Accumulators& a = w.acc;
    const TreeStore& store = *w.store;
    const int32_t* bitLengths = w.bitLengths;
    const Node* const tree = w.tree;
    const int64_t deepest = w.deepestInput;
    const int nodes = store.treeNodes;
    std::vector<Frame>& frames = w.frames;
    frames.clear();
    w.chainSeen = false;
    a.used = 0;
    a.take();  // slot 0: the root's accumulators
    int visits = 1;
    // Enters a child: a leaf is finished at once, an interior record goes on the
    // stack. Returns the leaves counted when the child was a leaf, -1 when pushed.
    auto enter = [&](uint32_t node, int32_t acc, int64_t parentDepth) -> int {
        const Node& x = tree[node];  // index validated
        const int64_t depth = parentDepth + edgeLength(x);
        // Nothing in a sound tree lies deeper than the longest input.
        if (depth > deepest) corrupt(store, "node deeper than any input, record", node);
        // Each record is entered at most once in a sound tree; more means a cycle.
        if (++visits > nodes) corrupt(store, "record reached twice, record", node);
        if (!isLeaf(x)) {
            // Both children are fetched together: the 1-child is read again when the
            // 0-child's subtree is done, usually after a few records only.
            __builtin_prefetch(&tree[child0(x)]);
            __builtin_prefetch(&tree[child1(x)]);
            frames.push_back(Frame{node, acc, -1, 0, depth, 0});
            return -1;
        }
        if (moreFollows(x)) return finishNode(w, Frame{node, acc, -1, 2, depth, 0});
        return loneLeaf(w, x, node, acc, depth);
    };
    frames.push_back(Frame{0, 0, -1, 0, edgeLength(tree[0]), 0});
    int total = 0;
    while (!frames.empty()) {
        Frame* f = &frames.back();
        const Node& x = tree[f->node];
        if (f->phase == 0) {
            f->phase = 1;
            if (child0(x) != 0) {
                const int r = enter(child0(x), f->acc, f->depth);
                if (r < 0) continue;
                f->leaves += r;
            }
        }
        if (f->phase == 1) {
            f->phase = 2;
            const uint32_t c1 = child1(x);
            const Node& y = tree[c1];
            if (c1 != 0 && isLeaf(y) && !moreFollows(y)) {
                // As enter() and loneLeaf() do, but the leaf's bits wait in the frame.
                const int64_t depth = f->depth + edgeLength(y);
                if (depth > deepest) corrupt(store, "node deeper than any input, record", c1);
                if (++visits > nodes) corrupt(store, "record reached twice, record", c1);
                if (depth >= w.minDepth) {
                    const int c = (int)leafInput(y);
                    const int64_t bits = bitLengths[c];
                    if (depth > bits) corrupt(store, "leaf deeper than its input, record", c1);
                    if (depth == bits) {
                        f->own = a.take();
                        f->leaves += finishNode(w, Frame{c1, f->own, -1, 2, depth, 0});
                    } else {
                        f->leafInput1 = c;
                        f->leafCode1 = (uint8_t)(1 << precedingCode(y));
                        w.lastChain = c1;
                        w.lastDepth = depth;
                        w.chainSeen = true;
                        f->leaves++;
                    }
                }
            } else if (c1 != 0) {
                f->own = a.take();
                const int r = enter(child1(x), f->own, f->depth);
                if (r < 0) continue;
                f->leaves += r;
            }
        }
        const int r = finishNode(w, *f);
        // finishNode gives back the slot of the 1-child subtree when it merges it.
        if (f->own >= 0 && f->depth < w.minDepth) a.release();
        frames.pop_back();
        if (frames.empty())
            total = r;
        else
            frames.back().leaves += r;
    }
    w.visits = visits;
    return total;
}
