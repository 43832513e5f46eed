// Exact search of one pattern: candidate trees by their divider keys, a blind
// descent by the branching bits in each, one check of the text against the first
// leaf below the node where the pattern ends, then every leaf below that node.
//
// Every candidate tree is searched and checked against the text on its own: keys are
// 16-base prefixes padded with a's, so neighbouring trees may share a key range and a
// tree may hold suffixes that agree with the pattern only at its branching bits.
//
// Time: per tree searched, the records on the path and below the node found (O(m + h)
// for a pattern of m bases with h occurrences there); a group of P searches adds
// O(P) to order them by tree (radix passes). Extra memory: O(P) for the group's order.
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/bit_vector.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treequery/exact_search.h"
#include "treequery/tree_store.h"
#include "treequery/treequery.h"

namespace {

// The pattern's leading bits as a divider key (all 32 bits from 16 bases on) and the
// shift that brings a divider key down to as many bits.
struct PatternKey {
    uint32_t key;
    int shift;
};
PatternKey patternKey(const std::vector<uint8_t>& bits, int m) {
    const int keyBits = m >= 16 ? 32 : 2 * m;
    uint32_t key = 0;
    for (int b = 0; b < keyBits; b++) key = (key << 1) | bits[(size_t)b];
    return PatternKey{key, 32 - keyBits};
}
bool selects(const PatternKey& k, const Divider& d) {
    return k.key >= (d.from >> k.shift) && k.key <= (d.to >> k.shift);
}

// One search (of a pattern, or of a group of patterns tree by tree).
struct ExactSearch {
    QueryRun& q;
    const QuerySettings& s;
    TreeStore& store;
    std::vector<uint8_t> bits;  // pattern bits, one per byte, first base's high bit first
    // Where a search of a group puts its pattern's results and lines; null for the
    // search of one pattern (the run's arrays, lines straight to standard error).
    ExactResult* target = nullptr;
    bool keepNotes = true;    // a group's caller prints the lines it keeps
    bool keepInputs = true;   // a group's caller uses the input bit vectors
    bool treeFileLines = true;  // "Looking in tree file" lines (-v)
    // Records come from the whole tree in memory, or (group search in read mode)
    // through the reader that fetches the blocks a walk reaches.
    bool recordsOnDemand = false;
    struct Task {
        uint32_t node;
        bool emit;
        long long parentDepth;
    };
    std::vector<Task> collectStack;
    int keep;  // occurrences kept per pattern (the rest only counted)

    explicit ExactSearch(QueryRun& run) : q(run), s(*run.settings), store(run.store), keep(s.maxNum) {}

    const Node& record(uint32_t index) {
        return recordsOnDemand ? treeRecord(store, index) : treeNode(store, index);
    }

    __attribute__((format(printf, 2, 3))) void searchNote(const char* fmt, ...) {
        if (target && !keepNotes) return;
        va_list args;
        va_start(args, fmt);
        std::string line = formatText(fmt, args);
        va_end(args);
        if (target)
            target->notes.push_back(std::move(line));
        else
            note("%s", line.c_str());
    }

    void makePatternBits(const char* pattern, int m) {
        bits.assign(2 * (size_t)m, 0);
        for (int j = 0; j < m; j++) {
            int code = baseCode(pattern[j]);
            if (code < 0) fatal("pattern \"%s\": character '%c' is not a base (a, c, g or t)\n", pattern, pattern[j]);
            bits[2 * j] = (uint8_t)(code >> 1);
            bits[2 * j + 1] = (uint8_t)(code & 1);
        }
    }

    // Follows the pattern's bits at the branch points from the root. Returns the node
    // on whose incoming edge the pattern ends (its parent's bit depth in *parentDepth),
    // or 0 when the tree has no such path.
    uint32_t blindDescent(long long patternBits, long long* parentDepth) {
        const Node& root = record(0);
        uint32_t current = bits[0] ? child1(root) : child0(root);
        long long depth = 0;
        long long steps = 0;
        while (current != 0) {
            const Node& x = record(current);
            if (++steps > store.treeNodes) corruptTree(store, "path length", steps);
            long long e = edgeLength(x);
            if (e >= patternBits - depth) {
                *parentDepth = depth;
                return current;
            }
            if (isLeaf(x)) return 0;
            depth += e;
            current = bits[(size_t)depth] ? child1(x) : child0(x);
        }
        return 0;
    }

    // The first leaf below `node` (0-child first): its index and bit depth.
    uint32_t firstLeaf(uint32_t node, long long parentDepth, long long* leafDepth) {
        long long steps = 0;
        for (;;) {
            const Node& x = record(node);
            if (++steps > store.treeNodes) corruptTree(store, "path length", steps);
            if (isLeaf(x)) {
                *leafDepth = parentDepth + edgeLength(x);
                return node;
            }
            node = towardsFirstLeaf(node, x, &parentDepth);
        }
    }

    // The record after interior record `node` (`x`, below bit depth *parentDepth) on the
    // way to the first leaf below it, *parentDepth moved along.
    uint32_t towardsFirstLeaf(uint32_t node, const Node& x, long long* parentDepth) {
        const long long depth = *parentDepth + edgeLength(x);
        if (child0(x) || child1(x)) {
            *parentDepth = depth;
            return child0(x) ? child0(x) : child1(x);
        }
        if (!moreFollows(x)) corruptTree(store, "interior record without children", node);
        return node + 1;  // the chain's leaves end at the head's own depth
    }

    void addOccurrence(const Node& leaf, long long parentDepth) {
        int input = leafInputChecked(store, leaf);
        int position = leafPosition(store, input, parentDepth + edgeLength(leaf));
        if (target) {
            if (target->count < keep) target->kept.push_back(Occurrence{input, position});
            if (keepInputs) bitSet(target->inputs.data(), input);
            target->count++;
            return;
        }
        int& count = q.occurrenceCount;
        if (count < s.maxNum) q.occurrences[count] = Occurrence{input, position};
        bitSet(q.inputVector, input);
        count++;
    }

    // Every leaf below `start`: a node's 0-child subtree, its 1-child subtree, then the
    // rest of its leaf chain; a leaf after the leaves that follow it in its chain. Kept
    // on an explicit stack: long runs of one base make paths far deeper than the stack
    // of a recursion allows.
    void collectAll(uint32_t start, long long parentDepth) {
        std::vector<Task>& stack = collectStack;
        stack.clear();
        stack.push_back({start, false, parentDepth});
        long long visits = 0;
        while (!stack.empty()) {
            Task task = stack.back();
            stack.pop_back();
            const Node& x = record(task.node);
            if (task.emit) {
                addOccurrence(x, task.parentDepth);
                continue;
            }
            if (++visits > store.treeNodes) corruptTree(store, "records below a node", visits);
            if (isLeaf(x)) {
                stack.push_back({task.node, true, task.parentDepth});
                if (moreFollows(x)) stack.push_back({task.node + 1, false, task.parentDepth});
                continue;
            }
            long long depth = task.parentDepth + edgeLength(x);
            if (moreFollows(x)) stack.push_back({task.node + 1, false, task.parentDepth});
            if (child1(x)) stack.push_back({child1(x), false, depth});
            if (child0(x)) stack.push_back({child0(x), false, depth});
        }
    }

    // Searches tree t; true when the pattern was found (and its leaves collected).
    bool searchTree(int t, const char* pattern, int m) {
        const long long patternBits = 2LL * m;
        long long depth = 0;
        uint32_t candidate = blindDescent(patternBits, &depth);
        return finishSearch(t, pattern, m, candidate, depth);
    }

    // The search of tree t after its blind descent ended at `candidate` (0: no path),
    // below a node of bit depth `depth`.
    bool finishSearch(int t, const char* pattern, int m, uint32_t candidate, long long depth) {
        if (!descentEnded(candidate, depth)) return false;
        long long leafDepth = 0;
        uint32_t leaf = firstLeaf(candidate, depth, &leafDepth);
        const FirstLeaf first = firstLeafFound(leaf, leafDepth);
        return checkAndCollect(t, pattern, m, first, candidate, depth);
    }

    // The three steps of finishSearch(), which the interleaved descents take one turn
    // at a time. Whether the descent found a path (its lines noted):
    bool descentEnded(uint32_t candidate, long long depth) {
        if (candidate == 0) {
            if (!gRun.quiet) searchNote("Pattern not found (blind search)\n");
            return false;
        }
        if (!gRun.quiet) searchNote("Blind search: pattern may exist - depth %lld\n", depth);
        return true;
    }
    // Where the first leaf below the candidate (record `leaf`, at bit depth `leafDepth`)
    // starts in its input:
    struct FirstLeaf {
        int input;
        int position;
    };
    FirstLeaf firstLeafFound(uint32_t leaf, long long leafDepth) {
        const Node& first = record(leaf);
        int input = leafInputChecked(store, first);
        int position = leafPosition(store, input, leafDepth);
        long long bitPosition = q.catalogue.bitLengths[input] - leafDepth;
        if (!gRun.quiet)
            searchNote("First leaf (real leaf): n=%u d=%lld(pos=%lld) f/s=(%d %lld)\n", leaf, leafDepth, bitPosition, input,
                 bitPosition);
        return FirstLeaf{input, position};
    }
    // The check of the text there, and when it holds every leaf below the candidate.
    bool checkAndCollect(int t, const char* pattern, int m, const FirstLeaf& first, uint32_t candidate, long long depth) {
        if (!textMatches(q.texts, pattern, m, first.input, first.position, q.verifyBuffer)) {
            if (gRun.verbose) searchNote("Pattern not found after verification, tree %d\n", t);
            return false;
        }
        if (gRun.verbose) searchNote("Pattern verified.\n");
        if (!gRun.quiet) searchNote("Collect all: depth=%lld\n", depth);
        collectAll(candidate, depth);
        return true;
    }

    void noteTreeFile(int t) {
        if (!gRun.verbose || !treeFileLines) return;
        std::string path = treePath(store, t);
        searchNote("Looking in tree file \"%s\", totalNodes %d\n", path.c_str(), store.treeNodes);
    }
};

}  // namespace

int exactSearch(QueryRun& q, const char* pattern, int m) {
    if (m <= 0) fatal("bad pattern parameter\n");
    ExactSearch e(q);
    e.makePatternBits(pattern, m);
    const PatternKey key = patternKey(e.bits, m);

    int visited = 0;
    for (int t = 0; t < q.store.trees; t++) {
        if (!selects(key, q.store.dividers[t])) continue;
        loadTree(q.store, t, kLoadForSearch);
        visited++;
        e.noteTreeFile(t);
        e.searchTree(t, pattern, m);
    }
    if (visited == 0 && !gRun.quiet) note("Pattern not found (tree location)\n");
    return visited;
}

namespace {

// One search of a group: pattern `pattern` in tree `tree`. Tasks are run tree by tree
// and, within a tree, in the order of the patterns' leading bases, so that neighbouring
// descents share the upper part of their paths while it is still in the caches.
struct GroupTask {
    int tree;
    uint32_t pattern;
    uint64_t lead;  // the first 32 bases, 2 bits each, first base highest
};

// Tasks ahead of the one searched whose pattern and result are fetched into the caches.
constexpr size_t kGroupPrefetch = 8;

// A descent that misses the page cache reads some tens of pages around each record it
// waits for: a tree with a task per kPagesPerTask of its pages is read nearly whole.
// Trees asked for whole are asked for this many trees ahead of their search.
constexpr size_t kPagesPerTask = 64;
constexpr size_t kTreesAhead = 2;

// Orders tasks made in pattern order by tree, then leading bases, then pattern: stable
// radix passes over the bytes of the lead, the lowest first, then over those of the
// tree, each skipped when every task holds the same byte there (the low bytes of
// short patterns' leads, the high ones of the tree). A comparison sort of the tens of
// thousands of tasks of a batch took a twentieth of an exact search.
void orderTasks(std::vector<GroupTask>& tasks) {
    const auto before = [](const GroupTask& a, const GroupTask& b) {
        if (a.tree != b.tree) return a.tree < b.tree;
        if (a.lead != b.lead) return a.lead < b.lead;
        return a.pattern < b.pattern;
    };
    if (tasks.size() < 256) {
        std::sort(tasks.begin(), tasks.end(), before);
        return;
    }
    std::vector<GroupTask> other(tasks.size());
    auto pass = [&](auto digit) {
        size_t starts[256] = {};
        for (const GroupTask& t : tasks) starts[digit(t)]++;
        size_t at = 0;
        for (size_t& start : starts) {
            if (start == tasks.size()) return;  // one byte for all
            const size_t n = start;
            start = at;
            at += n;
        }
        for (const GroupTask& t : tasks) other[starts[digit(t)]++] = t;
        tasks.swap(other);
    };
    for (int shift = 0; shift < 64; shift += 8)
        pass([shift](const GroupTask& t) { return (size_t)(t.lead >> shift) & 0xff; });
    for (int shift = 0; shift < 32; shift += 8)
        pass([shift](const GroupTask& t) { return (size_t)((uint32_t)t.tree >> shift) & 0xff; });
}

uint64_t leadingBases(std::string_view pattern) {
    uint64_t lead = 0;
    for (size_t j = 0; j < 32; j++) {
        const int code = j < pattern.size() ? baseCode(pattern[j]) : 0;
        lead = (lead << 2) | (uint64_t)(code < 0 ? 0 : code);
    }
    return lead;
}

// The trees that a key selects, as [first, last): dividers come in key order (their
// keys never fall from one tree to the next), so for one shift both ends of the
// divider ranges rise with the tree number and the selected trees lie side by side.
std::pair<int, int> selectedTrees(const TreeStore& store, const PatternKey& k) {
    const Divider* begin = store.dividers;
    const Divider* end = store.dividers + store.trees;
    const Divider* first =
        std::partition_point(begin, end, [&](const Divider& d) { return (d.to >> k.shift) < k.key; });
    const Divider* last =
        std::partition_point(first, end, [&](const Divider& d) { return (d.from >> k.shift) <= k.key; });
    return {(int)(first - begin), (int)(last - begin)};
}

// Bit b of a pattern of bases (a = 00, c = 01, g = 10, t = 11, first base highest).
inline int patternBit(const char* pattern, long long b) {
    return (baseCode(pattern[b >> 1]) >> (1 - (b & 1))) & 1;
}

// Blind descents in one tree, kLanes at a time: each lane takes one step in turn and
// asks for the record of its next step ahead of time (in read mode after reading its
// block in), so that the cache misses of several descents overlap instead of
// following one another. A lane whose descent found a path goes on the same way down
// to the first leaf below it, then asks for the text there and checks it on its next
// turn: the steps of ExactSearch::finishSearch(), with the same lines per pattern. It
// then takes the next task. Records stay where they are while the tree is open, so a
// lane may hold on to its next one. 16 lanes: 100,000 20-mers on D. melanogaster 2R
// with mapped trees took 7% less time than with 8, and no less with 32.
constexpr int kLanes = 16;

struct Lane {
    enum Phase : char { descent, firstLeaf, check };
    Phase phase;
    const GroupTask* task;
    const char* pattern;
    long long bits;    // pattern length in bits
    uint32_t node;     // the record of its next step (0: the descent found no path)
    const Node* next;  // that record
    long long depth;   // the bit depth above `node`
    long long steps;
    uint32_t candidate;        // where the descent ended, and the bit depth above it
    long long candidateDepth;
    ExactSearch::FirstLeaf first;
};

void interleavedDescents(ExactSearch& e, int t, const GroupTask* tasks, size_t count,
                         const std::vector<std::string_view>& patterns, ExactResult* const* targets) {
    const Node& root = e.record(0);
    Lane lanes[kLanes];
    int active = 0;
    size_t next = 0;
    auto aim = [&](Lane& lane, uint32_t node) {
        lane.node = node;
        if (node == 0) return;
        lane.next = &e.record(node);
        __builtin_prefetch(lane.next);
    };
    // Starts a lane on the next task with its step from the root; false when none is left.
    auto begin = [&](Lane& lane) {
        if (next == count) return false;
        // The tasks' patterns and results lie in pattern order, not in task order: ask
        // for those of a later task now, so that they are in the caches in time.
        if (next + kGroupPrefetch < count) {
            const uint32_t ahead = tasks[next + kGroupPrefetch].pattern;
            __builtin_prefetch(patterns[ahead].data());
            __builtin_prefetch(targets[ahead], 1);
        }
        lane.phase = Lane::descent;
        lane.task = &tasks[next++];
        const std::string_view pattern = patterns[lane.task->pattern];
        lane.pattern = pattern.data();
        lane.bits = 2LL * (long long)pattern.size();
        lane.depth = 0;
        lane.steps = 0;
        aim(lane, patternBit(lane.pattern, 0) ? child1(root) : child0(root));
        return true;
    };
    // One step of the descent; true when the lane's task is done.
    auto descend = [&](Lane& lane) {
        uint32_t found = 0;
        bool done = lane.node == 0;
        if (!done) {
            const Node& x = *lane.next;
            if (++lane.steps > e.store.treeNodes) corruptTree(e.store, "path length", lane.steps);
            const long long edge = edgeLength(x);
            if (edge >= lane.bits - lane.depth) {
                found = lane.node;
                done = true;
            } else if (isLeaf(x)) {
                done = true;
            } else {
                lane.depth += edge;
                aim(lane, patternBit(lane.pattern, lane.depth) ? child1(x) : child0(x));
            }
        }
        if (!done) return false;
        e.target->visited++;
        e.noteTreeFile(t);
        if (!e.descentEnded(found, lane.depth)) return true;
        // The record found is in hand: its first step down is taken at once.
        lane.phase = Lane::firstLeaf;
        lane.candidate = found;
        lane.candidateDepth = lane.depth;
        lane.steps = 0;
        return false;
    };
    // One step towards the first leaf below the candidate (0-child first), as
    // ExactSearch::firstLeaf() takes them; at the leaf, its text is asked for.
    auto stepDown = [&](Lane& lane) {
        const Node& x = *lane.next;
        if (++lane.steps > e.store.treeNodes) corruptTree(e.store, "path length", lane.steps);
        if (isLeaf(x)) {
            lane.first = e.firstLeafFound(lane.node, lane.depth + edgeLength(x));
            prefetchTextMatch(e.q.texts, lane.first.input, lane.first.position);
            lane.phase = Lane::check;
            return;
        }
        aim(lane, e.towardsFirstLeaf(lane.node, x, &lane.depth));
    };
    while (active < kLanes && begin(lanes[active])) active++;
    while (active > 0) {
        for (int k = 0; k < active;) {
            Lane& lane = lanes[k];
            e.target = targets[lane.task->pattern];
            bool done = false;
            if (lane.phase == Lane::descent) {
                done = descend(lane);
                if (!done && lane.phase == Lane::firstLeaf) stepDown(lane);
            } else if (lane.phase == Lane::firstLeaf) {
                stepDown(lane);
            } else {
                e.checkAndCollect(t, lane.pattern, (int)(lane.bits / 2), lane.first, lane.candidate, lane.candidateDepth);
                done = true;
            }
            e.target = nullptr;
            if (!done)
                k++;
            else if (begin(lane))
                k++;
            else
                lane = lanes[--active];
        }
    }
}

}  // namespace

std::vector<TreeSpan> selectTreeSpans(QueryRun& q, const std::vector<std::string_view>& patterns) {
    std::vector<TreeSpan> spans(patterns.size());
    for (size_t p = 0; p < patterns.size(); p++) {
        const char* pattern = patterns[p].data();
        const int m = (int)patterns[p].size();
        if (m <= 0) fatal("bad pattern parameter\n");
        // The key of patternKey() from the bases themselves, every base checked as
        // makePatternBits() checks it.
        uint32_t key = 0;
        for (int j = 0; j < m; j++) {
            const int code = baseCode(pattern[j]);
            if (code < 0) fatal("pattern \"%s\": character '%c' is not a base (a, c, g or t)\n", pattern, pattern[j]);
            if (j < 16) key = (key << 2) | (uint32_t)code;
        }
        const PatternKey k{key, m >= 16 ? 0 : 32 - 2 * m};
        const std::pair<int, int> range = selectedTrees(q.store, k);
        spans[p] = TreeSpan{range.first, range.second};
    }
    return spans;
}

const std::vector<TreeSpan>& groupSpans(QueryRun& q, const std::vector<std::string_view>& patterns,
                                        const GroupOptions& options, std::vector<TreeSpan>& chosen) {
    if (options.spans) return *options.spans;
    chosen = selectTreeSpans(q, patterns);
    return chosen;
}

void exactSearchTreeRange(QueryRun& q, const std::vector<std::string_view>& patterns, const std::vector<TreeSpan>& spans,
                          int from, int to, std::vector<ExactResult>& results, const GroupOptions& options) {
    results.assign(patterns.size(), ExactResult());
    std::vector<ExactResult*> targets(results.size());
    for (size_t p = 0; p < results.size(); p++) targets[p] = &results[p];
    exactSearchTreeRange(q, patterns, spans, from, to, targets, options);
}

void exactSearchTreeRange(QueryRun& q, const std::vector<std::string_view>& patterns, const std::vector<TreeSpan>& spans,
                          int from, int to, const std::vector<ExactResult*>& targets, const GroupOptions& options) {
    const size_t count = patterns.size();
    ExactSearch e(q);
    if (options.keep >= 0) e.keep = options.keep;
    e.keepNotes = options.notes;
    e.keepInputs = options.inputs;
    const bool mapped = options.trees == kGroupTreesMapped;
    std::vector<GroupTask> tasks;
    tasks.reserve(count + count / 8);
    for (size_t p = 0; p < count; p++) {
        const int first = std::max(spans[p].first, from), last = std::min(spans[p].last, to);
        const uint64_t lead = leadingBases(patterns[p]);
        for (int t = first; t < last; t++) tasks.push_back(GroupTask{t, (uint32_t)p, lead});
        if (options.inputs) targets[p]->inputs.assign((size_t)q.catalogue.vectorWords, 0);
    }
    // Trees in file order, so that every pattern collects its occurrences in the order
    // of the search of one pattern; the order of the patterns within a tree does not
    // show in their results.
    orderTasks(tasks);
    e.recordsOnDemand = !mapped;
    // -U keeps the lines of the mapped search of one pattern: no tree file lines.
    e.treeFileLines = !mapped;
    // The first task of each tree's run of tasks, then the end.
    std::vector<size_t> runs;
    for (size_t i = 0; i < tasks.size(); i++)
        if (i == 0 || tasks[i].tree != tasks[i - 1].tree) runs.push_back(i);
    runs.push_back(tasks.size());
    const size_t trees = runs.size() - 1;
    // A batch that reaches a tree at many places reads most of its pages anyway: such
    // a tree is asked for whole kTreesAhead trees before its search, so that a cold
    // page cache fills with large sequential reads while the trees before it are
    // searched, instead of waiting for one page after the other. A mapped tree is not:
    // its mapping reads in its pieces missing from the cache itself, as huge pages,
    // where pages asked for ahead would come in small and stay so.
    auto askAhead = [&](size_t k) {
        if (k >= trees || mapped) return;
        const int t = tasks[runs[k]].tree;
        const size_t pages = sizeof(Node) * (size_t)q.store.dividers[t].nodes / 4096 + 1;
        if ((runs[k + 1] - runs[k]) * kPagesPerTask >= pages) askForWholeTree(q.store, t);
    };
    for (size_t k = 0; k < kTreesAhead; k++) askAhead(k);
    for (size_t k = 0; k < trees; k++) {
        askAhead(k + kTreesAhead);
        const int t = tasks[runs[k]].tree;
        if (mapped)
            loadTree(q.store, t, kLoadForSearch);
        else
            openTreeRecords(q.store, t);
        interleavedDescents(e, t, tasks.data() + runs[k], runs[k + 1] - runs[k], patterns, targets.data());
        if (!mapped) closeTreeRecords(q.store);
    }
}

void joinExactResult(ExactResult& into, ExactResult& later, int keep) {
    into.visited += later.visited;
    into.count += later.count;
    const size_t room = keep > (int)into.kept.size() ? (size_t)keep - into.kept.size() : 0;
    if (later.kept.size() > room) later.kept.resize(room);
    if (into.kept.empty())
        into.kept.swap(later.kept);
    else
        into.kept.insert(into.kept.end(), later.kept.begin(), later.kept.end());
    if (into.inputs.size() < later.inputs.size()) into.inputs.resize(later.inputs.size(), 0);
    for (size_t w = 0; w < later.inputs.size(); w++) into.inputs[w] |= later.inputs[w];
    if (into.notes.empty())
        into.notes.swap(later.notes);
    else
        for (std::string& line : later.notes) into.notes.push_back(std::move(line));
}

void noteTreeLocations(std::vector<ExactResult>& results, const GroupOptions& options) {
    if (!gRun.quiet && options.locations && options.notes)
        for (ExactResult& r : results)
            if (r.visited == 0) r.notes.push_back("Pattern not found (tree location)\n");
}

void exactSearchGroup(QueryRun& q, const std::vector<std::string_view>& patterns, std::vector<ExactResult>& results,
                      const GroupOptions& options) {
    std::vector<TreeSpan> chosen;
    exactSearchTreeRange(q, patterns, groupSpans(q, patterns, options, chosen), 0, q.store.trees, results, options);
    noteTreeLocations(results, options);
}

std::vector<ExactResult> findEveryOccurrence(QueryRun& q, const std::vector<std::string_view>& patterns) {
    size_t longest = 0;
    for (std::string_view p : patterns) longest = std::max(longest, p.size());
    std::vector<char> verify(longest + 1, 0);
    char* const previous = q.verifyBuffer;
    q.verifyBuffer = verify.data();
    GroupOptions options;
    options.keep = INT_MAX;
    options.trees = q.store.mapped ? kGroupTreesMapped : kGroupTreesRead;
    options.inputs = false;
    options.notes = false;
    std::vector<ExactResult> results;
    exactSearchGroup(q, patterns, results, options);
    q.verifyBuffer = previous;
    return results;
}
