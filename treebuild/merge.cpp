// The multiway merge of all streams into one order of all suffixes, each delivered
// with its LCP value against the suffix delivered before it.
// Algorithm: LCP-assisted list merge of k sorted streams; time O(n k) list steps for
// n suffixes plus the packed words compared past the shared bits; extra memory O(k).
//
// The default keeps the streams' current suffixes in a list sorted by suffix, where
// every element holds its LCP value against the element before it (the head: against
// the suffix delivered last). Consecutive output suffixes then need no comparison for
// their LCP, and an insertion passes or places an element by comparing two stored
// LCPs; suffixes are compared only when those are equal, and then only after the
// bits known to be shared. -H keeps a heap of streams instead (O(n log k)
// comparisons) and compares each delivered suffix with the one before it for its LCP.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "toolkit/run.h"
#include "treebuild/compare.h"
#include "treebuild/suffix_tree.h"
#include "treebuild/tree_state.h"
#include "treebuild/treebuild.h"

namespace {

// The LCP time is the sum of very short intervals, one per suffix, each about as long
// as reading a clock. Only one interval in kLcpSample is timed and counted
// kLcpSample times: the sum still estimates the total without bias, at a fraction of
// the clock's cost. A coarse clock is enough, since each timed interval is counted in
// proportion to its length.
constexpr uint32_t kLcpSample = 16;

inline double lcpClock() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// LCP value of b against a, the suffix delivered before it: from the stream's .stlcp
// file with -Z (capped at the shorter suffix), else by one comparison.
inline uint32_t lcpOf(const BuildSettings& settings, BuildState& build, SuffixStreams& streams, bool stored,
                      const PsaRecord& a, const PsaRecord& b, int stream) {
    uint32_t lcp;
    if (stored) {
        lcp = nextLcp(streams, stream);
        uint32_t shorter = std::min(remainingBits(build, a), remainingBits(build, b));
        // A stored value may claim more shared bits than the shorter suffix holds.
        if (lcpBits(lcp) >= shorter && lcp != lcpValue(shorter, 0)) lcp = lcpValue(shorter, 0);
    } else if (compareSuffixes(settings, build, a, b, 0, &lcp)) {
        // b follows a in the same run, so it may not sort before it.
        streamOutOfOrder(streams, stream);
    }
    return lcp;
}

// stored: -Z, read once by the caller.
uint32_t timedLcp(const BuildSettings& settings, BuildState& build, SuffixStreams& streams, MergeState& m,
                  bool stored, const PsaRecord& a, const PsaRecord& b, int stream) {
    if (++m.lcpTick % kLcpSample) return lcpOf(settings, build, streams, stored, a, b, stream);
    double t0 = lcpClock();
    uint32_t lcp = lcpOf(settings, build, streams, stored, a, b, stream);
    build.lcpNs += kLcpSample * (lcpClock() - t0);
    return lcp;
}

// Inserts stream s, whose current suffix has the LCP value `pending` against the
// suffix delivered last.
void insert(const BuildSettings& settings, BuildState& build, MergeState& m, int s, uint32_t pending) {
    MergeCounters& c = build.current;
    m.size++;
    if (m.head < 0) {
        m.head = s;
        m.next[s] = -1;
        m.lcpv[s] = pending;
        return;
    }
    c.listSteps++;
    uint32_t a = lcpBits(pending);
    if (a > lcpBits(m.lcpv[m.head])) {
        // s shares more with the reference than the head does, so it comes first.
        m.next[s] = m.head;
        m.head = s;
        m.lcpv[s] = pending;
        return;
    }
    int prev = -1;
    int cur = m.head;
    uint32_t f = lcpBits(m.lcpv[cur]);
    for (;;) {
        if (a == f) {
            uint32_t lcp;
            bool after = compareSuffixes(settings, build, *m.current[cur], *m.current[s], a, &lcp);
            uint32_t shared = lcpBits(lcp);
            c.comparisons++;
            if (shared >= 65) c.longComparisons++;
            if (shared > a + 64) c.resumedComparisons++;
            if (after) {
                m.lcpv[s] = m.lcpv[cur];
                m.lcpv[cur] = lcp;
                m.next[s] = cur;
                if (prev < 0)
                    m.head = s;
                else
                    m.next[prev] = s;
                return;
            }
            pending = lcp;
            a = shared;
        }
        // Here cur sorts before s and `pending` is s's LCP value against cur.
        prev = cur;
        cur = m.next[cur];
        c.listSteps++;
        if (cur < 0 || a > (f = lcpBits(m.lcpv[cur]))) {
            m.next[prev] = s;
            m.next[s] = cur;
            m.lcpv[s] = pending;
            return;
        }
    }
}

void popHead(MergeState& m) {
    m.head = m.next[m.head];
    m.size--;
}

// Heap order: identical suffixes by input number.
inline bool heapAfter(const BuildSettings& settings, BuildState& build, const MergeState& m, int a, int b) {
    build.current.comparisons++;
    return compareSuffixes(settings, build, *m.current[a], *m.current[b], 0, nullptr);
}

void heapPush(const BuildSettings& settings, BuildState& build, MergeState& m, int s) {
    int at = m.heapSize++;
    m.heap[at] = s;
    while (at > 0) {
        int parent = (at - 1) / 2;
        if (!heapAfter(settings, build, m, m.heap[parent], s)) break;
        m.heap[at] = m.heap[parent];
        m.heap[parent] = s;
        at = parent;
    }
}

void siftDown(const BuildSettings& settings, BuildState& build, MergeState& m) {
    int moving = m.heap[0];
    int w = 0;
    for (int v = 1; v < m.heapSize; v = 2 * w + 1) {
        int t = v;
        if (v + 1 < m.heapSize && heapAfter(settings, build, m, m.heap[v], m.heap[v + 1])) t = v + 1;
        if (!heapAfter(settings, build, m, moving, m.heap[t])) break;
        m.heap[w] = m.heap[t];
        m.heap[t] = moving;
        w = t;
    }
}

// The settings are read once, into `arrayOutput` and `heap`, by the caller.
inline void deliver(const BuildSettings& settings, BuildState& build, const SuffixStreams& streams, MergeState& m,
                    TreeState& tree, ArrayOutput& array, bool arrayOutput, bool heap, const PsaRecord& suffix,
                    const PsaRecord& previous, bool havePrevious, int row) {
    if (arrayOutput) {
        addToArray(build, array, suffix, heap ? 0 : m.lcpv[row]);
        return;
    }
    uint32_t lcp = 0;
    if (!treeHoldsRootOnly(tree)) {
        if (!heap) {
            lcp = m.lcpv[row];
        } else if (havePrevious) {
            bool after;
            if (++m.lcpTick % kLcpSample) {
                after = compareSuffixes(settings, build, previous, suffix, 0, &lcp);
            } else {
                double t0 = lcpClock();
                after = compareSuffixes(settings, build, previous, suffix, 0, &lcp);
                build.lcpNs += kLcpSample * (lcpClock() - t0);
            }
            // Every other current suffix sorted at or after the previous one when it was
            // delivered, so one before it can only be its successor in its own run.
            if (after) streamOutOfOrder(streams, row);
        }
    }
    addSuffix(build, tree, suffix, lcp);
}

}  // namespace

void setUpMerge(const BuildSettings& settings, BuildState& build, SuffixStreams& input, MergeState& m,
                TreeState& tree, ArrayOutput& array) {
    int streams = build.numStreams;
    m.current.assign(static_cast<size_t>(streams), nullptr);
    if (settings.heap) {
        m.heap.assign(static_cast<size_t>(streams), -1);
    } else {
        m.next.assign(static_cast<size_t>(streams), -1);
        m.lcpv.assign(static_cast<size_t>(streams), 0);
    }
    if (settings.arrayOutput)
        allocateArrayBuffers(build, array);
    else
        setUpTrees(settings, build, tree);
    for (int s = 0; s < streams; s++) {
        const PsaRecord* first = nextRecord(input, build, s);
        // A stream that is empty from the start takes no part in the merge.
        if (!first) continue;
        m.current[static_cast<size_t>(s)] = first;
        if (settings.manzini) nextLcp(input, s);  // compares the file's first record with nothing
        build.current.suffixes++;
        if (settings.heap)
            heapPush(settings, build, m, s);
        else
            insert(settings, build, m, s, 0);
    }
}

void runMerge(const BuildSettings& settings, BuildState& build, SuffixStreams& streams, MergeState& m, TreeState& tree,
              ArrayOutput& array) {
    const bool heap = settings.heap;
    const bool arrayOutput = settings.arrayOutput;
    const bool stored = settings.manzini;
    PsaRecord suffix{};
    PsaRecord previous{};
    bool havePrevious = false;
    // The progress line counts delivered suffixes, looking at the clock once in 65,536.
    uint64_t total = 0;
    for (const Stream& st : streams.streams) total += static_cast<uint64_t>(st.total - st.consumed);
    build.progress.start(arrayOutput ? "merge" : "merge and trees", "suffixes", total);
    uint64_t delivered = 0;
    for (;;) {
        int row;
        if (heap) {
            if (m.heapSize == 0) break;
            row = m.heap[0];
        } else {
            if (m.head < 0) break;
            row = m.head;
        }
        suffix = *m.current[static_cast<size_t>(row)];
        deliver(settings, build, streams, m, tree, array, arrayOutput, heap, suffix, previous, havePrevious, row);
        if ((++delivered & 0xffff) == 0) build.progress.update(delivered);

        const PsaRecord* r = nextRecord(streams, build, row);
        m.current[static_cast<size_t>(row)] = r;
        if (r) {
            build.current.suffixes++;
            if (heap) {
                siftDown(settings, build, m);
            } else {
                uint32_t lcp = timedLcp(settings, build, streams, m, stored, suffix, *r, row);
                m.lcpv[row] = lcp;
                popHead(m);
                insert(settings, build, m, row, lcp);
            }
        } else if (heap) {
            m.heap[0] = m.heap[--m.heapSize];
            if (m.heapSize > 0) siftDown(settings, build, m);
        } else {
            popHead(m);
        }
        previous = suffix;
        havePrevious = true;
        if (!arrayOutput && treeIsFull(tree)) writeFullTree(build, tree);
    }

    if (arrayOutput)
        flushArray(build, array, true);
    else
        finishTrees(build, tree);
    addCurrentToTotals(build);
    build.progress.finish();

    if (gRun.quiet) return;
    const RunTotals& t = build.totals;
    const MergeCounters& c = t.sums;
    note("Merge done: %.0f, %d ST%s, tnp1=%.0f tnp2=%.0f tlcmp=%.0f tncmp=%.0f tnrc=%.0f tnpc=%.0f\n", c.suffixes,
         t.trees, t.trees == 1 ? "" : "s", c.firstWordDecisions, c.prefixDecisions, c.listSteps, c.comparisons,
         c.resumedComparisons, c.longComparisons);
    // Every tree may hold a single suffix, leaving no LCP to average.
    int meanLcp = c.lcpCount > 0 ? static_cast<int>(c.lcpSum / c.lcpCount) : 0;
    note("  maxp=%d tnlcp=%.0f alcp=%d maxlcp=%d nmlcp=%d/%d  tngpf=%.0f\n", t.maxPathHeight, c.lcpCount, meanLcp,
         static_cast<int>(t.maxLcp), t.lcpsOver255, t.lcpsOver65535, c.packedWords);
}
