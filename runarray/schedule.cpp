// Runs at once: with -j, up to n runs are read, sorted and written by threads of their
// own, each through buffers of its own; the main thread takes the finished runs in run
// order, so the lines on standard error, the counters and the partitions catalogue come
// out as one thread makes them. A failed run stops the program with its own message once
// every run before it is done, as one thread would have stopped; the files of later runs
// are removed, so that no more is left than one thread would have left.
#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "runarray/runarray.h"
#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "toolkit/threads.h"

namespace {

// What the main thread and the run threads share; every field under `lock`.
struct RunQueue {
    std::mutex lock;
    std::condition_variable changed;
    int next = 0;               // the next run to start
    int firstFailed = INT_MAX;  // no run after it starts
    int64_t suffixesDone = 0;   // of the runs finished so far, for the progress line
    std::vector<char> done;
};

// The run's closing piece and the totals, in run order.
void closeRun(const RunPlan& plan, const SortSettings& settings, RunReport& report, SortTotals& totals) {
    int real = std::max(0, report.finishedMs - totals.referenceMs);
    totals.referenceMs = std::max(totals.referenceMs, report.finishedMs);
    say(report, ", real %d ms\n", real);
    totals.flushes += report.flushes;
    const int len = plan.end - plan.first;
    if (!settings.noSuffixes && report.written != plan.count - len)
        fatal("something wrong with # Suffixes: %d %lld\n", plan.count - len, (long long)report.written);
    totals.suffixes += (double)report.written;
    totals.runInputs.push_back(len);
    totals.runSums.push_back((int)report.sums.size());
    for (ChecksumEntry& entry : report.sums) totals.sums.push_back(std::move(entry));
}

}  // namespace

int runsAtOnce(int threads, int runs, int64_t perRun, uint64_t memory) {
    int atOnce = std::max(1, std::min(threads, runs));
    if (memory > 0 && perRun > 0) {
        uint64_t fit = memory / (uint64_t)perRun;
        if (fit < (uint64_t)atOnce) atOnce = std::max<int>(1, (int)fit);
    }
    return atOnce;
}

void sortAllRuns(const SortSettings& settings, const DataSetPaths& paths, const InputCatalogue& inputs,
                 SortTotals& totals) {
    const std::vector<RunPlan> plans = planRuns(settings, inputs, computeMaxSize(settings, inputs));
    // Runs span.first .. span.end-1 (-O), every run without it.
    const RunSpan span = selectedRuns(settings, (int)plans.size());
    const int runs = span.end;
    const int threads = std::max(1, settings.threads);
    const int64_t perRun = runMemory(settings, inputs, threads);
    int slots = runsAtOnce(threads, span.end - span.first, perRun, physicalMemory());
    // A path that could be too long stops the program from where it is formed: only the
    // main thread may do that, so such a data set takes its runs one after another.
    if (paths.base.size() + 24 > kPathLimit) slots = 1;
    const int helpers = std::max(1, threads / slots);

    std::unique_ptr<RunBuffers[]> buffers(new RunBuffers[(size_t)slots]);
    for (int s = 0; s < slots; s++) allocateBuffers(buffers[s], settings, inputs, helpers, s == 0);
    if (settings.threadsText && !gRun.quiet) {
        note("threads %d: %d run%s at once, %d thread%s each\n", threads, slots, slots == 1 ? "" : "s", helpers,
             helpers == 1 ? "" : "s");
        if (slots < std::min(threads, span.end - span.first))
            note("a run takes %lld bytes, the machine has %llu: no more runs fit at once\n", (long long)perRun,
                 (unsigned long long)physicalMemory());
    }
    // The other runs of the plan may be another process's work (-O): only the files
    // that cover every run go, and this process's own pieces.
    if (settings.onlyRuns) {
        remove(paths.partitions.c_str());
        remove((dataSetPath(paths.base, FileKind::runSums)).c_str());
        for (int r = span.first; r < span.end; r++) remove(runPieceSums(paths, r).c_str());
    } else {
        deleteStaleOutputs(paths);
        removeRunPieces(paths, 0);
    }
    totals.referenceMs = msClock();

    const BaseTable* bases = peekBaseTable(paths, inputs);
    std::vector<RunReport> reports((size_t)runs);
    ProgressLine progress;
    progress.start("sorting", "bases", (uint64_t)inputs.sumLen);
    int64_t basesDone = 0;

    if (slots == 1) {
        // One run at a time, on this thread: each piece of its line shows as it comes.
        for (int r = span.first; r < runs; r++) {
            RunReport& report = reports[(size_t)r];
            report.live = true;
            progress.clear();
            if (!sortRun(r, plans[(size_t)r], settings, paths, inputs, bases, buffers[0], report))
                exitWithFailure(report.status);
            closeRun(plans[(size_t)r], settings, report, totals);
            basesDone += report.suffixes;
            if (progress.active) progress.show((uint64_t)basesDone, true);
        }
        progress.finish();
        return;
    }

    RunQueue queue;
    queue.done.assign((size_t)runs, 0);
    queue.next = span.first;
    auto work = [&](int slot) {
        for (;;) {
            int r;
            {
                std::lock_guard<std::mutex> hold(queue.lock);
                if (queue.next >= runs || queue.next > queue.firstFailed) return;
                r = queue.next++;
            }
            RunReport& report = reports[(size_t)r];
            bool ok = sortRun(r, plans[(size_t)r], settings, paths, inputs, bases, buffers[slot], report);
            {
                std::lock_guard<std::mutex> hold(queue.lock);
                queue.done[(size_t)r] = 1;
                queue.suffixesDone += report.suffixes;
                if (!ok) queue.firstFailed = std::min(queue.firstFailed, r);
            }
            queue.changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (int s = 0; s < slots; s++) workers.emplace_back(work, s);
    auto joinAll = [&] {
        for (std::thread& worker : workers) worker.join();
        workers.clear();
    };

    for (int r = span.first; r < runs; r++) {
        {
            std::unique_lock<std::mutex> hold(queue.lock);
            while (!queue.done[(size_t)r]) {
                queue.changed.wait_for(hold, std::chrono::milliseconds(100));
                if (progress.active) progress.update((uint64_t)queue.suffixesDone);
            }
        }
        RunReport& report = reports[(size_t)r];
        progress.clear();
        if (report.status.failed()) {
            // What one thread would have shown: the run's line so far, then its error.
            {
                std::lock_guard<std::mutex> hold(queue.lock);
                queue.firstFailed = std::min(queue.firstFailed, r);
            }
            fputs(report.line.c_str(), stderr);
            joinAll();
            for (int later = r + 1; later < runs; later++) {
                const RunReport& gone = reports[(size_t)later];
                if (gone.madePsa) remove(dataSetPath(paths.base, FileKind::runs, later).c_str());
                if (gone.madeLcp) remove(dataSetPath(paths.base, FileKind::runLcp, later).c_str());
            }
            exitWithFailure(report.status);
        }
        closeRun(plans[(size_t)r], settings, report, totals);
        fputs(report.line.c_str(), stderr);
        basesDone += report.suffixes;
        if (progress.active) progress.show((uint64_t)basesDone, true);
    }
    joinAll();
    progress.finish();
}
