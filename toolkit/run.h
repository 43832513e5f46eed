// Run conventions shared by every program: the command echo, the scan helpers,
// fatal errors, clocks, tracked allocation and the counters of the closing
// statistics line.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Process-wide state of one program run; zero at start.
struct RunState {
    int quiet;    // -q: no informational output on stderr after the scan
    int verbose;  // -v: extra informational lines
    int unverifiedNoted;  // the line saying that a checksum file is missing was printed
};
extern RunState gRun;

// Prints "## ERROR: " and the message (which ends in "\n") to stderr and exits 1
// (on a capturing worker thread: records the failure and stops that thread, see
// captureRunOutput). It never returns.
[[noreturn]] void fatal(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same for failures with a stream and status of their own: prints the message
// as it is (it carries its own words and "\n") to `stream`, flushes it and exits
// with `status`.
[[noreturn]] void fatalTo(FILE* stream, int status, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// "# " plus the message on stderr (the prefix of every informational line).
void note(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The message as it is on stderr (an error line that a fatalTo elsewhere follows).
void errorLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// What a worker thread hands to the thread that owns the run's output: the lines it
// noted and, once it failed, that failure as fatal() or fatalTo() would have printed
// it. The worker records its first failure and stops its work; the owner prints what
// one thread would have printed before it and then ends the run with
// exitWithFailure(), so standard error and the exit status read as one thread's.
struct WorkerStatus {
    std::string lines;    // what note() and errorLine() would have printed (while captured)
    std::string message;  // the failure as printed, "## ERROR: ..." for fatal(); empty while sound
    FILE* stream = stderr;
    int exitStatus = 0;   // the failure's exit status; 0 while sound
    bool failed() const { return exitStatus != 0; }
};

// Records a failure in `status` as fatal() would print it ("## ERROR: " and the
// message, on stderr, status 1), unless one is recorded already; returns false.
bool failWorker(WorkerStatus& status, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Prints a worker's failure to its stream and exits with its status.
[[noreturn]] void exitWithFailure(const WorkerStatus& status);

// Worker threads that run code deep enough to reach fatal() from many places (the
// searches of treequery -j). captureRunOutput(&status, stopped) makes the calling
// thread keep what note() and errorLine() would print in status.lines, and makes
// fatal() and fatalTo() record their failure in `status`, call `stopped` (which tells
// the owner) and then stop the thread for good: it sleeps, unwinding nothing, until
// the process ends. Its owner therefore detaches it instead of joining it, and leaves
// alone whatever the worker was working on. A null status ends the capture.
void captureRunOutput(WorkerStatus* status, std::function<void()> stopped = {});

// How a damaged block of a file verified on use ends the calling thread's work:
// fatal() ("## ERROR: " and status 1), or, while a HammingDamageRoute lives on the
// thread, the Hamming search's way: the message on standard error and, as
// "ERROR: ...", on standard output, status 255, so that a script sees it on either
// stream as it sees that search's other failures. Per thread, because one run
// searches exact and Hamming patterns side by side under -j.
[[noreturn]] void stopOnDamage(const std::string& message);
struct HammingDamageRoute {
    HammingDamageRoute();
    ~HammingDamageRoute();
    HammingDamageRoute(const HammingDamageRoute&) = delete;
    HammingDamageRoute& operator=(const HammingDamageRoute&) = delete;

private:
    bool previous_;
};

// The text that vprintf would print, as a string.
std::string formatText(const char* fmt, va_list args);
// The text that printf would print, as a string.
std::string formatString(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Build date and time, "Mmm dd yyyy hh:mm:ss".
const char* versionString();

// "# Command(argc): argv[0] argv[1] ... \n# Version: ...\n" before any option is read.
void commandEcho(int argc, char** argv);

// Prints each usage line as "# " + line (the lines carry their own "\n"); returns 1.
// The first line is a format with one %s for argv[0].
int printUsage(const char* program, const char* const* lines, int count);

// "2^k" gives 1 << (k mod 32); anything else is read by strtod (exponents and hex
// accepted) and truncated toward zero; text that is not a number gives 0.
int parseNumber(const char* text);

// Milliseconds since the first reading of the process (shared with the timed I/O).
int msClock();
// CPU milliseconds (user + system) of the process; refreshes the usage record.
int cpuMs();
// Major page faults as of the last cpuMs().
long majorFaults();

// malloc/calloc that add the request to the memory total, even when they fail.
void* trackedMalloc(size_t size);
void* trackedCalloc(size_t count, size_t size);
// Bytes requested through the tracked allocators since start (64-bit: a run over
// a whole chromosome asks for more than 4 GiB).
unsigned long long memoryTotal();

// Time totals of the timed read and write wrappers, in milliseconds.
int readTimeMs();
int writeTimeMs();
void addReadTime(int ms);
void addWriteTime(int ms);
