// Worker runs of -j and the ordered hand-over of their tasks (workers.h), and the
// exact search of a batch shared out by trees: O(P + T) for P patterns over T trees to
// cut the ranges and list each range's patterns, and O(P) extra memory for those lists
// and the ranges' results until they are joined.
#include "treequery/workers.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "toolkit/run.h"
#include "toolkit/threads.h"
#include "treequery/exact_search.h"

WorkerPool::WorkerPool() = default;
WorkerPool::~WorkerPool() = default;

int queryThreads(const QuerySettings& s) {
    if (s.threads < 0) fatal("-j takes a number of threads (0: all cores), not %d\n", s.threads);
    return resolveThreads(s.threads);
}

void startWorkers(QueryRun& q, WorkerPool& pool, int threads) {
    pool.threads = threads;
    pool.workers.clear();
    for (int k = 0; k < threads; k++) {
        auto w = std::make_unique<WorkerRun>();
        QueryRun& r = w->run;
        r.settings = q.settings;
        r.catalogueBase = q.catalogueBase;
        r.catalogue = q.catalogue;  // the same arrays, only read
        r.names = q.names;
        r.maps = q.maps;
        TreeStore& store = r.store;
        store.treeBase = q.store.treeBase;
        store.catalogue = &r.catalogue;
        store.mapped = q.store.mapped;
        store.dividers = q.store.dividers;  // read only from here on
        store.trees = q.store.trees;
        store.maxTreeNodes = q.store.maxTreeNodes;
        store.maxDepth = q.store.maxDepth;
        store.treeLeaves.assign((size_t)store.trees, -1);
        // Each thread verifies the blocks it reads against its own copy of the
        // checksums; a block verified by one is marked for all (treeMarks).
        store.sums = q.store.sums;
        store.treeFiles = std::vector<VerifiedFile>((size_t)store.trees);
        store.sharedMarks = &pool.treeMarks;
        if (!store.mapped && store.trees > 0) {
            const size_t bytes = sizeof(Node) * (size_t)store.maxTreeNodes;
            w->treeBuffer = {static_cast<Node*>(trackedMalloc(bytes)), free};
            if (!w->treeBuffer) fatal("can't allocate %zu bytes for the tree buffer of a thread\n", bytes);
            store.treeBuffer = w->treeBuffer.get();
        }
        r.texts.inputBase = q.texts.inputBase;
        r.texts.treeBase = q.texts.treeBase;
        r.texts.inputs = q.texts.inputs;
        r.texts.mapChecks = q.texts.mapChecks;
        r.texts.inputSums = q.texts.inputSums;
        r.texts.treeSums = q.texts.treeSums;
        r.out = q.out;
        pool.workers.push_back(std::move(w));
    }
}

namespace {

enum TaskState : char { kWaiting = 0, kDone = 1, kStopped = 2 };

struct Hand {
    std::mutex lock;
    std::condition_variable changed;
    int next = 0;       // first task no worker has taken (tasks without homes)
    int delivered = 0;  // tasks handed to the caller
    int running = 0;    // threads that have neither left their loop nor stopped in a failure
    bool stop = false;
    std::vector<char> state;
    std::vector<char> taken;         // per task: a worker took it
    std::vector<std::string> lines;  // per task: what its worker noted
    std::vector<char> parked;        // per thread: stopped in a failure, asleep until the process ends
};

// Tasks from `from` on, one after the other on the main thread, as one thread does
// them; the lines of tasks that a worker finished before are printed instead.
void runRestHere(WorkerPool& pool, QueryRun& main, Hand* hand, int from, int count,
                 const std::function<void(int worker, QueryRun& run, int task)>& task,
                 const std::function<void(int task)>& deliver, ProgressLine* progress) {
    for (int j = from; j < count; j++) {
        const bool done = hand && hand->state[(size_t)j] == kDone;
        if (progress) progress->clear();
        if (done)
            fputs(hand->lines[(size_t)j].c_str(), stderr);
        else
            task(pool.threads, main, j);
        deliver(j);
    }
}

}  // namespace

void runOrdered(WorkerPool& pool, QueryRun& main, int count, int ahead,
                const std::function<void(int worker, QueryRun& run, int task)>& task,
                const std::function<void(int task)>& deliver, ProgressLine* progress, const std::vector<int>* homes) {
    if (count <= 0) return;
    if (pool.stopped) {
        // A worker of an earlier call stopped mid-task: its run is left as it was.
        runRestHere(pool, main, nullptr, 0, count, task, deliver, progress);
        return;
    }
    Hand hand;
    hand.state.assign((size_t)count, kWaiting);
    hand.taken.assign((size_t)count, 0);
    hand.lines.resize((size_t)count);
    hand.parked.assign((size_t)pool.threads, 0);
    hand.running = pool.threads;
    if (ahead < 1) ahead = 1;
    // The task worker w takes next (under the lock), -1 when none is left: the first
    // one not taken, or with homes its own first one and, when it has none left, the
    // last one of another worker.
    auto nextFor = [&](int w) {
        if (!homes) return hand.next < count ? hand.next : -1;
        int other = -1;
        for (int i = hand.delivered; i < count; i++) {
            if (hand.taken[(size_t)i]) continue;
            if ((*homes)[(size_t)i] == w) return i;
            other = i;
        }
        return other;
    };
    auto work = [&](int w) {
        WorkerStatus status;
        int current = -1;
        // A failure deep in a task stops this thread inside fatal(); the task is done
        // again on the main thread, which prints the error that one thread prints.
        captureRunOutput(&status, [&] {
            std::lock_guard<std::mutex> guard(hand.lock);
            hand.state[(size_t)current] = kStopped;
            hand.parked[(size_t)w] = 1;
            hand.running--;
            hand.stop = true;
            hand.changed.notify_all();
        });
        QueryRun& run = pool.workers[(size_t)w]->run;
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(hand.lock);
                int next = -1;
                hand.changed.wait(guard, [&] {
                    if (hand.stop) return true;
                    next = nextFor(w);
                    return next < 0 || next < hand.delivered + ahead;
                });
                if (hand.stop || next < 0) break;
                current = next;
                hand.taken[(size_t)current] = 1;
                if (current == hand.next) hand.next++;
            }
            status.lines.clear();
            task(w, run, current);
            std::lock_guard<std::mutex> guard(hand.lock);
            hand.lines[(size_t)current].swap(status.lines);
            hand.state[(size_t)current] = kDone;
            hand.changed.notify_all();
        }
        captureRunOutput(nullptr);
        std::lock_guard<std::mutex> guard(hand.lock);
        hand.running--;
        hand.changed.notify_all();
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < pool.threads; w++) threads.emplace_back(work, w);
    for (int i = 0; i < count; i++) {
        char state;
        std::string lines;
        {
            std::unique_lock<std::mutex> guard(hand.lock);
            hand.changed.wait(guard, [&] { return hand.state[(size_t)i] != kWaiting || (hand.stop && !hand.taken[(size_t)i]); });
            state = hand.state[(size_t)i];
            lines.swap(hand.lines[(size_t)i]);
        }
        if (state != kDone) {
            // Task i stopped (or was never taken after another one stopped): the rest
            // goes on here once every worker has left its loop or stopped. A stopped
            // one sleeps in fatal(): it is let go, and its run is never used again.
            {
                std::unique_lock<std::mutex> guard(hand.lock);
                hand.stop = true;
                hand.changed.notify_all();
                hand.changed.wait(guard, [&] { return hand.running == 0; });
            }
            for (int w = 0; w < pool.threads; w++) {
                if (hand.parked[(size_t)w]) {
                    threads[(size_t)w].detach();
                    pool.stopped = true;
                } else {
                    threads[(size_t)w].join();
                }
            }
            runRestHere(pool, main, &hand, i, count, task, deliver, progress);
            return;
        }
        if (progress && !lines.empty()) progress->clear();
        fputs(lines.c_str(), stderr);
        deliver(i);
        std::lock_guard<std::mutex> guard(hand.lock);
        hand.delivered = i + 1;
        hand.changed.notify_all();
    }
    for (std::thread& t : threads) t.join();
}


namespace {

// Trees [from, to) searched by one task of a shared exact search, and the patterns
// that select any of them (in pattern order).
struct TreeRange {
    int from;
    int to;
    std::vector<uint32_t> patterns;
};

// Contiguous ranges of trees with about as many searches (a pattern in a tree) each,
// `wanted` of them at most; trees no pattern selects join a neighbouring range, and no
// range is left without a search.
std::vector<TreeRange> cutTreeRanges(const std::vector<TreeSpan>& spans, int trees, int wanted) {
    std::vector<long long> searches((size_t)trees + 1, 0);
    for (const TreeSpan& span : spans) {
        if (span.first >= span.last) continue;
        searches[(size_t)span.first]++;
        searches[(size_t)span.last]--;
    }
    long long total = 0;
    for (int t = 0; t < trees; t++) {
        if (t > 0) searches[(size_t)t] += searches[(size_t)t - 1];
        total += searches[(size_t)t];
    }
    std::vector<TreeRange> ranges;
    long long done = 0, cut = 0;  // searches up to tree t, and up to the last cut
    int from = 0;
    for (int t = 0; t < trees; t++) {
        done += searches[(size_t)t];
        // Cut after tree t once the ranges so far hold their share of the searches.
        if (done > cut && done * wanted >= total * (long long)(ranges.size() + 1)) {
            ranges.push_back(TreeRange{from, t + 1, {}});
            from = t + 1;
            cut = done;
        }
    }
    if (!ranges.empty()) ranges.back().to = trees;
    return ranges;
}

}  // namespace

void searchExactShared(QueryRun& q, const std::vector<std::string_view>& patterns, std::vector<ExactResult>& results,
                       const GroupOptions& options) {
    const size_t count = patterns.size();
    if (!q.pool || q.pool->threads < 2 || count < 1) {
        exactSearchGroup(q, patterns, results, options);
        return;
    }
    WorkerPool& pool = *q.pool;
    std::vector<TreeSpan> chosen;
    const std::vector<TreeSpan>& spans = groupSpans(q, patterns, options, chosen);
    // A few more ranges than threads, so that a thread done with a light range takes
    // another while a heavy one is still being searched.
    std::vector<TreeRange> ranges = cutTreeRanges(spans, q.store.trees, 4 * pool.threads);
    if (ranges.size() < 2) {
        exactSearchTreeRange(q, patterns, spans, 0, q.store.trees, results, options);
        noteTreeLocations(results, options);
        return;
    }
    std::vector<int> rangeOf((size_t)q.store.trees);
    for (size_t k = 0; k < ranges.size(); k++)
        for (int t = ranges[k].from; t < ranges[k].to; t++) rangeOf[(size_t)t] = (int)k;
    for (size_t p = 0; p < count; p++) {
        const TreeSpan& span = spans[p];
        if (span.first >= span.last) continue;
        for (size_t k = (size_t)rangeOf[(size_t)span.first]; k < ranges.size() && ranges[k].from < span.last; k++)
            ranges[k].patterns.push_back((uint32_t)p);
    }
    results.assign(count, ExactResult());
    if (options.inputs)
        for (ExactResult& r : results) r.inputs.assign((size_t)q.catalogue.vectorWords, 0);
    const int keep = options.keep >= 0 ? options.keep : q.settings->maxNum;
    // A pattern whose trees all lie in one range is searched by that range's task
    // alone, into its own results. Per range, the results of the patterns that select
    // trees of other ranges too, kept until the range is joined.
    auto within = [&](uint32_t p, const TreeRange& range) {
        return spans[p].first >= range.from && spans[p].last <= range.to;
    };
    std::vector<std::vector<ExactResult>> found(ranges.size());
    bool searchedWhole = false;
    auto task = [&](int worker, QueryRun& run, int k) {
        if (worker >= pool.threads) {
            // One thread's search of the whole list: its first failure is one thread's.
            if (!searchedWhole) exactSearchGroup(q, patterns, results, options);
            searchedWhole = true;
            return;
        }
        const TreeRange& range = ranges[(size_t)k];
        std::vector<std::string_view> own;
        std::vector<TreeSpan> ownSpans;
        std::vector<ExactResult*> targets;
        own.reserve(range.patterns.size());
        ownSpans.reserve(range.patterns.size());
        targets.reserve(range.patterns.size());
        std::vector<ExactResult>& part = found[(size_t)k];
        part.resize(range.patterns.size() - (size_t)std::count_if(range.patterns.begin(), range.patterns.end(),
                                                                  [&](uint32_t p) { return within(p, range); }));
        size_t longest = 0, parts = 0;
        for (uint32_t p : range.patterns) {
            own.push_back(patterns[p]);
            ownSpans.push_back(spans[p]);
            targets.push_back(within(p, range) ? &results[p] : &part[parts++]);
            longest = std::max(longest, patterns[p].size());
        }
        std::vector<char>& scratch = pool.workers[(size_t)worker]->scratch;
        if (scratch.size() < longest + 1) scratch.resize(longest + 1);
        run.verifyBuffer = scratch.data();
        exactSearchTreeRange(run, own, ownSpans, range.from, range.to, targets, options);
    };
    // Ranges are joined in tree order: a pattern's results of range k come before
    // those of range k + 1, as one thread collects them.
    auto deliver = [&](int k) {
        if (searchedWhole) return;
        TreeRange& range = ranges[(size_t)k];
        std::vector<ExactResult>& part = found[(size_t)k];
        size_t parts = 0;
        for (uint32_t p : range.patterns)
            if (!within(p, range)) joinExactResult(results[p], part[parts++], keep);
        std::vector<ExactResult>().swap(part);
        std::vector<uint32_t>().swap(range.patterns);
    };
    // Each thread's own ranges side by side, the first for the first trees: batch after
    // batch a tree is mapped and its blocks verified by the same thread, as long as
    // the batches select the trees alike.
    std::vector<int> homes(ranges.size());
    for (size_t k = 0; k < ranges.size(); k++) homes[k] = (int)(k * (size_t)pool.threads / ranges.size());
    runOrdered(pool, q, (int)ranges.size(), (int)ranges.size(), task, deliver, nullptr, &homes);
    if (searchedWhole) return;
    noteTreeLocations(results, options);
}
