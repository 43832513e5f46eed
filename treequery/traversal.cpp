// The whole-tree traversal (-0 -K -1 -2 -s -k -n -e, and -a): the walk's set-up and
// the loop over the trees from -S up to (not including) -i, one at a time or on the
// threads of -j (traversal_threads.cpp), then the tables. Each tree is walked once,
// by the result walk (result_walk.cpp) or, with -a, the test walk (test_walk.cpp):
// time and memory are theirs and the tables'.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "treequery/traversal_walk.h"
#include "treequery/user_terms.h"
#include "treequery/workers.h"

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
            progress.clear();
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
