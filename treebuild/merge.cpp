// The multiway merge of all streams into one order of all suffixes, each delivered
// with its LCP value against the suffix delivered before it.
//
// The default keeps the streams' current suffixes in a list sorted by suffix, where
// every element holds its LCP value against the element before it (the head: against
// the suffix delivered last). Consecutive output suffixes then need no comparison for
// their LCP, and an insertion passes or places an element by comparing two stored
// LCPs; suffixes are compared only when those are equal, and then only after the
// bits known to be shared. -H keeps a heap of streams instead and compares each
// delivered suffix with the one before it for its LCP.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "toolkit/run.h"
#include "treebuild/suffix_tree.h"
#include "treebuild/treebuild.h"

namespace {

struct MergeState {
    std::vector<const PsaRecord*> current;  // per stream, null once exhausted
    // Sorted list
    int head = -1;
    std::vector<int> next;
    std::vector<uint32_t> lcpv;
    int size = 0;
    // Heap of stream numbers
    std::vector<int> heap;
    int heapSize = 0;
};

MergeState gMerge;

// The LCP time is the sum of very short intervals, one per suffix, each about as long
// as reading a clock. Only one interval in kLcpSample is timed and counted
// kLcpSample times: the sum still estimates the total without bias, at a fraction of
// the clock's cost. A coarse clock is enough, since each timed interval is counted in
// proportion to its length.
constexpr uint32_t kLcpSample = 16;
uint32_t gLcpTick = 0;

inline double lcpClock() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// LCP value of b against a, the suffix delivered before it: from the stream's .stlcp
// file with -Z (capped at the shorter suffix), else by one comparison.
inline uint32_t lcpOf(const PsaRecord& a, const PsaRecord& b, int stream) {
    uint32_t lcp;
    if (gSettings.manzini) {
        lcp = nextLcp(stream);
        uint32_t shorter = std::min(remainingBits(a), remainingBits(b));
        // A stored value may claim more shared bits than the shorter suffix holds.
        if (lcpBits(lcp) >= shorter && lcp != lcpValue(shorter, 0)) lcp = lcpValue(shorter, 0);
    } else if (compareSuffixes(a, b, 0, true, &lcp)) {
        // b follows a in the same run, so it may not sort before it.
        streamOutOfOrder(stream);
    }
    return lcp;
}

uint32_t timedLcp(const PsaRecord& a, const PsaRecord& b, int stream) {
    if (++gLcpTick % kLcpSample) return lcpOf(a, b, stream);
    double t0 = lcpClock();
    uint32_t lcp = lcpOf(a, b, stream);
    gBuild.lcpNs += kLcpSample * (lcpClock() - t0);
    return lcp;
}

// Inserts stream s, whose current suffix has the LCP value `pending` against the
// suffix delivered last.
void insert(int s, uint32_t pending) {
    MergeState& m = gMerge;
    MergeCounters& c = gBuild.current;
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
            bool after = compareSuffixes(*m.current[cur], *m.current[s], a, true, &lcp);
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

void popHead() {
    MergeState& m = gMerge;
    m.head = m.next[m.head];
    m.size--;
}

// Heap order: identical suffixes by input number.
inline bool heapAfter(int a, int b) {
    gBuild.current.comparisons++;
    return compareSuffixes(*gMerge.current[a], *gMerge.current[b], 0, false, nullptr);
}

void heapPush(int s) {
    MergeState& m = gMerge;
    int at = m.heapSize++;
    m.heap[at] = s;
    while (at > 0) {
        int parent = (at - 1) / 2;
        if (!heapAfter(m.heap[parent], s)) break;
        m.heap[at] = m.heap[parent];
        m.heap[parent] = s;
        at = parent;
    }
}

void siftDown() {
    MergeState& m = gMerge;
    int moving = m.heap[0];
    int w = 0;
    for (int v = 1; v < m.heapSize; v = 2 * w + 1) {
        int t = v;
        if (v + 1 < m.heapSize && heapAfter(m.heap[v], m.heap[v + 1])) t = v + 1;
        if (!heapAfter(moving, m.heap[t])) break;
        m.heap[w] = m.heap[t];
        m.heap[t] = moving;
        w = t;
    }
}

void deliver(const PsaRecord& suffix, const PsaRecord& previous, bool havePrevious, int row) {
    if (gSettings.arrayOutput) {
        addToArray(suffix, gSettings.heap ? 0 : gMerge.lcpv[row]);
        return;
    }
    uint32_t lcp = 0;
    if (!treeHoldsRootOnly()) {
        if (!gSettings.heap) {
            lcp = gMerge.lcpv[row];
        } else if (havePrevious) {
            bool after;
            if (++gLcpTick % kLcpSample) {
                after = compareSuffixes(previous, suffix, 0, true, &lcp);
            } else {
                double t0 = lcpClock();
                after = compareSuffixes(previous, suffix, 0, true, &lcp);
                gBuild.lcpNs += kLcpSample * (lcpClock() - t0);
            }
            // Every other current suffix sorted at or after the previous one when it was
            // delivered, so one before it can only be its successor in its own run.
            if (after) streamOutOfOrder(row);
        }
    }
    addSuffix(suffix, lcp);
}

}  // namespace

void setUpMerge() {
    MergeState& m = gMerge;
    int streams = gBuild.numStreams;
    m.current.assign(static_cast<size_t>(streams), nullptr);
    if (gSettings.heap) {
        m.heap.assign(static_cast<size_t>(streams), -1);
    } else {
        m.next.assign(static_cast<size_t>(streams), -1);
        m.lcpv.assign(static_cast<size_t>(streams), 0);
    }
    if (gSettings.arrayOutput)
        allocateArrayBuffers();
    else
        setUpTrees();
    for (int s = 0; s < streams; s++) {
        const PsaRecord* first = nextRecord(s);
        // A stream that is empty from the start takes no part in the merge.
        if (!first) continue;
        m.current[static_cast<size_t>(s)] = first;
        if (gSettings.manzini) nextLcp(s);  // compares the file's first record with nothing
        gBuild.current.suffixes++;
        if (gSettings.heap)
            heapPush(s);
        else
            insert(s, 0);
    }
}

void runMerge() {
    MergeState& m = gMerge;
    const bool heap = gSettings.heap;
    PsaRecord suffix{};
    PsaRecord previous{};
    bool havePrevious = false;
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
        deliver(suffix, previous, havePrevious, row);

        const PsaRecord* r = nextRecord(row);
        m.current[static_cast<size_t>(row)] = r;
        if (r) {
            gBuild.current.suffixes++;
            if (heap) {
                siftDown();
            } else {
                uint32_t lcp = timedLcp(suffix, *r, row);
                m.lcpv[row] = lcp;
                popHead();
                insert(row, lcp);
            }
        } else if (heap) {
            m.heap[0] = m.heap[--m.heapSize];
            if (m.heapSize > 0) siftDown();
        } else {
            popHead();
        }
        previous = suffix;
        havePrevious = true;
        if (!gSettings.arrayOutput && treeIsFull()) writeFullTree();
    }

    if (gSettings.arrayOutput)
        flushArray(true);
    else
        finishTrees();
    addCurrentToTotals();

    if (gRun.quiet) return;
    const RunTotals& t = gBuild.totals;
    const MergeCounters& c = t.sums;
    note("Merge done: %.0f, %d ST%s, tnp1=%.0f tnp2=%.0f tlcmp=%.0f tncmp=%.0f tnrc=%.0f tnpc=%.0f\n", c.suffixes,
         t.trees, t.trees == 1 ? "" : "s", c.firstWordDecisions, c.prefixDecisions, c.listSteps, c.comparisons,
         c.resumedComparisons, c.longComparisons);
    // Every tree may hold a single suffix, leaving no LCP to average.
    int meanLcp = c.lcpCount > 0 ? static_cast<int>(c.lcpSum / c.lcpCount) : 0;
    note("  maxp=%d tnlcp=%.0f alcp=%d maxlcp=%d nmlcp=%d/%d  tngpf=%.0f\n", t.maxPathHeight, c.lcpCount, meanLcp,
         static_cast<int>(t.maxLcp), t.lcpsOver255, t.lcpsOver65535, c.packedWords);
}
