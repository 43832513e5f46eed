// Worker runs of -j and the ordered hand-over of their tasks (workers.h).
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
        // checksums: the per-block "verified" marks are no shared state.
        store.sums = q.store.sums;
        store.treeFiles = std::vector<VerifiedFile>((size_t)store.trees);
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
    int next = 0;       // first task no worker has taken
    int delivered = 0;  // tasks handed to the caller
    int running = 0;    // threads that have neither left their loop nor stopped in a failure
    bool stop = false;
    std::vector<char> state;
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
                const std::function<void(int task)>& deliver, ProgressLine* progress) {
    if (count <= 0) return;
    if (pool.stopped) {
        // A worker of an earlier call stopped mid-task: its run is left as it was.
        runRestHere(pool, main, nullptr, 0, count, task, deliver, progress);
        return;
    }
    Hand hand;
    hand.state.assign((size_t)count, kWaiting);
    hand.lines.resize((size_t)count);
    hand.parked.assign((size_t)pool.threads, 0);
    hand.running = pool.threads;
    if (ahead < 1) ahead = 1;
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
                hand.changed.wait(guard, [&] { return hand.stop || hand.next >= count || hand.next < hand.delivered + ahead; });
                if (hand.stop || hand.next >= count) break;
                current = hand.next++;
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
            hand.changed.wait(guard, [&] { return hand.state[(size_t)i] != kWaiting || (hand.stop && i >= hand.next); });
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


void searchExactShared(QueryRun& q, const std::vector<std::string_view>& patterns, std::vector<ExactResult>& results,
                       const GroupOptions& options) {
    const size_t count = patterns.size();
    if (!q.pool || q.pool->threads < 2 || count < 2) {
        exactSearchGroup(q, patterns, results, options);
        return;
    }
    WorkerPool& pool = *q.pool;
    const int shares = (int)std::min<size_t>((size_t)pool.threads, count);
    std::vector<std::vector<std::string_view>> parts((size_t)shares);
    std::vector<std::vector<ExactResult>> found((size_t)shares);
    for (int k = 0; k < shares; k++) {
        const size_t from = count * (size_t)k / (size_t)shares, to = count * (size_t)(k + 1) / (size_t)shares;
        parts[(size_t)k].assign(patterns.begin() + (long)from, patterns.begin() + (long)to);
    }
    bool searchedWhole = false;
    auto task = [&](int worker, QueryRun& run, int k) {
        if (worker >= pool.threads) {
            // One thread's search of the whole list: its first failure is one thread's.
            if (!searchedWhole) exactSearchGroup(q, patterns, results, options);
            searchedWhole = true;
            return;
        }
        size_t longest = 0;
        for (std::string_view p : parts[(size_t)k]) longest = std::max(longest, p.size());
        std::vector<char>& scratch = pool.workers[(size_t)worker]->scratch;
        if (scratch.size() < longest + 1) scratch.resize(longest + 1);
        run.verifyBuffer = scratch.data();
        exactSearchGroup(run, parts[(size_t)k], found[(size_t)k], options);
    };
    runOrdered(pool, q, shares, shares, task, [](int) {});
    if (searchedWhole) return;
    results.clear();
    results.reserve(count);
    for (std::vector<ExactResult>& part : found)
        for (ExactResult& r : part) results.push_back(std::move(r));
}
