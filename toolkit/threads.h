// What the programs' -j option and their long stages share: the number of threads
// to use, the machine's memory, and the self-overwriting progress line that a
// terminal shows (and a log file never does).
#pragma once

#include <cstdint>
#include <string>

// Threads for "-j n": n itself, or every core of the machine when n is 0 (at least 1).
int resolveThreads(int requested);

// Physical memory of the machine in bytes (0 when it cannot be told).
uint64_t physicalMemory();

// One progress line on standard error, rewritten in place: "# <stage>: <done>/<total>
// <unit> (<rate>/s, <left> left)". Active only when standard error is a terminal and
// the run is not quiet, so logs and golden outputs stay as they are; updates come at
// most ten times a second. finish() clears the line.
struct ProgressLine {
    bool active = false;
    std::string stage, unit;
    uint64_t total = 0;
    int startMs = 0, lastMs = -1000;

    void start(const char* stageName, const char* unitName, uint64_t totalWork);
    void update(uint64_t done) {
        if (active) show(done, false);
    }
    void finish();
    void show(uint64_t done, bool force);
    // Takes the line off the terminal before other lines are written there; the next
    // update shows it again.
    void clear() const;
};
