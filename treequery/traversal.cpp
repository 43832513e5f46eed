// The whole-tree traversal with per-level vectors: time O(R·(w + S)) for R records,
// w words of an input vector and S result sets; extra memory O(D·(w + 2I)) for D
// nodes with a 1-child on the current path and I inputs (plus O(depth) stack frames).
//
// Every tree from -S up to -i is walked once, depth first,
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
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "treequery/traversal.h"
#include "treequery/tree_store.h"
#include "treequery/user_terms.h"
#include "toolkit/bit_vector.h"
#include "toolkit/hash_set.h"
#include "toolkit/threads.h"
#include "treequery/workers.h"

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

// A record that a set's heap took during a worker's walk of one tree.
struct KeptRecord {
    int set;
    ResultRecord record;
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
    // Distinct child offsets (0-, 1-child) and edge lengths of the test walk.
    HashSet tables[3];
    QueryRun* q = nullptr;
    const QuerySettings* s = nullptr;
    TreeStore* store = nullptr;
    // What the hot paths read at every node, copied here once per run (and the tree
    // once per tree) so that each is one load away.
    const Node* tree = nullptr;
    const int32_t* bitLengths = nullptr;
    bool equiv = false;
    int rgenome = -1, tfreq = 0, sresults = 0, kresults = 0, setCount = 0;
    ResultRecord* standardN = nullptr;
    ResultRecord* standardK = nullptr;
    ResultSet* sets = nullptr;
    // A worker's walk of one tree (-j): every record its own heaps took, in order,
    // for the main run to offer again in tree order (null when walking alone).
    std::vector<KeptRecord>* kept = nullptr;
};

[[noreturn]] void corrupt(const TreeStore& store, const char* what, long long value) {
    fatal("corrupt suffix tree file \"%s\": %s %lld\n", treePath(store, store.treeIndex).c_str(), what, value);
}

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

// The length a candidate must exceed to enter a set: none while its heap has room,
// else the worst record's (a set that keeps nothing only counts).
int entryLength(const ResultSet& set) {
    if (set.heapSize < set.capacity) return INT32_MIN;
    if (set.capacity <= 0) return INT32_MAX;
    return set.records[set.order[0]].length;
}

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

// ---- Test walk (-a): tree statistics only ----

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

}  // namespace

namespace {

// Sets the walk up over q's tree store, sets and standard arrays; `speak`: the
// main run's lines about it.
void prepareWalk(Walk& w, QueryRun& q, int mode, bool speak) {
    const QuerySettings& s = *q.settings;
    TreeStore& store = q.store;
    speak = speak && !gRun.quiet;
    w.q = &q;
    w.s = &s;
    w.store = &store;
    w.bitLengths = q.catalogue.bitLengths;
    w.equiv = s.equiv != 0;
    w.rgenome = s.rgenome;
    w.tfreq = s.tfreq;
    w.sresults = s.sresults;
    w.kresults = s.kresults;
    w.setCount = q.setCount;
    w.standardN = q.standardN;
    w.standardK = q.standardK;
    w.sets = q.sets;
    const int startCpu = cpuMs();
    const int T = store.trees;
    if (speak) {
        note("\n");
        note("sdfs %d: %d tree%s to look at\n", mode, T, plural(T));
    }
    int levels = store.maxDepth + 2;
    if (store.maxDepth <= 0) {
        levels = 1000;
        if (speak) note("WARNING: no max tree depth given, using default %d\n", levels);
    }

    Accumulators& a = w.acc;
    a = Accumulators{};
    a.haveK = s.kresults != 0 || q.nsets > 0 || q.kSetCount > 0;
    a.haveL = q.nsets > 0;
    // Occurrence counts are read by custom sets only; without them they are announced
    // but not kept.
    const bool countsAsked = s.tfreq != 0;
    a.haveC = countsAsked && q.nsets > 0;
    a.words = q.catalogue.vectorWords;
    a.inputs = q.catalogue.inputs;
    // The dividers' depth is only a first guess: the pool grows when a tree needs more.
    a.grow(std::clamp(levels, 2, 1024));
    if (speak && (a.haveK || a.haveL || countsAsked))
        note("%s%s%sallocated, maxDepth %d, %d ms\n", a.haveK ? "kvectors " : "",
             a.haveL ? "and lvectors " : "", countsAsked ? "and cvectors " : "", levels, cpuMs() - startCpu);

    for (int j = 0; j < q.setCount; j++) w.entryLength[j] = entryLength(q.sets[j]);
    w.reporting = q.standardN != nullptr || q.standardK != nullptr || q.setCount > 0;
    w.minDepth = 2LL * s.threshold;
    w.deepestInput = 0;
    for (int i = 0; i < q.catalogue.inputs; i++)
        w.deepestInput = std::max<int64_t>(w.deepestInput, q.catalogue.bitLengths[i]);
    if (mode != 1)
        for (int t = 0; t < 3; t++)
            if (!allocateHashSet(w.tables[t], t, false)) fatal("can't allocate key table %d of the test walk\n", t);
}

// Loads, checks and walks tree t; returns the leaves counted. `cpu` reads the CPU
// time of the tree's line.
int walkOneTree(Walk& w, int t, int mode, int (*cpu)()) {
    TreeStore& store = *w.store;
    const int treeCpu = cpu();
    loadTree(store, t, kLoadForTraversal);
    validateTree(store);
    w.tree = store.tree;
    if (store.treeNodes < 1) corrupt(store, "node count", store.treeNodes);
    w.visits = 0;
    int r = mode == 1 ? checkTree(w) : testTree(w);
    if (!gRun.quiet)
        note("Tree %2d done, %d nodes, %d nodes visited, %d leaf/empty nodes, read time %d, %d ms\n", t,
             store.treeNodes, w.visits, r, store.treeReadMs, cpu() - treeCpu);
    return r;
}

int threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return (int)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// What a worker's walk of one tree leaves for the main run: the records its heaps
// took and its candidate counts, its standard arrays, its -e lines and counts, and
// its leaves.
struct TreePart {
    std::vector<KeptRecord> kept;
    std::vector<int> totals;
    std::vector<ResultRecord> standardN, standardK;
    std::string equivLines;
    std::vector<std::string> relations;
    int equivClasses = 0, equivRedundant = 0, equivLargest = 0, contained = 0;
    long long treeLeaves = -1;
    int leaves = 0;
    bool fromWorker = false;  // false: walked on the main thread, straight into the main run
};

// A thread's walk and the sets, standard arrays and output of its run, emptied
// before every tree: the heaps then take what one thread's heaps would take from this
// tree alone, a superset of what they take after the trees before it.
struct WalkerThread {
    Walk walk;
    std::vector<ResultRecord> records, standardN, standardK;
    std::vector<int> order;
};

void prepareWalker(WalkerThread& t, QueryRun& main, QueryRun& run, int mode) {
    const int capacity = main.settings->bestnum;
    run.setCount = main.setCount;
    run.customSetCount = main.customSetCount;
    run.nsets = main.nsets;
    run.kSetCount = main.kSetCount;
    run.nSetCount = main.nSetCount;
    t.records.assign((size_t)std::max(capacity, 1) * (size_t)main.setCount, ResultRecord{});
    t.order.assign(t.records.size(), 0);
    for (int j = 0; j < main.setCount; j++) {
        run.sets[j] = main.sets[j];
        run.sets[j].records = t.records.data() + (size_t)j * std::max(capacity, 1);
        run.sets[j].order = t.order.data() + (size_t)j * std::max(capacity, 1);
        run.sets[j].heapSize = 0;
        run.sets[j].total = 0;
    }
    t.standardN.assign(main.standardN ? (size_t)main.settings->sresults : 0, ResultRecord{});
    t.standardK.assign(main.standardK ? (size_t)main.settings->kresults : 0, ResultRecord{});
    run.standardN = main.standardN ? t.standardN.data() : nullptr;
    run.standardK = main.standardK ? t.standardK.data() : nullptr;
    prepareWalk(t.walk, run, mode, false);
}

void walkPart(WalkerThread& t, QueryRun& run, int tree, int mode, TreePart& part) {
    Walk& w = t.walk;
    for (int j = 0; j < run.setCount; j++) {
        run.sets[j].heapSize = 0;
        run.sets[j].total = 0;
        w.entryLength[j] = entryLength(run.sets[j]);
    }
    std::fill(t.standardN.begin(), t.standardN.end(), ResultRecord{});
    std::fill(t.standardK.begin(), t.standardK.end(), ResultRecord{});
    run.equivClasses = run.equivRedundant = run.equivLargest = run.contained = 0;
    run.relations.clear();
    part.kept.clear();
    w.kept = &part.kept;
    char* lines = nullptr;
    size_t size = 0;
    run.out = nullptr;
    if (w.equiv && outputFormat(*run.settings) != kFormatTsv) {
        run.out = open_memstream(&lines, &size);
        if (!run.out) fatal("can't keep the equivalence lines of tree %d\n", tree);
    }
    struct Closer {
        FILE*& out;
        char*& lines;
        ~Closer() {
            if (out) fclose(out);
            free(lines);
        }
    } closer{run.out, lines};
    part.leaves = walkOneTree(w, tree, mode, threadCpuMs);
    if (run.out) {
        fclose(run.out);
        run.out = nullptr;
        part.equivLines.assign(lines, size);
    }
    part.totals.resize((size_t)run.setCount);
    for (int j = 0; j < run.setCount; j++) part.totals[(size_t)j] = run.sets[j].total;
    part.standardN = t.standardN;
    part.standardK = t.standardK;
    part.relations.swap(run.relations);
    part.equivClasses = run.equivClasses;
    part.equivRedundant = run.equivRedundant;
    part.equivLargest = run.equivLargest;
    part.contained = run.contained;
    part.treeLeaves = run.store.treeLeaves[(size_t)tree];
    part.fromWorker = true;
}

// An entry of a standard array after the trees before and then this tree: the longer
// record stays (the earlier one at equal length), and equal lengths add their counts.
void mergeStandard(ResultRecord* into, const std::vector<ResultRecord>& part) {
    for (size_t i = 2; i < part.size(); i++) {
        if (part[i].length > into[i].length)
            into[i] = part[i];
        else if (part[i].length == into[i].length)
            into[i].NC += part[i].NC;
    }
}

// Adds one tree's part to the main run as if its walk had offered to the main heaps.
// A candidate the tree's own empty heaps refused would have been refused by the main
// heaps as well (those hold the best of more candidates), so offering again the
// records the tree's heaps took, in the same order, leaves every heap as one thread
// leaves it, ties included.
void mergePart(QueryRun& q, int tree, TreePart& part, FILE* out) {
    for (int j = 0; j < q.setCount; j++) q.sets[j].total += part.totals[(size_t)j];
    for (const KeptRecord& k : part.kept) {
        offerToSet(q.sets[k.set], k.record);
        q.sets[k.set].total--;  // counted in the tree's total already
    }
    if (q.standardN) mergeStandard(q.standardN, part.standardN);
    if (q.standardK) mergeStandard(q.standardK, part.standardK);
    if (!part.equivLines.empty()) fwrite(part.equivLines.data(), 1, part.equivLines.size(), out);
    for (std::string& r : part.relations) q.relations.push_back(std::move(r));
    q.equivClasses += part.equivClasses;
    q.equivRedundant += part.equivRedundant;
    q.equivLargest = std::max(q.equivLargest, part.equivLargest);
    q.contained += part.contained;
    q.store.treeLeaves[(size_t)tree] = part.treeLeaves;
    part = TreePart();
}

// The trees from `first` up to `end` walked by the pool's threads, merged in tree order.
double walkInParallel(QueryRun& q, Walk& mainWalk, int mode, int first, int end, ProgressLine& progress) {
    WorkerPool& pool = *q.pool;
    const int threads = pool.threads;
    std::vector<std::unique_ptr<WalkerThread>> walkers;
    for (int k = 0; k < threads; k++) {
        walkers.push_back(std::make_unique<WalkerThread>());
        prepareWalker(*walkers.back(), q, pool.workers[(size_t)k]->run, mode);
    }
    const int count = end - first;
    const int ahead = 2 * threads;
    std::vector<TreePart> parts((size_t)ahead + 1);
    double leafSum = 0;
    auto task = [&](int worker, QueryRun& run, int i) {
        TreePart& part = parts[(size_t)i % parts.size()];
        if (worker < threads) {
            walkPart(*walkers[(size_t)worker], run, first + i, mode, part);
            return;
        }
        // Done again on the main thread: straight into the main run.
        part = TreePart();
        for (int j = 0; j < q.setCount; j++) mainWalk.entryLength[j] = entryLength(q.sets[j]);
        part.leaves = walkOneTree(mainWalk, first + i, mode, cpuMs);
    };
    auto deliver = [&](int i) {
        TreePart& part = parts[(size_t)i % parts.size()];
        leafSum += part.leaves;
        if (part.fromWorker) mergePart(q, first + i, part, q.out);
        progress.update((uint64_t)i + 1);
    };
    runOrdered(pool, q, count, ahead, task, deliver, &progress);
    return leafSum;
}

}  // namespace

void sdfs(QueryRun& q, int mode) {
    const QuerySettings& s = *q.settings;
    TreeStore& store = q.store;
    Walk w;
    prepareWalk(w, q, mode, true);
    const int T = store.trees;
    const int end = (s.inumber != 0 && s.inumber < T) ? s.inumber : T;
    ProgressLine progress;
    progress.start("traversal", "trees", end > s.snumber ? (uint64_t)(end - s.snumber) : 0);
    double leafSum = 0;
    if (q.pool && q.pool->threads > 1 && end - s.snumber > 1) {
        leafSum = walkInParallel(q, w, mode, s.snumber, end, progress);
    } else {
        for (int t = s.snumber; t < end; t++) {
            clearProgress(progress);
            leafSum += walkOneTree(w, t, mode, cpuMs);
            progress.update((uint64_t)(t - s.snumber + 1));
        }
    }
    progress.finish();
    checkSuffixTotal(store);
    releaseTree(store);
    if (!gRun.quiet) {
        note("Complete traversal finished: %d subtrees", end);
        if (end < T) fprintf(stderr, " (out of %d)", T);
        fprintf(stderr, ", %.0f leaf/empty nodes\n", leafSum);
    }
}

void runTraversal(QueryRun& q) {
    if (q.settings->testdfs) {
        sdfs(q, 0);
        return;
    }
    sdfs(q, 1);
    if (outputFormat(*q.settings) == kFormatTsv)
        printTraversalTsv(q);
    else
        printTraversalTables(q);
}
