// The walk over one tree that the traversal's files share: its accumulators, its
// stack frames and the Walk itself, set up once per run (traversal.cpp), used by the
// result walk (result_walk.cpp), the test walk of -a (test_walk.cpp) and the threads
// of -j (traversal_threads.cpp).
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "toolkit/hash_set.h"
#include "toolkit/threads.h"
#include "treequery/traversal.h"
#include "treequery/tree_store.h"


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

[[noreturn]] void corrupt(const TreeStore& store, const char* what, long long value);

// The length a candidate must exceed to enter a set: none while its heap has room,
// else the worst record's (a set that keeps nothing only counts).
inline int entryLength(const ResultSet& set) {
    if (set.heapSize < set.capacity) return INT32_MIN;
    if (set.capacity <= 0) return INT32_MAX;
    return set.records[set.order[0]].length;
}

// result_walk.cpp: the result walk of the loaded tree; returns the leaves counted.
int checkTree(Walk& w);
// test_walk.cpp: the test walk (-a) of the loaded tree, tree statistics only;
// returns the leaves counted.
int testTree(Walk& w);

// traversal.cpp
// Sets the walk up over q's tree store, sets and standard arrays; `speak`: the
// main run's lines about it.
void prepareWalk(Walk& w, QueryRun& q, int mode, bool speak);
// Loads, checks and walks tree t; returns the leaves counted. `cpu` reads the CPU
// time of the tree's line.
int walkOneTree(Walk& w, int t, int mode, int (*cpu)());

// traversal_threads.cpp: the trees from `first` up to `end` walked by the pool's
// threads, merged in tree order; returns the leaves counted.
double walkInParallel(QueryRun& q, Walk& mainWalk, int mode, int first, int end, ProgressLine& progress);
