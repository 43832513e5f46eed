#include "toolkit/run.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <utility>

RunState gRun;

namespace {
// Counters that worker threads add to as they allocate and read.
std::atomic<unsigned long long> memoryTotalBytes{0};
std::atomic<int> readTimeTotal{0};
std::atomic<int> writeTimeTotal{0};
std::atomic<long> lastMajorFaults{0};
long clockBase = 0;   // tv_sec of the first msClock reading; 0 until then (set before any thread starts)
char versionBuffer[32];
// The calling thread's worker status (captureRunOutput), null when it prints itself,
// and what tells its owner that it stopped.
thread_local WorkerStatus* capturedStatus = nullptr;
thread_local std::function<void()> capturedStop;
// Whether damage found on this thread ends it the Hamming search's way (HammingDamageRoute).
thread_local bool hammingDamage = false;

void recordFailure(WorkerStatus& status, FILE* stream, int exitStatus, std::string text) {
    if (status.failed()) return;
    status.message = std::move(text);
    status.stream = stream;
    status.exitStatus = exitStatus;
}

// A capturing worker's end: the owner learns of the failure, the thread sleeps
// until the owner ends the process (pause returns only after a caught signal).
[[noreturn]] void stopWorker(FILE* stream, int exitStatus, std::string text) {
    recordFailure(*capturedStatus, stream, exitStatus, std::move(text));
    capturedStatus = nullptr;
    if (capturedStop) capturedStop();
    for (;;) pause();
}
}  // namespace

void captureRunOutput(WorkerStatus* status, std::function<void()> stopped) {
    capturedStatus = status;
    capturedStop = status ? std::move(stopped) : std::function<void()>();
}

bool failWorker(WorkerStatus& status, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = formatText(fmt, args);
    va_end(args);
    recordFailure(status, stderr, 1, "## ERROR: " + text);
    return false;
}

void exitWithFailure(const WorkerStatus& status) {
    fputs(status.message.c_str(), status.stream);
    fflush(status.stream);
    exit(status.exitStatus);
}

HammingDamageRoute::HammingDamageRoute() : previous_(hammingDamage) { hammingDamage = true; }
HammingDamageRoute::~HammingDamageRoute() { hammingDamage = previous_; }

void stopOnDamage(const std::string& message) {
    if (hammingDamage) {
        errorLine("## ERROR: %s", message.c_str());
        fflush(stderr);
        fatalTo(stdout, 255, "ERROR: %s", message.c_str());
    }
    fatal("%s", message.c_str());
}

void fatal(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    if (capturedStatus) {
        std::string text = formatText(fmt, args);
        va_end(args);
        stopWorker(stderr, 1, "## ERROR: " + text);
    }
    fputs("## ERROR: ", stderr);
    fflush(stderr);
    vfprintf(stderr, fmt, args);
    va_end(args);
    exit(1);
}

void fatalTo(FILE* stream, int status, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    if (capturedStatus) {
        std::string text = formatText(fmt, args);
        va_end(args);
        stopWorker(stream, status, text);
    }
    vfprintf(stream, fmt, args);
    va_end(args);
    fflush(stream);
    exit(status);
}

void note(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    if (capturedStatus) {
        capturedStatus->lines.append("# ").append(formatText(fmt, args));
        va_end(args);
        return;
    }
    fputs("# ", stderr);
    vfprintf(stderr, fmt, args);
    va_end(args);
}

void errorLine(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    if (capturedStatus)
        capturedStatus->lines.append(formatText(fmt, args));
    else
        vfprintf(stderr, fmt, args);
    va_end(args);
}

std::string formatText(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(needed > 0 ? (size_t)needed : 0, '\0');
    vsnprintf(text.data(), text.size() + 1, fmt, args);
    return text;
}

std::string formatString(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = formatText(fmt, args);
    va_end(args);
    return text;
}

const char* versionString() {
    if (versionBuffer[0] == 0) snprintf(versionBuffer, sizeof versionBuffer, "%s %s", __DATE__, __TIME__);
    return versionBuffer;
}

void commandEcho(int argc, char** argv) {
    fprintf(stderr, "# Command(%d): ", argc);
    for (int i = 0; i < argc; i++) fprintf(stderr, "%s ", argv[i]);
    fprintf(stderr, "\n# Version: %s\n", versionString());
}

int printUsage(const char* program, const char* const* lines, int count) {
    for (int i = 0; i < count; i++) {
        fputs("# ", stderr);
        if (i == 0)
            fprintf(stderr, lines[0], program);
        else
            fputs(lines[i], stderr);
    }
    return 1;
}

int parseNumber(const char* text) {
    if (text[0] == '2' && text[1] == '^') {
        long k = strtol(text + 2, nullptr, 10);
        return (int)(1u << (((k % 32) + 32) % 32));
    }
    double value = strtod(text, nullptr);
    // Out-of-range or non-finite values would be undefined to convert; they are not numbers here.
    if (!std::isfinite(value) || value >= 2147483648.0 || value <= -2147483649.0) return 0;
    return (int)value;
}

int msClock() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    if (clockBase == 0) {
        clockBase = tv.tv_sec;
        return (int)(tv.tv_usec / 1000);
    }
    return (int)((tv.tv_sec - clockBase) * 1000 + tv.tv_usec / 1000);
}

int cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    lastMajorFaults = usage.ru_majflt;
    return (int)((usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000);
}

long majorFaults() { return lastMajorFaults; }

void* trackedMalloc(size_t size) {
    memoryTotalBytes += size;
    return malloc(size);
}

void* trackedCalloc(size_t count, size_t size) {
    memoryTotalBytes += (unsigned long long)count * size;
    return calloc(count, size);
}

unsigned long long memoryTotal() { return memoryTotalBytes; }
int readTimeMs() { return readTimeTotal; }
int writeTimeMs() { return writeTimeTotal; }
void addReadTime(int ms) { readTimeTotal += ms; }
void addWriteTime(int ms) { writeTimeTotal += ms; }
