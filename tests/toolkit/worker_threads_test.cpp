// A worker's failure reaches standard error once, in the words and with the status
// that the same failure has on the main thread, whether the worker returns it or
// stops inside fatal().
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "toolkit/run.h"

namespace {

// A failure deep in a worker's task: the worker notes a line, then stops in `stop`.
// The owner waits to hear of it, lets the sleeping thread go and ends the run with
// the lines and the failure, as a one-thread run would print them.
template <typename Stop>
[[noreturn]] void stopOnWorker(Stop stop) {
    WorkerStatus status;
    std::mutex lock;
    std::condition_variable changed;
    bool stopped = false;
    std::thread worker([&] {
        captureRunOutput(&status, [&] {
            std::lock_guard<std::mutex> guard(lock);
            stopped = true;
            changed.notify_all();
        });
        note("tree %d read\n", 3);
        stop();
        captureRunOutput(nullptr);  // not reached: stop() never returns
    });
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return stopped; });
    }
    worker.detach();
    fputs(status.lines.c_str(), stderr);
    exitWithFailure(status);
}

TEST(WorkerStatus, AFailureOnAWorkerIsPrintedOnceAsOnOneThread) {
    EXPECT_EXIT(fatal("tree %d is damaged\n", 4), testing::ExitedWithCode(1), "^## ERROR: tree 4 is damaged\n$");
    EXPECT_EXIT(stopOnWorker([] { fatal("tree %d is damaged\n", 4); }), testing::ExitedWithCode(1),
                "^# tree 3 read\n## ERROR: tree 4 is damaged\n$");
    EXPECT_EXIT(stopOnWorker([] { fatalTo(stderr, 255, "ERROR: no tree %d\n", 5); }), testing::ExitedWithCode(255),
                "^# tree 3 read\nERROR: no tree 5\n$");
}

TEST(WorkerStatus, AReturnedFailureKeepsTheFirst) {
    WorkerStatus status;
    EXPECT_FALSE(status.failed());
    EXPECT_FALSE(failWorker(status, "can't read run %d\n", 2));
    EXPECT_FALSE(failWorker(status, "can't close run %d\n", 2));
    EXPECT_TRUE(status.failed());
    EXPECT_EXIT(exitWithFailure(status), testing::ExitedWithCode(1), "^## ERROR: can't read run 2\n$");
}

}  // namespace
