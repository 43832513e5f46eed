// Run conventions shared by every program: the command echo, the scan helpers,
// fatal errors, clocks, tracked allocation and the counters of the closing
// statistics line.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Process-wide state of one program run; zero at start.
struct RunState {
    int quiet;    // -q: no informational output on stderr after the scan
    int verbose;  // -v: extra informational lines
    int unverifiedNoted;  // the line saying that a checksum file is missing was printed
};
extern RunState gRun;

// Prints "## ERROR: " and the message (which ends in "\n") to stderr and exits 1
// (on a capturing worker thread: throws, see captureRunOutput).
[[noreturn]] void fatal(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same for failures with a stream and status of their own: prints the message
// as it is (it carries its own words and "\n") to `stream`, flushes it and exits
// with `status`.
[[noreturn]] void fatalTo(FILE* stream, int status, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// "# " plus the message on stderr (the prefix of every informational line).
void note(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The message as it is on stderr (an error line that a fatalTo elsewhere follows).
void errorLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Worker threads. captureRunOutput(&lines) makes the calling thread keep what note()
// and errorLine() would print in `lines`, and makes fatal() and fatalTo() throw a
// StoppedRun with their text instead of ending the process, so that the thread that
// owns the output can print both in the order one thread would; null ends the capture.
struct StoppedRun {
    FILE* stream;
    int status;
    std::string text;
};
void captureRunOutput(std::string* lines);

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
