#include "toolkit/threads.h"

#include <unistd.h>

#include <cstdio>
#include <thread>

#include "toolkit/run.h"

int resolveThreads(int requested) {
    if (requested > 0) return requested;
    unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? (int)cores : 1;
}

uint64_t physicalMemory() {
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? (uint64_t)pages * (uint64_t)pageSize : 0;
}

void ProgressLine::start(const char* stageName, const char* unitName, uint64_t totalWork) {
    active = !gRun.quiet && isatty(STDERR_FILENO);
    stage = stageName;
    unit = unitName;
    total = totalWork;
    startMs = msClock();
    lastMs = startMs - 1000;
}

void ProgressLine::show(uint64_t done, bool force) {
    int now = msClock();
    if (!force && now - lastMs < 100) return;
    lastMs = now;
    double seconds = (now - startMs) / 1000.0;
    double rate = seconds > 0 ? (double)done / seconds : 0;
    fprintf(stderr, "\r# %s: %llu/%llu %s (%.0f/s", stage.c_str(), (unsigned long long)done,
            (unsigned long long)total, unit.c_str(), rate);
    if (rate > 0 && total >= done) fprintf(stderr, ", %.0f s left", (double)(total - done) / rate);
    fputs(")\033[K", stderr);
    fflush(stderr);
}

void ProgressLine::clear() const {
    if (active) fputs("\r\033[K", stderr);
}

void ProgressLine::finish() {
    if (!active) return;
    fputs("\r\033[K", stderr);
    fflush(stderr);
    active = false;
}
