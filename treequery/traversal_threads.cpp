// The threads of the traversal (-j): the trees are walked at once, each into empty
// heaps of its own, and the main thread offers the records those heaps took to the
// run's heaps in tree order. Time: the walks, plus O(h log b) for the h records the
// trees' heaps took (b records a heap); extra memory per thread one set of heaps and
// standard arrays, and per tree in flight its kept records and -e lines.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "treequery/traversal_walk.h"
#include "treequery/user_terms.h"
#include "treequery/workers.h"

namespace {

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

}  // namespace

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
