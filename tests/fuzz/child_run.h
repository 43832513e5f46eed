// Runs one whole program (its main under another name) in a forked child, so that a
// fatal error, which exits the process, or a crash ends the child and not the fuzzer.
// The child's standard output and error are captured, a child that outlives its time
// is killed, and the child's coverage counters are handed back to the fuzzer so that
// inputs reaching new code in the program still count as new.
#pragma once

#include <string>
#include <vector>

using ProgramEntry = int (*)(int, char**);

// Exit status of a child whose sanitizer printed a report.
constexpr int kSanitizerExit = 86;

struct ChildOutcome {
    int status = -1;        // exit status; -1 when the child did not exit
    int signal = 0;         // signal that ended it, or 0
    bool timedOut = false;  // killed after the time limit
    std::string out, err;
};

// args[0] is the program name. Runs entry(args) in a child for at most timeoutMs.
ChildOutcome runProgram(ProgramEntry entry, const std::vector<std::string>& args, int timeoutMs = 5000);

// What is wrong with an outcome whatever the input: a hang, a signal, a sanitizer
// report, an exit status other than 0 or 1, or status 1 without a "## ERROR: " line.
// Empty when nothing is.
std::string faultOf(const ChildOutcome& outcome);

// Prints the fault, the command and the child's output, then aborts: the fuzzer keeps
// the input as a crash.
[[noreturn]] void reportFault(const std::string& fault, const std::vector<std::string>& args,
                              const ChildOutcome& outcome);

// The program entries, compiled from each program's main.cpp under these names.
int dnaprepMain(int argc, char** argv);
int runarrayMain(int argc, char** argv);
int treebuildMain(int argc, char** argv);
int treequeryMain(int argc, char** argv);
