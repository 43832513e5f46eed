// Maximal repeats with every copy (repeats.h): the walk of every tree for the repeats
// of one strand, strings that cross trees searched whole, and with inverted repeats
// the maximal pairs between texts and reverse complements by seeds and extension.
//
// Time: O(R) for the walk of R tree records, plus one exact search per string that
// crosses trees and, on both strands, per repeat kept and per seed; extensions cost
// the length of each pair found again from each of its seeds. Extra memory: the texts,
// one tree's leaves, and the repeats and candidate strings kept.
#include "treequery/repeats.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <functional>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "treequery/exact_search.h"
#include "treequery/tree_store.h"
#include "treequery/user_terms.h"

namespace {

int complementCode(int code) { return 3 - code; }

// A copy before another: by input, start, then '+' first.
bool copyBefore(const RepeatCopy& a, const RepeatCopy& b) {
    if (a.input != b.input) return a.input < b.input;
    if (a.start != b.start) return a.start < b.start;
    return !a.reverse && b.reverse;
}
// A repeat listed before another: longer, then by first copy.
bool listedBefore(const Repeat& a, const Repeat& b) {
    if (a.length != b.length) return a.length > b.length;
    return copyBefore(a.copies.front(), b.copies.front());
}

// A string to be searched whole: the bases of `length` from `start` of `input`.
struct Candidate {
    int input;
    int64_t start;
    int64_t length;
};

struct Finder {
    QueryRun& q;
    const RepeatSettings& r;
    std::vector<std::string> texts;  // the inputs' bases, lower case
    int64_t minLength;
    int64_t floor = 0;  // no repeat shorter is listed (known once the walk is done)
    size_t cap;  // repeats kept (0: all); on both strands, while walking, sure strings
    bool walking = true;  // the walk runs (on both strands its repeats are candidates only)

    // The repeats found complete, best first once sorted; a heap on listedBefore while
    // they are found (its root the worst kept).
    std::vector<Repeat> kept;
    // On both strands, while walking: a min-heap of the lengths of the walk's strings
    // that will be listed whatever copies the other strand adds. Each listed repeat
    // is at most two of them (a string and its reverse complement), so 2 * top sure
    // strings of length L or more prove that nothing shorter than L is listed. The
    // others (one input under --between, copies across N runs) cannot set the cut:
    // their reverse copies may still make them listed.
    std::vector<int64_t> sure;
    // Strings to search whole (crossing trees, and on both strands every repeat).
    std::vector<Candidate> candidates;

    Finder(QueryRun& run, const RepeatSettings& settings) : q(run), r(settings) {
        minLength = std::max<int64_t>(1, r.minLength);
        cap = r.top <= 0 ? 0 : (size_t)r.top * (r.inverted ? 2 : 1);
        texts = readWholeTexts(q.texts, q.catalogue.lengths);
        q.texts.resident = &texts;
    }
    ~Finder() { q.texts.resident = nullptr; }

    int code(int input, int64_t at) const { return baseCode(texts[(size_t)input][(size_t)at]); }
    std::string_view bases(const Candidate& c) const {
        return std::string_view(texts[(size_t)c.input]).substr((size_t)c.start, (size_t)c.length);
    }

    // Shortest length a repeat needs to be kept now.
    int64_t threshold() const {
        const int64_t least = std::max(minLength, floor);
        if (r.inverted && walking) return cap == 0 || sure.size() < cap ? least : std::max(least, sure.front());
        if (cap == 0 || kept.size() < cap) return least;
        return std::max(least, kept.front().length);
    }

    // The base before and after a copy along the repeat's string (-1: the input's
    // start or end, unlike every other).
    std::pair<int, int> context(const RepeatCopy& c, int64_t length) const {
        const int64_t n = (int64_t)texts[(size_t)c.input].size();
        const int before = c.start > 0 ? code(c.input, c.start - 1) : -1;
        const int after = c.start + length < n ? code(c.input, c.start + length) : -1;
        if (!c.reverse) return {before, after};
        return {after < 0 ? -1 : complementCode(after), before < 0 ? -1 : complementCode(before)};
    }
    bool maximal(const std::vector<RepeatCopy>& copies, int64_t length) const {
        unsigned left = 0, right = 0;
        bool leftEnd = false, rightEnd = false;
        for (const RepeatCopy& c : copies) {
            const auto [l, rr] = context(c, length);
            if (l < 0) leftEnd = true; else left |= 1u << l;
            if (rr < 0) rightEnd = true; else right |= 1u << rr;
        }
        return (leftEnd || std::popcount(left) >= 2) && (rightEnd || std::popcount(right) >= 2);
    }

    // Copies that span a removed stretch go out (counted); false when fewer than two
    // copies, or (--between) one input only, remain.
    bool finish(Repeat& rep) const {
        if (q.maps.size() == texts.size()) {
            const size_t before = rep.copies.size();
            std::erase_if(rep.copies, [&](const RepeatCopy& c) {
                return spansRemoved(q.maps[(size_t)c.input], c.start, c.start + rep.length);
            });
            rep.leftOut = (int64_t)(before - rep.copies.size());
        }
        if (rep.copies.size() < 2) return false;
        std::sort(rep.copies.begin(), rep.copies.end(), copyBefore);
        if (rep.copies.front().reverse)
            for (RepeatCopy& c : rep.copies) c.reverse = !c.reverse;
        if (r.between &&
            std::all_of(rep.copies.begin(), rep.copies.end(), [&](const RepeatCopy& c) { return c.input == rep.copies[0].input; }))
            return false;
        return true;
    }

    // A repeat of the walk on both strands is only a string to search on both: its
    // copies come later.
    void offerString(const Repeat& rep) {
        const RepeatCopy& first = *std::min_element(rep.copies.begin(), rep.copies.end(), copyBefore);
        candidates.push_back(Candidate{first.input, first.start, rep.length});
        if (cap == 0) return;
        int count = 0, input = -1;
        bool inputs = false;  // the copies counted lie in two inputs or more
        for (const RepeatCopy& c : rep.copies) {
            if (q.maps.size() == texts.size() && spansRemoved(q.maps[(size_t)c.input], c.start, c.start + rep.length))
                continue;
            inputs = inputs || (count > 0 && c.input != input);
            input = c.input;
            count++;
        }
        if (count < 2 || (r.between && !inputs)) return;
        auto longer = std::greater<int64_t>();
        sure.push_back(rep.length);
        std::push_heap(sure.begin(), sure.end(), longer);
        if (sure.size() > cap) {
            std::pop_heap(sure.begin(), sure.end(), longer);
            sure.pop_back();
        }
    }

    void offer(Repeat&& rep) {
        if (rep.length < threshold()) return;
        if (r.inverted && walking) return offerString(rep);
        if (!finish(rep)) return;
        auto worse = [](const Repeat& a, const Repeat& b) { return listedBefore(a, b); };
        if (cap != 0 && kept.size() == cap) {
            if (!listedBefore(rep, kept.front())) return;
            std::pop_heap(kept.begin(), kept.end(), worse);
            kept.pop_back();
        }
        kept.push_back(std::move(rep));
        if (cap != 0) std::push_heap(kept.begin(), kept.end(), worse);
    }

    // Strings searched so far (on both strands the lesser of a string and its reverse
    // complement).
    std::unordered_set<std::string> searched;

    void walkTrees();
    void searchCandidates();
    void seedInverted(int64_t least);
};

// ---- The walk of one strand ----

struct Leaf {
    int input;
    int64_t start;
};

// What a node learns from the leaves below it.
struct Below {
    unsigned preceding = 0;  // bit per base code before a leaf's suffix
    bool atStart = false;    // a leaf at an input's start
    int minInput = INT_MAX, maxInput = -1;
    void add(const Below& b) {
        preceding |= b.preceding;
        atStart = atStart || b.atStart;
        minInput = std::min(minInput, b.minInput);
        maxInput = std::max(maxInput, b.maxInput);
    }
};

struct Frame {
    uint32_t node;
    int64_t depth, parentDepth;
    int phase;
    bool last;     // on the path to the tree's last leaf
    size_t first;  // its first leaf in the tree's leaves
    int contexts;  // children and suffixes ending here: distinct next bases
    Below below;
};

struct TreeWalk {
    Finder& f;
    TreeStore& store;
    const Node* tree = nullptr;
    std::vector<Leaf> leaves;  // in suffix order: a node's leaves are a range
    std::vector<Frame> frames;
    int64_t deepest = 0;
    long long visits = 0;
    // Strings of the first (last) suffix up to this length may have suffixes in the
    // tree before (after) as well; -1 when there is no such tree.
    int64_t firstShared = -1, lastShared = -1;

    TreeWalk(Finder& finder, TreeStore& trees) : f(finder), store(trees) {}

    // The leaves of the chain from `first` at bit depth `depth`; returns their count.
    int chain(uint32_t first, int64_t depth, Below& below) {
        int count = 0;
        for (uint32_t y = first;; y++) {
            if (++visits > store.treeNodes) corruptTree(store, "record reached twice, record", y);
            const Node& leaf = tree[y];  // chain ends lie inside the tree (validated)
            if (!isLeaf(leaf)) corruptTree(store, "interior record inside a leaf chain, record", y);
            const int input = leafInputChecked(store, leaf);
            const int64_t start = leafPosition(store, input, depth);
            leaves.push_back(Leaf{input, start});
            if (start == 0)
                below.atStart = true;
            else
                below.preceding |= 1u << precedingCode(leaf);
            below.minInput = std::min(below.minInput, input);
            below.maxInput = std::max(below.maxInput, input);
            count++;
            if (!moreFollows(leaf)) return count;
        }
    }

    // A node of bit depth D (parent at parentDepth) whose leaves are [first, leaves.size()).
    void consider(int64_t D, int64_t parentDepth, int contexts, size_t first, bool last, const Below& below) {
        const int64_t length = D / 2;
        if (contexts < 2 || length < f.threshold()) return;
        // At an odd depth the node stands for its whole bases only when no node lies
        // at the depth of those bases (that one is the string's node).
        if ((D & 1) && parentDepth >= D - 1) return;
        // A string of a tree's first or last suffix that the neighbouring tree shares:
        // its copies and bases around them lie in both, so it is searched whole.
        if ((first == 0 && length <= firstShared) || (last && length <= lastShared)) {
            f.candidates.push_back(Candidate{leaves[first].input, leaves[first].start, length});
            return;
        }
        if (!below.atStart && std::popcount(below.preceding) < 2) return;
        if (f.r.between && !f.r.inverted && below.minInput == below.maxInput) return;
        Repeat rep{length, {}, 0};
        rep.copies.reserve(leaves.size() - first);
        for (size_t k = first; k < leaves.size(); k++) rep.copies.push_back(RepeatCopy{leaves[k].input, leaves[k].start, false});
        f.offer(std::move(rep));
    }

    // Enters child c of frame `parent`: a leaf chain is finished at once, an interior
    // record pushed.
    void enter(size_t parent, uint32_t c, bool last) {
        Frame& p = frames[parent];
        p.contexts++;
        if (++visits > store.treeNodes) corruptTree(store, "record reached twice, record", c);
        const Node& x = tree[c];
        const int64_t depth = p.depth + edgeLength(x);
        if (depth > deepest) corruptTree(store, "node deeper than any input, record", c);
        if (!isLeaf(x)) {
            frames.push_back(Frame{c, depth, p.depth, 0, last, leaves.size(), 0, Below{}});
            return;
        }
        visits--;  // counted again by chain()
        const size_t first = leaves.size();
        Below below;
        const int count = chain(c, depth, below);
        const int64_t parentDepth = p.depth;
        if (count >= 2) consider(depth, parentDepth, count, first, last, below);
        frames[parent].below.add(below);
    }

    void walk() {
        leaves.clear();
        frames.clear();
        visits = 1;
        frames.push_back(Frame{0, 0, 0, 0, true, 0, 0, Below{}});
        while (!frames.empty()) {
            const size_t top = frames.size() - 1;
            Frame& fr = frames[top];
            const Node& x = tree[fr.node];
            const uint32_t c0 = child0(x), c1 = child1(x);
            if (fr.phase == 0) {
                fr.phase = 1;
                // Suffixes that end at the node sort before those that go on.
                if (moreFollows(x)) fr.contexts += chain(fr.node + 1, fr.depth, fr.below);
                if (c0) {
                    enter(top, c0, fr.last && !c1);
                    if (frames.size() > top + 1) continue;
                }
            }
            if (frames[top].phase == 1) {
                frames[top].phase = 2;
                if (c1) {
                    enter(top, c1, frames[top].last);
                    if (frames.size() > top + 1) continue;
                }
            }
            const Frame done = frames[top];
            frames.pop_back();
            if (done.node != 0) consider(done.depth, done.parentDepth, done.contexts, done.first, done.last, done.below);
            if (!frames.empty()) frames.back().below.add(done.below);
        }
    }
};

// The first (or last) suffix of tree t in suffix order, by one descent: suffixes
// that end at a node come before those below it, the 0-child before the 1-child.
Leaf endSuffix(TreeStore& store, int t, bool last) {
    if (store.mapped)
        loadTree(store, t, kLoadForSearch);
    else
        openTreeRecords(store, t);
    auto record = [&](uint32_t i) -> const Node& { return store.mapped ? treeNode(store, i) : treeRecord(store, i); };
    uint32_t node = 0;
    int64_t depth = 0;
    for (int steps = 0;; steps++) {
        if (steps > store.treeNodes) corruptTree(store, "path length", steps);
        const Node& x = record(node);
        if (isLeaf(x)) break;
        const uint32_t c0 = child0(x), c1 = child1(x);
        const uint32_t next = last ? (c1 ? c1 : c0) : (moreFollows(x) ? 0 : (c0 ? c0 : c1));
        if (next == 0) {
            if (!moreFollows(x)) corruptTree(store, "interior record without children", node);
            node++;  // the chain's leaves end at the node's own depth
            break;
        }
        node = next;
        depth += edgeLength(record(node));
    }
    const Node& leaf = record(node);
    if (!isLeaf(leaf)) corruptTree(store, "interior record inside a leaf chain, record", node);
    const int input = leafInputChecked(store, leaf);
    const Leaf found{input, leafPosition(store, input, depth)};
    if (!store.mapped) closeTreeRecords(store);
    return found;
}

void Finder::walkTrees() {
    TreeStore& store = q.store;
    TreeWalk w{*this, store};
    for (int i = 0; i < q.catalogue.inputs; i++) w.deepest = std::max<int64_t>(w.deepest, q.catalogue.bitLengths[i]);
    // Bases shared by the last suffix of each tree and the first of the next: strings
    // up to that length have suffixes in both trees, so no node of either sees all of
    // their copies.
    std::vector<int64_t> shared;
    for (int t = 0; t + 1 < store.trees; t++) {
        const Leaf a = endSuffix(store, t, true), b = endSuffix(store, t + 1, false);
        const std::string_view x = std::string_view(texts[(size_t)a.input]).substr((size_t)a.start);
        const std::string_view y = std::string_view(texts[(size_t)b.input]).substr((size_t)b.start);
        int64_t n = 0;
        while (n < (int64_t)x.size() && n < (int64_t)y.size() && x[(size_t)n] == y[(size_t)n]) n++;
        shared.push_back(n);
        // Where the two part, the shared string branches; its other branch points are
        // nodes on the two trees' paths to those suffixes.
        if (n >= minLength) candidates.push_back(Candidate{b.input, b.start, n});
    }
    releaseTree(store);
    for (int t = 0; t < store.trees; t++) {
        w.firstShared = t > 0 ? shared[(size_t)t - 1] : -1;
        w.lastShared = t + 1 < store.trees ? shared[(size_t)t] : -1;
        loadTree(store, t, kLoadForTraversal);
        validateTree(store);
        w.tree = store.tree;
        w.walk();
    }
    checkSuffixTotal(store);
    releaseTree(store);
}

void Finder::searchCandidates() {
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.length > b.length; });
    // Each string once (with its reverse complement on both strands).
    std::vector<std::string> strings;
    std::vector<int64_t> lengths;
    const int64_t least = threshold();
    for (const Candidate& c : candidates) {
        if (c.length < least) break;
        std::string w(bases(c));
        std::string key = w;
        if (r.inverted) key = std::min(w, reverseComplement(w));
        if (!searched.insert(key).second) continue;
        strings.push_back(w);
        lengths.push_back(c.length);
        if (r.inverted) strings.push_back(reverseComplement(w));
    }
    candidates.clear();
    const size_t strands = r.inverted ? 2 : 1;
    constexpr size_t kBatch = 4096;
    for (size_t from = 0; from < lengths.size(); from += kBatch) {
        const size_t end = std::min(lengths.size(), from + kBatch);
        std::vector<std::string_view> patterns(strings.begin() + (long)(from * strands),
                                               strings.begin() + (long)(end * strands));
        const std::vector<ExactResult> found = findEveryOccurrence(q, patterns);
        for (size_t k = from; k < end; k++) {
            Repeat rep{lengths[k], {}, 0};
            for (size_t s = 0; s < strands; s++)
                for (const Occurrence& o : found[(k - from) * strands + s].kept)
                    rep.copies.push_back(RepeatCopy{o.input, o.position, s == 1});
            if (!maximal(rep.copies, rep.length)) continue;
            // A string that is its own reverse complement: each copy once, on '+'.
            if (r.inverted && strings[k * 2] == strings[k * 2 + 1])
                std::erase_if(rep.copies, [](const RepeatCopy& c) { return c.reverse; });
            offer(std::move(rep));
        }
    }
}

void Finder::seedInverted(int64_t least) {
    const int64_t k = (least + 1) / 2, step = least - k + 1;
    std::unordered_set<std::string> pairs;  // (input, start, other input, start) of the pairs found
    auto keyOf = [](int a, int64_t i, int b, int64_t p) {
        std::string key(24, '\0');
        const int64_t v[3] = {((int64_t)a << 32) | (uint32_t)b, i, p};
        std::memcpy(key.data(), v, sizeof v);
        return key;
    };
    const int n = q.catalogue.inputs;
    for (int b = 0; b < n;) {
        // Reverse complements of a batch of inputs, and their seeds.
        std::vector<std::string> reversed;
        std::vector<std::pair<int, int64_t>> seeds;
        std::vector<std::string_view> patterns;
        int end = b;
        while (end < n && (seeds.size() < (1u << 16) || end == b)) {
            reversed.push_back(reverseComplement(texts[(size_t)end]));
            for (int64_t p = 0; p + k <= (int64_t)reversed.back().size(); p += step) seeds.emplace_back(end, p);
            end++;
        }
        for (const auto& [input, p] : seeds)
            patterns.push_back(std::string_view(reversed[(size_t)(input - b)]).substr((size_t)p, (size_t)k));
        const std::vector<ExactResult> found = findEveryOccurrence(q, patterns);
        for (size_t s = 0; s < seeds.size(); s++) {
            const std::string& R = reversed[(size_t)(seeds[s].first - b)];
            for (const Occurrence& o : found[s].kept) {
                const std::string& T = texts[(size_t)o.input];
                int64_t i = o.position, p = seeds[s].second, hi = o.position + k, hp = p + k;
                while (i > 0 && p > 0 && T[(size_t)i - 1] == R[(size_t)p - 1]) i--, p--;
                while (hi < (int64_t)T.size() && hp < (int64_t)R.size() && T[(size_t)hi] == R[(size_t)hp]) hi++, hp++;
                if (hi - i >= least && pairs.insert(keyOf(o.input, i, seeds[s].first, p)).second)
                    candidates.push_back(Candidate{o.input, i, hi - i});
            }
        }
        b = end;
    }
}

}  // namespace

std::vector<Repeat> findRepeats(QueryRun& q, const RepeatSettings& r) {
    if (r.between && q.catalogue.inputs < 2) return {};
    Finder f(q, r);
    f.walkTrees();
    if (r.inverted) {
        // The walk's repeats of one strand are strings to search on both.
        f.floor = f.threshold();
        f.walking = false;
        f.cap = r.top <= 0 ? 0 : (size_t)r.top;
        f.searchCandidates();
        f.seedInverted(f.threshold());
    }
    f.searchCandidates();
    std::sort(f.kept.begin(), f.kept.end(), listedBefore);
    return std::move(f.kept);
}
