// Hamming-distance search: tree selection by the pattern's reachable key range, the
// branch-and-bound walk over branching bits, confirmation against the input text,
// leaf collection and the "Inexact Pattern Search Results" table.
//  - Branch-and-bound walk: time O(V + C·m + L) for V records reached within the
//    budget, C candidates confirmed and L leaves collected; extra memory O(V) for the
//    pending branches and their marks. Mapped trees are walked side by side, 16
//    branches in turn, and each tree's shared leading characters are charged at its
//    root, so that V counts only records on paths a match can take.
//  - Pieces (pigeonhole) split, -A pieces (the default with -U): the pattern cut into k <= HD + 1 pieces whose
//    allowances add up to HD + 1 - k, each walked as above; then time O(P·m + P log P)
//    to check and sort the P places the pieces name; extra memory O(P).
#include "treequery/inexact_search.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treequery/tree_store.h"

namespace {

// Letters compare without regard to case: a pattern typed in either case finds what
// the other finds, whichever case the converter wrote.
inline bool sameBase(char pattern, char text) { return (pattern | 0x20) == (text | 0x20); }

// The marks of a branch: the character positions whose mismatch the walk has charged.
// A branch only ever adds marks at increasing positions and copies them to the
// branches it leaves behind, so the marks form a shared list, newest (largest
// position) first, and a copy is one index.
struct Mark {
    int position;
    int next;  // -1 ends the list
};

// `marked` holds a zero byte per pattern character and is left so.
bool confirmMatch(const Node& leaf, const char* text, int budget, int marks, const std::vector<Mark>& pool,
                  const InexactPattern& pattern, std::vector<uint8_t>& marked) {
    if (!isLeaf(leaf)) fatal("problem in confirmMatch\n");
    const int m = pattern.m;
    for (int k = marks; k >= 0; k = pool[(size_t)k].next) marked[(size_t)pool[(size_t)k].position] = 1;
    bool confirmed = true;
    for (int j = 0; j < m && confirmed; j++) {
        char c = pattern.text[j];
        if (c == '*' || sameBase(c, text[j]) || marked[(size_t)j]) continue;
        if (budget > 0)
            budget--;
        else
            confirmed = false;
    }
    for (int k = marks; k >= 0; k = pool[(size_t)k].next) marked[(size_t)pool[(size_t)k].position] = 0;
    return confirmed;
}

// ---- The walk ----

// A tree the walk reaches: its records, count and checksums, whether it is the one
// loaded in the store or one of several mapped trees walked side by side.
struct WalkTree {
    const Node* records;
    uint32_t nodes;
    VerifiedFile* sums;  // a mapped tree's checksums: each record's block is verified on first use
    int index;           // divider index: its keys, and the messages on damage
};

WalkTree loadedTree(const TreeStore& store) {
    return WalkTree{store.tree, (uint32_t)store.treeNodes, store.mappedSums, store.treeIndex};
}

// One pending branch of the walk: a tree and a record in it, the bit depth of the
// record's parent, the budget left and the branch's marks.
struct Branch {
    uint32_t node;
    int tree;  // index into TreeWalk::trees
    long long depth;
    int budget;
    int marks;
};

struct TreeWalk {
    const TreeStore& store;
    const std::vector<WalkTree>& trees;
    const uint32_t inputs;
    InputTexts& texts;
    const InexactPattern& pattern;
    OccurrenceList& results;
    std::vector<uint8_t> marked;  // per pattern character: its mismatch is charged
    std::vector<Mark> marks;
    std::vector<Branch> branches;
    std::vector<std::pair<uint32_t, long long>> collectStack;
    std::vector<long long> steps;  // per tree
    std::vector<int> sharedBits;   // per tree: the leading bits its suffixes share (startTree)

    TreeWalk(QueryRun& q, const std::vector<WalkTree>& walked, const InexactPattern& p, OccurrenceList& r)
        : store(q.store),
          trees(walked),
          inputs((uint32_t)q.catalogue.inputs),
          texts(q.texts),
          pattern(p),
          results(r),
          marked((size_t)p.m, 0),
          steps(walked.size(), 0),
          sharedBits(walked.size(), 0) {}

    [[noreturn]] void corrupt(int tree, const char* what, long long value) const {
        corruptTreeFile(store, trees[(size_t)tree].index, (int)trees[(size_t)tree].nodes, what, value);
    }
    // Record `index` of a tree; an index beyond the tree is a corrupt tree.
    const Node& record(int tree, uint32_t index) const {
        const WalkTree& t = trees[(size_t)tree];
        if (index >= t.nodes) corrupt(tree, "record index", index);
        if (t.sums) t.sums->verifyInMemory(t.records, (uint64_t)index * sizeof(Node), sizeof(Node));
        return t.records[index];
    }
    // Input of a leaf; one beyond the catalogue is a corrupt tree.
    int inputOf(int tree, const Node& leaf) const {
        const uint32_t input = leafInput(leaf);
        if (input >= inputs) corrupt(tree, "input number", input);
        return (int)input;
    }
    // Character position of a leaf at bit depth `depth`, which holds the whole pattern.
    int positionOf(int tree, int input, long long depth) const {
        if (depth < 2LL * pattern.m) corrupt(tree, "leaf bit depth below the pattern", depth);
        const WalkTree& t = trees[(size_t)tree];
        return leafPositionIn(store, t.index, (int)t.nodes, input, depth);
    }

    // In a sound tree the walk, the first-leaf descents and the collections each
    // reach a record of a tree at most once; more steps mean the child fields form a cycle.
    const Node& visit(int tree, uint32_t index) {
        long long& taken = steps[(size_t)tree];
        if (++taken > 3LL * trees[(size_t)tree].nodes + 8)
            corrupt(tree, "walk steps (the child fields form a cycle)", taken);
        return record(tree, index);
    }

    void appendLeaf(int tree, const Node& leaf, long long depth) {
        const int input = inputOf(tree, leaf);
        results.append(input, positionOf(tree, input, depth));
    }

    // Every leaf below record v of a tree, whose parent lies at bit depth b.
    void collectMatchLeaves(int tree, uint32_t v, long long b) {
        collectStack.clear();
        collectStack.emplace_back(v, b);
        while (!collectStack.empty()) {
            auto [index, depth] = collectStack.back();
            collectStack.pop_back();
            for (;;) {
                const Node& node = visit(tree, index);
                if (moreFollows(node)) {
                    // Leaves that end at this record's depth follow it in its chain.
                    const long long chainDepth = depth + edgeLength(record(tree, index + 1));
                    for (uint32_t r = index + 1;; r++) {
                        const Node& leaf = visit(tree, r);
                        if (!isLeaf(leaf)) corrupt(tree, "interior record inside a leaf chain", r);
                        appendLeaf(tree, leaf, chainDepth);
                        if (!moreFollows(leaf)) break;
                    }
                }
                if (isLeaf(node)) {
                    appendLeaf(tree, node, depth + edgeLength(node));
                    break;
                }
                const long long below = depth + edgeLength(node);
                if (child0(node)) {
                    if (child1(node)) {
                        collectStack.emplace_back(child1(node), below);
                        prefetchNode(tree, child1(node));
                    }
                    index = child0(node);
                } else if (child1(node)) {
                    index = child1(node);
                } else {
                    break;
                }
                depth = below;
            }
        }
    }

    void prefetchNode(int tree, uint32_t index) const {
        const WalkTree& t = trees[(size_t)tree];
        if (index < t.nodes) __builtin_prefetch(&t.records[index]);
    }

    // One lane of the walk: a branch on its way down; a place where the pattern ends,
    // on the edge into the branch's record, on its way down to the first leaf below
    // (all leaves there share their first 2m bits, so one comparison with that leaf's
    // text stands for all of them); or that leaf's text on its way into the cache.
    enum LaneState { kIdle, kWalking, kDescending, kConfirming };
    struct Lane {
        LaneState state = kIdle;
        Branch at{};
        uint32_t index = 0;      // kDescending: the record reached; kConfirming: the leaf
        long long depth = 0;     // kDescending: the bit depth of its parent
        const char* text = nullptr;  // kConfirming
    };

    // One step of a descending lane: the record at its head, and the next one asked for.
    LaneState descend(Lane& lane) {
        const int tree = lane.at.tree;
        const Node& node = visit(tree, lane.index);
        lane.depth += edgeLength(node);
        if (!isLeaf(node)) {
            const uint32_t next = child0(node) ? child0(node) : child1(node);
            if (!next) fatal("problem in confirmMatch\n");
            lane.index = next;
            prefetchNode(tree, next);
            return kDescending;
        }
        const int input = inputOf(tree, record(tree, lane.index));
        lane.text = confirmText(texts, input, positionOf(tree, input, lane.depth), pattern.m);
        __builtin_prefetch(lane.text);
        __builtin_prefetch(lane.text + pattern.m - 1);
        return kConfirming;
    }

    void confirm(const Lane& lane) {
        const int tree = lane.at.tree;
        if (confirmMatch(record(tree, lane.index), lane.text, lane.at.budget, lane.at.marks, marks, pattern, marked))
            collectMatchLeaves(tree, lane.at.node, lane.at.depth);
    }

    // One step of a walking lane: the record at the branch's head. Returns the lane's
    // next state.
    LaneState step(Lane& lane) {
        Branch& at = lane.at;
        const Node& node = visit(at.tree, at.node);
        const long long p = at.depth + edgeLength(node);
        if (p >= 2LL * pattern.m) {
            lane.index = at.node;
            lane.depth = at.depth;
            return descend(lane);  // the record is at hand
        }
        if (isLeaf(node)) return kIdle;  // this suffix is shorter than the pattern
        const uint32_t zero = child0(node), one = child1(node);
        const uint8_t x = pattern.bits[(size_t)p];
        if (x == 2) {  // "*": both ways at no cost
            if (zero) branches.push_back(Branch{zero, at.tree, p, at.budget, at.marks});
            if (!one) return kIdle;
            at = Branch{one, at.tree, p, at.budget, at.marks};
            prefetchNode(at.tree, one);
            return kWalking;
        }
        const uint32_t match = x ? one : zero, other = x ? zero : one;
        if (other) {
            const int j = (int)(p / 2);
            // A bit the tree's suffixes share that the pattern does not have: charged
            // by startTree. Else one mismatch per character, however many of its bits differ.
            if (p < sharedBits[(size_t)at.tree] || (at.marks >= 0 && marks[(size_t)at.marks].position == j)) {
                branches.push_back(Branch{other, at.tree, p, at.budget, at.marks});
            } else if (at.budget > 0) {
                marks.push_back(Mark{j, at.marks});
                branches.push_back(Branch{other, at.tree, p, at.budget - 1, (int)marks.size() - 1});
            }
        }
        if (!match) return kIdle;
        at = Branch{match, at.tree, p, at.budget, at.marks};
        prefetchNode(at.tree, match);
        return kWalking;
    }

    // The root branch of a tree. The tree's suffixes that can hold the pattern all
    // begin with the bits on which its divider's keys agree (they lie between the two
    // keys, whose bits past an input's end are zero, and past that end only shorter
    // suffixes lie). No record of the tree branches there, so the walk would pass them
    // unchecked: the pattern's characters there are charged here, and a tree they put
    // beyond the budget is not walked at all.
    void startTree(int t) {
        const Divider& d = store.dividers[trees[(size_t)t].index];
        const uint32_t from = d.from;
        const int shared = std::min(std::countl_zero(from ^ d.to), 2 * pattern.m);  // 32 when the keys agree
        sharedBits[(size_t)t] = shared;
        int budget = pattern.hd, charged = -1;
        for (int j = 0; 2 * j < shared; j++) {
            const uint8_t x0 = pattern.bits[2 * (size_t)j], x1 = pattern.bits[2 * (size_t)j + 1];
            if (x0 == 2) continue;  // "*"
            const uint32_t code = (from >> (30 - 2 * j)) & 3u;
            // The first bit of a character may be shared without its second.
            const bool differs = 2 * j + 1 < shared ? code != (uint32_t)(x0 << 1 | x1) : (code >> 1) != x0;
            if (!differs) continue;
            if (budget == 0) return;
            budget--;
            marks.push_back(Mark{j, charged});
            charged = (int)marks.size() - 1;
        }
        branches.push_back(Branch{0, t, 0, budget, charged});
    }

    // Branch-and-bound over the branching bits, from the root of every tree: at each
    // bit the matching child goes on at no cost and the other child waits as a branch
    // of its own, at the cost of one mismatch, charged once per character position.
    // Several branches walk side by side, one record each in turn, so that the wait
    // for one branch's next record overlaps the work on the others; the trees walked
    // together give the lanes work from the first record on.
    void suffixTraverse() {
        constexpr int kLanes = 16;
        static_assert(kLanes <= kMappedTexts, "the text of every confirming lane stays mapped");
        Lane lanes[kLanes];
        branches.clear();
        marks.clear();
        for (int t = (int)trees.size() - 1; t >= 0; t--) startTree(t);
        for (;;) {
            int busy = 0;
            for (Lane& lane : lanes) {
                if (lane.state == kIdle && !branches.empty()) {
                    lane.at = branches.back();
                    branches.pop_back();
                    lane.state = kWalking;
                    prefetchNode(lane.at.tree, lane.at.node);
                    busy++;
                    continue;  // its record arrives while the other lanes work
                }
                if (lane.state == kWalking) {
                    lane.state = step(lane);
                } else if (lane.state == kDescending) {
                    lane.state = descend(lane);
                } else if (lane.state == kConfirming) {
                    confirm(lane);
                    lane.state = kIdle;
                }
                if (lane.state != kIdle) busy++;
            }
            if (busy == 0 && branches.empty()) break;
        }
    }
};

// Walks `walked` (loaded or mapped trees) for `pattern`, appending what it confirms.
void searchTrees(QueryRun& q, const std::vector<WalkTree>& walked, const InexactPattern& pattern,
                 OccurrenceList& results) {
    TreeWalk walk(q, walked, pattern, results);
    walk.suffixTraverse();
}

// The trees whose keys a pattern of m characters, within its distance, can reach
// (patternKeyRange), in file order.
std::vector<int> admittedTrees(const TreeStore& store, uint32_t minbits, uint32_t maxbits, int m) {
    std::vector<int> admitted;
    for (int t = 0; t < store.trees; t++)
        if (treeAdmitsPattern(store.dividers[t].from, store.dividers[t].to, minbits, maxbits, m)) admitted.push_back(t);
    return admitted;
}

// Walks every tree the pattern admits: mapped trees side by side in one walk, read
// trees one at a time as each is loaded. Returns the number of trees walked.
int searchAdmittedTrees(QueryRun& q, const InexactPattern& pattern, uint32_t minbits, uint32_t maxbits,
                        OccurrenceList& results) {
    const std::vector<int> admitted = admittedTrees(q.store, minbits, maxbits, pattern.m);
    std::vector<WalkTree> mapped;
    for (int t : admitted) {
        loadTree(q.store, t, kLoadForHamming);
        if (q.store.mapped)
            mapped.push_back(loadedTree(q.store));
        else
            searchTrees(q, {loadedTree(q.store)}, pattern, results);
    }
    if (!mapped.empty()) searchTrees(q, mapped, pattern, results);
    return (int)admitted.size();
}

// ---- Searching by pieces (pigeonhole split) ----

// An occurrence within HD of a pattern cut into k pieces, piece i allowed e_i
// mismatches where the e_i + 1 add up to more than HD, has some piece within its own
// allowance: otherwise it would differ in at least HD + 1 positions. So the pieces can
// be searched on their own, each a short walk near the root, and every place a piece
// occurs names a start that the text then accepts or rejects. For HD 2 or 3 this
// touches some hundreds of records where the walk of the whole pattern touches tens of
// thousands spread over every tree. The cut is a PieceSplit (treequery.h).

// Strings within e substitutions of a given string of d characters.
double ballSize(int d, int e) {
    double total = 0, choose = 1, power = 1;
    for (int j = 0; j <= e && j <= d; j++) {
        total += choose * power;
        choose = choose * (d - j) / (j + 1);
        power *= 3;
    }
    return total;
}

// Expected work of searching `length` characters within `budget` in a text of n
// characters: the records the walk reaches (the strings within the budget of each
// prefix that the text holds) and the occurrences it then collects and confirms.
double searchCost(int length, int budget, double n) {
    double walk = 0;
    for (int d = 1; d <= length; d++) walk += ballSize(d, budget) * std::min(1.0, std::ldexp(n, -2 * d));
    return walk + ballSize(length, budget) * std::ldexp(n, -2 * length) + 20;
}

double splitCost(const PieceSplit& split, double n) {
    double cost = 0;
    for (int i = 0; i < split.pieces; i++) cost += searchCost(split.length[i], split.budget[i], n);
    return cost;
}

PieceSplit cutIntoPieces(int m, int hd, int k) {
    PieceSplit split;
    split.pieces = k;
    const int spare = hd + 1 - k;  // allowances beyond zero that the pieces share
    for (int i = 0, at = 0; i < k; i++) {
        split.start[i] = at;
        split.length[i] = m / k + (i < m % k ? 1 : 0);
        split.budget[i] = spare / k + (i < spare % k ? 1 : 0);
        at += split.length[i];
    }
    return split;
}

// The cut with the least expected work; one piece is the walk of the whole pattern.
// From the even cut into k pieces, characters move from a piece to its neighbour
// while that lowers the cost: a piece allowed a mismatch names fewer places when it
// is longer, one that must match exactly can be shorter (20 characters within 2:
// 11 within 1 and 9 exact name a third of the places that 10 and 10 name).
PieceSplit choosePieces(const QueryCatalogue& catalogue, int m, int hd) {
    double n = 0;
    for (int i = 0; i < catalogue.inputs; i++) n += catalogue.bitLengths[i] / 2;
    PieceSplit best = cutIntoPieces(m, hd, 1);
    double bestCost = searchCost(m, hd, n);
    for (int k = 2; k <= hd + 1 && k <= kMaxPieces && k <= m; k++) {
        PieceSplit split = cutIntoPieces(m, hd, k);
        double cost = splitCost(split, n);
        for (bool moved = true; moved;) {
            moved = false;
            for (int i = 0; i + 1 < k; i++) {
                for (int shift : {1, -1}) {  // a character from piece i + 1 to piece i, or back
                    PieceSplit next = split;
                    next.length[i] += shift;
                    next.length[i + 1] -= shift;
                    next.start[i + 1] += shift;
                    if (next.length[i] < 1 || next.length[i + 1] < 1) continue;
                    const double c = splitCost(next, n);
                    if (c < cost - 1) {  // a record's work at least: long patterns stop at once
                        split = next;
                        cost = c;
                        moved = true;
                    }
                }
            }
        }
        if (cost < bestCost) {
            bestCost = cost;
            best = split;
        }
    }
    return best;
}

bool withinDistance(const char* pattern, const char* text, int m, int hd) {
    for (int j = 0; j < m; j++)
        if (pattern[j] != '*' && !sameBase(pattern[j], text[j]) && --hd < 0) return false;
    return true;
}

// Every place where some piece occurs within its allowance, taken back to the start
// of the whole pattern and kept when the text there is within HD of the pattern.
void searchByPieces(QueryRun& q, const InexactPattern& pattern, const PieceSplit& split, OccurrenceList& results) {
    OccurrenceList places;
    for (int i = 0; i < split.pieces; i++) {
        const char* piece = pattern.text + split.start[i];
        const int length = split.length[i], budget = split.budget[i];
        InexactPattern search{piece, length, budget, pattern01(piece, length)};
        uint32_t minbits, maxbits;
        patternKeyRange(piece, length, budget, &minbits, &maxbits);
        places.count = 0;
        searchAdmittedTrees(q, search, minbits, maxbits, places);
        // The starts lie all over the text: a batch of them is asked for before the
        // first is compared, so that their cache misses overlap.
        constexpr int kBatch = 16;
        const char* texts[kBatch];
        int starts[kBatch], inputs[kBatch];
        for (int r = 0; r < places.count;) {
            int batch = 0;
            for (; r < places.count && batch < kBatch; r++) {
                const Occurrence& o = places.items[r];
                const long long start = (long long)o.position - split.start[i];
                if (start < 0 || start + pattern.m > q.catalogue.bitLengths[o.input] / 2) continue;
                texts[batch] = confirmText(q.texts, o.input, (int)start, pattern.m);
                __builtin_prefetch(texts[batch]);
                __builtin_prefetch(texts[batch] + pattern.m - 1);
                starts[batch] = (int)start;
                inputs[batch++] = o.input;
            }
            for (int b = 0; b < batch; b++)
                if (withinDistance(pattern.text, texts[b], pattern.m, pattern.hd)) results.append(inputs[b], starts[b]);
        }
    }
}

}  // namespace

bool usePieces(const QuerySettings& s) {
    return s.hammingWalk ? strcmp(s.hammingWalk, "pieces") == 0 : s.usemmap != 0;
}

bool inexactAlphabetOk(const char* pattern, int m) {
    for (int j = 0; j < m; j++)
        if (pattern[j] != '*' && baseCode(pattern[j]) < 0) return false;
    return true;
}

std::vector<uint8_t> pattern01(const char* pattern, int m) {
    std::vector<uint8_t> bits(2 * (size_t)m);
    for (int j = 0; j < m; j++) {
        int code = baseCode(pattern[j]);
        bits[2 * (size_t)j] = code < 0 ? 2 : (uint8_t)(code >> 1);
        bits[2 * (size_t)j + 1] = code < 0 ? 2 : (uint8_t)(code & 1);
    }
    return bits;
}

void patternKeyRange(const char* pattern, int m, int hd, uint32_t* minbits, uint32_t* maxbits) {
    uint32_t low = 0, high = 0;
    int lowBudget = hd, highBudget = hd;
    for (int k = 0; k < m && k < 16; k++) {
        const int shift = 30 - 2 * k;
        if (pattern[k] == '*') {
            high |= 3u << shift;
            continue;
        }
        const int code = baseCode(pattern[k]);
        if (code < 0) fatal("bad char in search pattern\n");
        // The first hd characters that are not already the extreme base are replaced.
        if (code != 0) {
            if (lowBudget > 0)
                lowBudget--;
            else
                low |= (uint32_t)code << shift;
        }
        if (code != 3 && highBudget > 0) {
            highBudget--;
            high |= 3u << shift;
        } else {
            high |= (uint32_t)code << shift;
        }
    }
    *minbits = low;
    *maxbits = high;
}

bool treeAdmitsPattern(uint32_t low, uint32_t high, uint32_t minbits, uint32_t maxbits, int m) {
    const int s = 32 - 2 * std::min(m, 16);
    return (low >> s) <= (maxbits >> s) && (minbits >> s) <= (high >> s);
}

OccurrenceList::~OccurrenceList() { free(items); }

void OccurrenceList::release() {
    free(items);
    items = nullptr;
    count = room = 0;
}

void OccurrenceList::append(int input, int position) {
    if (count == room) {
        int grown = room == 0 ? 10 : (room > 0x3fffffff ? -1 : room * 2);
        void* more = grown > 0 ? realloc(items, sizeof(Occurrence) * (size_t)grown) : nullptr;
        if (!more) fatalTo(stdout, 255, "Error: Couldn't realloc memory to results array!\n");
        items = static_cast<Occurrence*>(more);
        room = grown;
    }
    items[count++] = Occurrence{input, position};
}

void OccurrenceList::dropRepeats() {
    count = (int)(std::unique(items, items + count,
                              [](const Occurrence& a, const Occurrence& b) {
                                  return a.input == b.input && a.position == b.position;
                              }) -
                  items);
}

void OccurrenceList::sort() {
    std::sort(items, items + count, [](const Occurrence& a, const Occurrence& b) {
        return a.input != b.input ? a.input < b.input : a.position < b.position;
    });
}

void searchLoadedTree(QueryRun& q, const InexactPattern& pattern, OccurrenceList& results) {
    searchTrees(q, {loadedTree(q.store)}, pattern, results);
}

int inexactFind(QueryRun& q, const char* pattern, int m, int hd, OccurrenceList& results) {
    if (!inexactAlphabetOk(pattern, m))
        fatalTo(stdout, 255, "Error: Search characters must be from the alphabet {A, T, C, G, *}\n");
    uint32_t minbits, maxbits;
    patternKeyRange(pattern, m, hd, &minbits, &maxbits);
    if (!gRun.quiet) {
        char low[17], high[17];
        keyLetters(minbits, low);
        keyLetters(maxbits, high);
        note("HD=%d minbits=%s maxbits=%s  pattern=%s\n", hd, low, high, pattern);
    }
    return inexactCollect(q, pattern, m, hd, results);
}

void printInexactTable(const QueryRun& q, const char* pattern, int m, int hd, const OccurrenceList& results) {
    FILE* out = q.out;
    const int origin = q.settings->indexOrigin;
    const char* treePrefix = q.settings->treePrefix;
    fprintf(out, "#tab: %s:  Inexact Pattern Search Results:  ", treePrefix);
    fprintf(out, "(%d time%s, length=%d, HD=%d)   \"%.32s%s\"\n", results.count, plural(results.count), m, hd, pattern,
            m > 32 ? "..." : "");
    fprintf(out, "#cols: Number Sequence Position Length Right SeqLength\n");
    for (int r = 0; r < results.count; r++) {
        const Occurrence& o = results.items[r];
        const int length = q.catalogue.bitLengths[o.input] / 2;
        fprintf(out, "%5d %3d %6d %6d %6d %6d\n", r + origin, o.input + origin, o.position + origin, m,
                length - o.position - m, length);
    }
}

int inexactSearch(QueryRun& q, const char* pattern, int m, int hd) {
    OccurrenceList results;
    const int searched = inexactFind(q, pattern, m, hd, results);
    printInexactTable(q, pattern, m, hd, results);
    return searched;
}

int inexactCollect(QueryRun& q, const char* pattern, int m, int hd, OccurrenceList& results) {
    // Damage met by this search ends the run on standard output too, with status 255.
    HammingDamageRoute route;
    const QuerySettings& s = *q.settings;
    InexactPattern search{pattern, m, hd, pattern01(pattern, m)};
    uint32_t minbits, maxbits;
    patternKeyRange(pattern, m, hd, &minbits, &maxbits);

    // Pieces revisit the trees once per piece, which pays with mapped trees: the
    // default there. Not for "*", whose pieces would each reach far more than their
    // length says.
    PieceSplit split;
    if (usePieces(s) && hd > 0 && !strchr(pattern, '*')) {
        if (q.pieceLength != m || q.pieceDistance != hd) {
            q.pieceCut = choosePieces(q.catalogue, m, hd);
            q.pieceLength = m;
            q.pieceDistance = hd;
        }
        split = q.pieceCut;
    }

    int searched;
    if (split.pieces == 1) {
        searched = searchAdmittedTrees(q, search, minbits, maxbits, results);
    } else {
        // The whole pattern's trees are opened (and a missing one reported) before the
        // pieces reach theirs.
        const std::vector<int> admitted = admittedTrees(q.store, minbits, maxbits, m);
        for (int t : admitted) loadTree(q.store, t, kLoadForHamming);
        searched = (int)admitted.size();
        searchByPieces(q, search, split, results);
    }
    results.sort();
    if (split.pieces > 1) results.dropRepeats();  // a start that more than one piece names
    return searched;
}
