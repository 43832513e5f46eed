// The whole-tree traversal: every tree from -S up to -i is walked once, depth first,
// and every node is a candidate repeat (the string from the root to the node, cut to
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
#include <algorithm>
#include <cstring>
#include <vector>

#include "treequery/traversal.h"
#include "treequery/tree_store.h"
#include "toolkit/bit_vector.h"

namespace {

// Accumulators of the walk, one slot per live vector set: slot 0 is the root's, the
// others belong to nodes whose 1-child subtree is being walked. A slot holds an input
// bit vector (kvector), the preceding codes seen per input (lvector: bit 1 << code,
// suffixes at position 0 not counted), the occurrences per input modulo 256
// (cvector), and the AND and OR masks of the preceding codes.
//
// lvectors and cvectors exist only beside kvectors (both serve the custom sets, which
// need kvectors), and their bytes are non-zero only for inputs set in the kvector; so
// merging and wiping a slot visits the inputs it holds rather than every input, which
// keeps data sets of thousands of inputs walkable.
struct Accumulators {
    bool haveK = false, haveL = false, haveC = false;
    int words = 0;   // words of a kvector
    int inputs = 0;  // bytes of an lvector or cvector
    int capacity = 0;
    int used = 0;  // slots in use (slot 0 included)
    std::vector<uint32_t> k;
    std::vector<uint8_t> l, c, andMask, orMask;

    void grow(int slots) {
        capacity = slots;
        if (haveK) k.resize((size_t)slots * words);
        if (haveL) l.resize((size_t)slots * inputs);
        if (haveC) c.resize((size_t)slots * inputs);
        andMask.resize(slots);
        orMask.resize(slots);
    }
    uint32_t* kv(int s) { return haveK ? k.data() + (size_t)s * words : nullptr; }
    uint8_t* lv(int s) { return haveL ? l.data() + (size_t)s * inputs : nullptr; }
    uint8_t* cv(int s) { return haveC ? c.data() + (size_t)s * inputs : nullptr; }
    // Calls f(input) for every input set in kvector words `v`.
    template <typename F>
    void forInputs(const uint32_t* v, F f) {
        for (int w = 0; w < words; w++)
            for (uint32_t bits = v[w]; bits != 0; bits &= bits - 1)
                f(w * 32 + 31 - __builtin_ctz(bits));
    }
    // Slot 0 is cleared whole at the start of each tree; every other slot is wiped when
    // released, so a slot taken is already clear.
    int take() {
        if (used == capacity) grow(capacity * 2);
        const int s = used++;
        if (s == 0) {
            if (haveK) std::memset(kv(0), 0, sizeof(uint32_t) * words);
            if (haveL) std::memset(lv(0), 0, inputs);
            if (haveC) std::memset(cv(0), 0, inputs);
        }
        andMask[s] = 15;
        orMask[s] = 0;
        return s;
    }
    void release() {
        const int s = --used;
        if (!haveK) return;
        uint32_t* v = kv(s);
        if (haveL || haveC) {
            uint8_t* m = lv(s);
            uint8_t* n = cv(s);
            forInputs(v, [&](int i) {
                if (m) m[i] = 0;
                if (n) n[i] = 0;
            });
        }
        for (int w = 0; w < words; w++) v[w] = 0;  // mostly one word: no call
    }
    // Target vectors t, tm, tc (looked up by the caller) |= source for kvectors and
    // lvectors, += (mod 256) for cvectors; the source, the last slot taken, is wiped
    // on the way and given back.
    void mergeAndRelease(uint32_t* t, uint8_t* tm, uint8_t* tc, int source) {
        used--;
        if (!haveK) return;
        uint32_t* v = kv(source);
        if (haveL || haveC) {
            uint8_t *sm = lv(source), *sc = cv(source);
            forInputs(v, [&](int i) {
                if (tm) {
                    tm[i] |= sm[i];
                    sm[i] = 0;
                }
                if (tc) {
                    tc[i] = (uint8_t)(tc[i] + sc[i]);
                    sc[i] = 0;
                }
            });
        }
        for (int w = 0; w < words; w++) {
            t[w] |= v[w];
            v[w] = 0;
        }
    }
};

// The vectors of one slot (null where not kept), looked up once per node.
struct SlotView {
    uint32_t* V;
    uint8_t* M;
    uint8_t* C;
};

// One node on the walk's stack.
struct Frame {
    uint32_t node;
    int32_t acc;    // slot the node accumulates into (its parent's, or its parent's own)
    int32_t own;    // slot of its 1-child subtree, -1 while it has none
    int32_t phase;  // 0: enter, 1: 0-child done, 2: 1-child done
    int64_t depth;  // bit depth
    int32_t leaves; // leaves counted below it so far
    // A 1-child that is a leaf alone in its chain takes no slot of its own: its input
    // and preceding-code bit wait here and go straight into the node's slot.
    int32_t leafInput1 = -1;
    uint8_t leafCode1 = 0;
};

struct Walk {
    Accumulators acc;
    std::vector<Frame> frames;
    int visits = 0;
    // The chain processed last: its first leaf record and bit depth. It supplies the
    // reported occurrence of every node finished after it; nodes are finished after
    // their subtrees, so in a sound tree that chain lies below the node.
    uint32_t lastChain = 0;
    int64_t lastDepth = 0;
    bool chainSeen = false;   // a chain of the loaded tree has been processed
    bool reporting = false;   // standard arrays or result sets to offer nodes to
    int64_t minDepth = 0;     // 2 x threshold: shallower nodes are not reported
    int64_t deepestInput = 0; // greatest input bit length: no node lies deeper
    // entryLength() of every set, kept beside the sets: one load per offer instead of
    // a walk through the set's heap.
    int entryLength[kMaxSets];
};
Walk gWalk;

[[noreturn]] void corrupt(const char* what, long long value) {
    fatal("corrupt suffix tree file \"%s\": %s %lld\n", treeFileName(gQuery.treeIndex), what, value);
}

bool singleCode(uint8_t mask) { return mask == 1 || mask == 2 || mask == 4 || mask == 8; }

// Set bits of one word (no reliance on a population-count instruction).
inline int bitCount(uint32_t v) {
    v = v - ((v >> 1) & 0x55555555u);
    v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
    return (int)((((v + (v >> 4)) & 0x0f0f0f0fu) * 0x01010101u) >> 24);
}

// A node about to be reported. Its occurrence (the first leaf of the chain processed
// last, which lies in the node's subtree) is looked up only when a record is kept.
struct Candidate {
    ResultRecord record;
    bool hasOccurrence = false;
    const ResultRecord& located() {
        if (hasOccurrence) return record;
        if (!gWalk.chainSeen) corrupt("node without leaves below it, length", record.length);
        const Node& leaf = treeNode(gWalk.lastChain);
        if (!isLeaf(leaf))
            fatal("checkNode - node %u not a leaf (tree file \"%s\")\n", gWalk.lastChain,
                  treeFileName(gQuery.treeIndex));
        record.sequence = leafInputChecked(leaf);
        record.position = leafPosition(record.sequence, gWalk.lastDepth);
        hasOccurrence = true;
        return record;
    }
};

// The length a candidate must exceed to enter a set: none while its heap has room,
// else the worst record's (a set that keeps nothing only counts).
int entryLength(const ResultSet& set) {
    if (set.heapSize < gSettings.bestnum) return INT32_MIN;
    if (gSettings.bestnum <= 0) return INT32_MAX;
    return set.records[set.order[0]].length;
}

// Offers the finished node to every result set whose condition it meets.
void offerToSets(Candidate& node, int k, int leaves, int slot, const SlotView& view) {
    Accumulators& a = gWalk.acc;
    const uint32_t* V = view.V;
    const uint8_t* M = view.M;
    const uint8_t* C = view.C;
    const int tfreq = gSettings.tfreq;
    const int length = node.record.length;
    // Counts the candidate, and keeps it when the heap has room or it beats the worst.
    int* entry = gWalk.entryLength;
    auto offer = [&](ResultSet& set, int j) {
        if (length <= entry[j]) {
            set.total++;
            return;
        }
        offerToSet(set, node.located());
        entry[j] = entryLength(set);
    };
    for (int j = 0; j < gQuery.setCount; j++) {
        ResultSet& set = gQuery.sets[j];
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
int leafChain(uint32_t first, const SlotView& view, int64_t D, bool belowHead, uint8_t& andLocal, uint8_t& orLocal) {
    const Node* tree = gQuery.tree;
    uint32_t* V = view.V;
    uint8_t* M = view.M;
    uint8_t* C = view.C;
    const bool equiv = gSettings.equiv != 0;
    ChainCheck check{0, 0};
    gWalk.lastChain = first;
    gWalk.lastDepth = D;
    gWalk.chainSeen = true;
    int count = 0;
    for (uint32_t y = first;; y++) {
        const Node& leaf = tree[y];  // chain ends lie inside the tree (validated)
        if (!isLeaf(leaf)) corrupt("interior record inside a leaf chain, record", y);
        const int c = (int)leafInput(leaf);
        const int p = 1 << precedingCode(leaf);
        const int64_t bits = gQuery.bitLengths[c];
        if (D > bits) corrupt("leaf deeper than its input, record", y);
        const bool whole = bits == D;
        if (C) C[c]++;
        if (!whole) {
            if (M) M[c] |= (uint8_t)p;
            andLocal &= (uint8_t)p;
        }
        if (V) bitSet(V, c);
        orLocal |= (uint8_t)p;
        count++;
        if (equiv) equivLeaf(check, y, D);
        if (!moreFollows(leaf)) break;
    }
    if (equiv) equivChainEnd(check, count, belowHead);
    return count;
}

// Offers a finished node of bit depth D, with `result` leaves below it and its
// vectors in `slot`, to the standard arrays and the result sets.
void reportNode(int slot, int64_t D, int result, const SlotView& view) {
    const uint32_t* V = view.V;
    int k = 0;
    if (V != nullptr) {
        const int words = gWalk.acc.words;
        // Most nodes hold one input or none per word.
        auto count = [](uint32_t bits) { return (bits & (bits - 1)) == 0 ? (int)(bits != 0) : bitCount(bits); };
        if (words == 1)
            k = count(V[0]);
        else
            for (int w = 0; w < words; w++) k += count(V[w]);
    }
    if (V != nullptr && gSettings.rgenome >= 0 && !bitTest(V, gSettings.rgenome)) return;

    Candidate node;
    node.record = ResultRecord{k, result, V != nullptr ? (int32_t)V[0] : 0, (int32_t)(D & ~(int64_t)1), 0, 0, 0};
    const int length = node.record.length;
    if (gQuery.standardN != nullptr && result > 1 && result < gSettings.sresults &&
        length >= gQuery.standardN[result].length)
        offerStandard(gQuery.standardN, gSettings.sresults, result,
                      length > gQuery.standardN[result].length ? node.located() : node.record);
    if (gQuery.standardK != nullptr && k > 1 && k < gSettings.kresults && length >= gQuery.standardK[k].length)
        offerStandard(gQuery.standardK, gSettings.kresults, k,
                      length > gQuery.standardK[k].length ? node.located() : node.record);
    if (gQuery.setCount > 0) offerToSets(node, k, result, slot, view);
}

// Everything done for a node after its children: merging its 1-child's vectors (and
// giving back their slot), processing its leaf chain, and reporting it. Returns the
// leaves counted below it.
int finishNode(const Frame& f) {
    Accumulators& a = gWalk.acc;
    const Node& x = gQuery.tree[f.node];
    int result = f.leaves;
    const int64_t D = f.depth;
    if (D < gWalk.minDepth) return result;  // too shallow: neither merged nor reported

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
        result += leafChain(f.node, view, D, false, andLocal, orLocal);
    else if (moreFollows(x))
        result += leafChain(f.node + 1, view, D, true, andLocal, orLocal);
    a.andMask[slot] &= andLocal;
    a.orMask[slot] |= orLocal;
    if (gWalk.reporting) reportNode(slot, D, result, view);
    return result;
}

// A leaf alone in its chain, about half of all records: its string occurs once, so
// it can only be offered to a single set, and only as a whole input (a suffix that
// continues has one preceding code, which disqualifies it there); the K and N sets it
// could enter need two codes. Anything else takes the whole of finishNode. The slot
// is clean when a leaf reaches it (a 0-child shares its parent's slot before anything
// else went in, a 1-child gets a fresh one), so the leaf only sets its own bits.
inline int loneLeaf(const Node& x, uint32_t node, int32_t slot, int64_t depth) {
    Walk& w = gWalk;
    if (depth < w.minDepth) return 0;
    const int c = (int)leafInput(x);
    const int64_t bits = gQuery.bitLengths[c];
    if (depth > bits) corrupt("leaf deeper than its input, record", node);
    if (depth == bits) return finishNode(Frame{node, slot, -1, 2, depth, 0});
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

// The result walk of the loaded tree; returns the leaves counted.
int checkTree() {
    Walk& w = gWalk;
    Accumulators& a = w.acc;
    const Node* const tree = gQuery.tree;
    const int64_t deepest = w.deepestInput;
    const int nodes = gQuery.treeNodes;
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
        if (depth > deepest) corrupt("node deeper than any input, record", node);
        // Each record is entered at most once in a sound tree; more means a cycle.
        if (++visits > nodes) corrupt("record reached twice, record", node);
        if (!isLeaf(x)) {
            // Both children are fetched together: the 1-child is read again when the
            // 0-child's subtree is done, usually after a few records only.
            __builtin_prefetch(&tree[child0(x)]);
            __builtin_prefetch(&tree[child1(x)]);
            frames.push_back(Frame{node, acc, -1, 0, depth, 0});
            return -1;
        }
        if (moreFollows(x)) return finishNode(Frame{node, acc, -1, 2, depth, 0});
        return loneLeaf(x, node, acc, depth);
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
                if (depth > deepest) corrupt("node deeper than any input, record", c1);
                if (++visits > nodes) corrupt("record reached twice, record", c1);
                if (depth >= w.minDepth) {
                    const int c = (int)leafInput(y);
                    const int64_t bits = gQuery.bitLengths[c];
                    if (depth > bits) corrupt("leaf deeper than its input, record", c1);
                    if (depth == bits) {
                        f->own = a.take();
                        f->leaves += finishNode(Frame{c1, f->own, -1, 2, depth, 0});
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
        const int r = finishNode(*f);
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

// ---- Test walk (-a): tree statistics only ----

constexpr int kHashSlots = 319993;
constexpr int kHashStep = 113;

// Open-addressing table of distinct keys; key 0 marks an empty slot.
struct KeyTable {
    std::vector<int32_t> keys, numbers;
    int distinct = 0;
    int lookups = 0;
    void reset() {
        keys.assign(kHashSlots, 0);
        numbers.assign(kHashSlots, 0);
        distinct = lookups = 0;
    }
    void enter(int32_t key, int table) {
        lookups++;
        if (key == 0) return;
        int64_t r = key % kHashSlots;
        if (r < 0) r = (159996 - r) % kHashSlots;
        for (int probes = 0; probes < kHashSlots; probes++) {
            if (keys[r] == key) return;
            if (keys[r] == 0) {
                keys[r] = key;
                numbers[r] = ++distinct;
                return;
            }
            r = (r + kHashStep) % kHashSlots;
        }
        fatal("hash full, table %d\n", table);
    }
};

struct TestCounts {
    int visits, leaves, maxSteps, heads, leafRecords, with0, with1, afterHead, afterLeaf;
    int bothAndChain, only0, only1, oneNoChain, longEdges, maxInterior, maxLeaf;
    double interiorSum, leafSum;
    int interiorEdges, leafEdges;
};

KeyTable gTables[3];

int testTree() {
    const Node* tree = gQuery.tree;
    const uint32_t nodes = (uint32_t)gQuery.treeNodes;
    for (KeyTable& t : gTables) t.reset();
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
        if (++n.visits > (int)nodes) corrupt("record reached twice, record", s.node);
        n.maxSteps = std::max(n.maxSteps, s.steps);
        const Node& x = treeNode(s.node);
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
                gTables[2].enter((int32_t)e, 2);
            }
            if (c0) gTables[0].enter((int32_t)(c0 - s.node), 0);
            if (c1) gTables[1].enter((int32_t)(c1 - s.node), 1);
            // The 1-child is pushed first so that the 0-child's subtree comes first.
            if (c1) stack.push_back(Step{c1, s.steps + 1});
            if (c0) stack.push_back(Step{c0, s.steps + 1});
        }
        // The rest of the chain, by adjacency.
        bool afterHead = !isLeaf(x);
        for (uint32_t y = s.node; moreFollows(tree[y]);) {
            y++;
            if (y >= nodes) corrupt("leaf chain past the end of the tree, record", y);
            if (!isLeaf(tree[y]))
                fatal("entered interior node along chain!? record %u of tree file \"%s\"\n", y,
                      treeFileName(gQuery.treeIndex));
            if (afterHead)
                n.afterHead++;
            else
                n.afterLeaf++;
            afterHead = false;
            if (++n.visits > (int)nodes) corrupt("record reached twice, record", y);
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
             gTables[0].distinct, gTables[1].distinct, gTables[2].distinct, gTables[0].lookups,
             gTables[1].lookups, gTables[2].lookups);
    }
    gWalk.visits = n.visits;
    return n.leaves;
}

}  // namespace

void sdfs(int mode) {
    const int startCpu = cpuMs();
    const int T = gQuery.trees;
    if (!gRun.quiet) {
        note("\n");
        note("sdfs %d: %d tree%s to look at\n", mode, T, plural(T));
    }
    int levels = gQuery.maxDepth + 2;
    if (gQuery.maxDepth <= 0) {
        levels = 1000;
        if (!gRun.quiet) note("WARNING: no max tree depth given, using default %d\n", levels);
    }

    Accumulators& a = gWalk.acc;
    a = Accumulators{};
    a.haveK = gSettings.kresults != 0 || gQuery.nsets > 0 || gQuery.kSetCount > 0;
    a.haveL = gQuery.nsets > 0;
    // Occurrence counts are read by custom sets only; without them they are announced
    // but not kept.
    const bool countsAsked = gSettings.tfreq != 0;
    a.haveC = countsAsked && gQuery.nsets > 0;
    a.words = gQuery.vectorWords;
    a.inputs = gQuery.inputs;
    // The dividers' depth is only a first guess: the pool grows when a tree needs more.
    a.grow(std::clamp(levels, 2, 1024));
    if (!gRun.quiet && (a.haveK || a.haveL || countsAsked))
        note("%s%s%sallocated, maxDepth %d, %d ms\n", a.haveK ? "kvectors " : "",
             a.haveL ? "and lvectors " : "", countsAsked ? "and cvectors " : "", levels, cpuMs() - startCpu);

    for (int j = 0; j < gQuery.setCount; j++) gWalk.entryLength[j] = entryLength(gQuery.sets[j]);
    gWalk.reporting = gQuery.standardN != nullptr || gQuery.standardK != nullptr || gQuery.setCount > 0;
    gWalk.minDepth = 2LL * gSettings.threshold;
    gWalk.deepestInput = 0;
    for (int i = 0; i < gQuery.inputs; i++)
        gWalk.deepestInput = std::max<int64_t>(gWalk.deepestInput, gQuery.bitLengths[i]);

    const int end = (gSettings.inumber != 0 && gSettings.inumber < T) ? gSettings.inumber : T;
    double leafSum = 0;
    for (int t = gSettings.snumber; t < end; t++) {
        const int treeCpu = cpuMs();
        loadTree(t, kLoadForTraversal);
        validateTree();
        if (gQuery.treeNodes < 1) corrupt("node count", gQuery.treeNodes);
        gWalk.visits = 0;
        int r = mode == 1 ? checkTree() : testTree();
        if (!gRun.quiet)
            note("Tree %2d done, %d nodes, %d nodes visited, %d leaf/empty nodes, read time %d, %d ms\n", t,
                 gQuery.treeNodes, gWalk.visits, r, gQuery.treeReadMs, cpuMs() - treeCpu);
        leafSum += r;
    }
    checkSuffixTotal();
    releaseTree();
    if (!gRun.quiet) {
        note("Complete traversal finished: %d subtrees", end);
        if (end < T) fprintf(stderr, " (out of %d)", T);
        fprintf(stderr, ", %.0f leaf/empty nodes\n", leafSum);
    }
}

void runTraversal() {
    if (gSettings.testdfs) {
        sdfs(0);
        return;
    }
    sdfs(1);
    printTraversalTables();
}
