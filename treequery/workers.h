// Threads of -j: one worker run per thread, each with its own tree store and its own
// descriptors and mappings of the input texts, and its own copy of the checksums with
// its own marks of the blocks verified, sharing the main run's settings, catalogue
// and dividers (read only once the dividers are in).
//
// Work is cut into tasks numbered in output order. Workers take tasks in that order;
// the main thread hands each finished task to the caller in task order, after the
// lines its worker captured, so that standard error and the output read as one
// thread writes them. A task that stops the run (a damaged file, a short read) stops
// its worker's thread inside fatal() (see captureRunOutput) and is done again on the
// main thread, with the tasks after it: that repeat prints the very lines and error
// the single thread prints, and exits with its status, or, when it succeeds, goes on
// in order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/threads.h"
#include "treequery/treequery.h"

struct WorkerRun;

struct WorkerPool {
    int threads = 1;
    std::vector<std::unique_ptr<WorkerRun>> workers;
    // A worker stopped in a failure (its thread asleep, its run as the failure left
    // it) and the main thread went on: every later task runs on the main thread.
    bool stopped = false;
    // The workers' trees' verified marks: a block one worker hashed, the others take as verified.
    SharedMarks treeMarks;
    WorkerPool();
    ~WorkerPool();
};

// A worker's run: settings, catalogue and dividers as the main run's; its own store
// (tree buffer, records reader, mappings), texts and output (for the tables' parts
// it writes). `scratch` is the exact search's buffer for its text check.
struct WorkerRun {
    QueryRun run;
    std::unique_ptr<Node, void (*)(void*)> treeBuffer{nullptr, nullptr};
    std::vector<char> scratch;
};

// Makes `threads` worker runs after the main run's dividers are read.
void startWorkers(QueryRun& q, WorkerPool& pool, int threads);

// Runs task(w, run, i) for i from 0 to count - 1 on the pool's threads (w the worker's
// number and `run` its run; w = threads and the main run when a task is done again
// on the main thread) and calls
// deliver(i) on the calling thread in order. At most `ahead` tasks run beyond the
// one waiting to be delivered (their results wait in memory). A progress line, when
// given, is cleared before the lines of a task are printed. With `homes` (one worker
// number per task) a worker takes its own tasks first, in order, and only then the
// last tasks of others: work that reuses what a worker's run keeps (mapped trees,
// verified blocks) stays on one thread from call to call.
void runOrdered(WorkerPool& pool, QueryRun& main, int count, int ahead,
                const std::function<void(int worker, QueryRun& run, int task)>& task,
                const std::function<void(int task)>& deliver, ProgressLine* progress = nullptr,
                const std::vector<int>* homes = nullptr);

// Exact patterns searched as exactSearchGroup() does, their results in pattern order.
// With a pool the trees are cut into ranges of about as many searches each (a few per
// thread), each range searched for the whole list by one thread: a pattern whose trees
// lie in one range straight into its results, the others' results of each range joined
// in tree order. A range that fails makes the main thread search the whole list again,
// which stops with the error one thread meets first.
struct ExactResult;
struct GroupOptions;
void searchExactShared(QueryRun& q, const std::vector<std::string_view>& patterns, std::vector<ExactResult>& results,
                       const GroupOptions& options);

// The -j thread count: 1 without -j, all cores for -j 0.
int queryThreads(const QuerySettings& s);
