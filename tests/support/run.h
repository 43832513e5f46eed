// Running a program of the build, a shell command or a function for the tests, with
// its standard output, standard error and exit status captured.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/files.h"

namespace testsupport {

struct Captured {
    int status = -1;  // the exit status; 128 + n when signal n ended it
    std::string out, err;
};

namespace capture {

// A fresh empty file under the temporary folder; its descriptor goes to `fd`.
inline std::string scratchFile(const char* tag, int* fd) {
    const char* root = std::getenv("TMPDIR");
    std::string name = std::string(root && *root ? root : "/tmp") + "/" + tag + ".XXXXXX";
    *fd = mkstemp(name.data());
    if (*fd < 0) {
        std::perror(name.c_str());
        std::abort();
    }
    return name;
}

inline int statusOf(int wait) {
    if (WIFEXITED(wait)) return WEXITSTATUS(wait);
    return WIFSIGNALED(wait) ? 128 + WTERMSIG(wait) : -1;
}

// Takes the two files' bytes into `c` and removes them.
inline void collect(Captured& c, const std::string& out, const std::string& err) {
    c.out = readFile(out);
    c.err = readFile(err);
    unlink(out.c_str());
    unlink(err.c_str());
}

}  // namespace capture

// Runs a shell command line (its words quoted by the caller).
inline Captured runCaptured(const std::string& command) {
    int outFd, errFd;
    const std::string out = capture::scratchFile("stdout", &outFd), err = capture::scratchFile("stderr", &errFd);
    close(outFd);
    close(errFd);
    Captured c;
    c.status = capture::statusOf(std::system(("(" + command + ") >'" + out + "' 2>'" + err + "'").c_str()));
    capture::collect(c, out, err);
    return c;
}

// Runs `program` of the build with `arguments` (one shell text).
inline Captured runProgram(const std::string& program, const std::string& arguments) {
    return runCaptured(binary(program) + " " + arguments);
}

// Builds data set `prefix` in `dir` (ending in "/") from the FASTA file `fasta` there
// with the three stages, names and coordinate map included, trees of at most
// `treeNodes` records; true when every stage succeeded.
inline bool buildWithStages(const std::string& dir, const std::string& prefix, const std::string& fasta,
                            int treeNodes) {
    const std::string set = " " + dir + " " + prefix + " -q";
    return runCommand(binary("dnaprep") + " " + dir + set + " -Q -N " + fasta + " >/dev/null 2>&1") == 0 &&
           runCommand(binary("runarray") + set + " >/dev/null 2>&1") == 0 &&
           runCommand(binary("treebuild") + set + " -n " + std::to_string(treeNodes) + " >/dev/null 2>&1") == 0;
}

// Runs fn() in a forked child, which exits with status 0 when fn returns; what fn
// checks with EXPECT or ASSERT is lost with the child, so check its outcome here.
template <class Fn>
Captured runInChild(Fn fn) {
    int outFd, errFd;
    const std::string out = capture::scratchFile("stdout", &outFd), err = capture::scratchFile("stderr", &errFd);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        fn();
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(0);
    }
    close(outFd);
    close(errFd);
    int wait = 0;
    Captured c;
    if (child > 0 && waitpid(child, &wait, 0) == child) c.status = capture::statusOf(wait);
    capture::collect(c, out, err);
    return c;
}

// For ASSERT_TRUE and EXPECT_TRUE: the run ended with status 0; else its status and
// what it printed.
inline testing::AssertionResult succeeded(const Captured& c) {
    if (c.status == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "status " << c.status << "\n" << c.out << c.err;
}

// A command and what it printed, for a failure message.
inline std::string shown(const std::string& command, const Captured& c) {
    return command + "\nstatus " + std::to_string(c.status) + "\n" + c.out + c.err;
}

}  // namespace testsupport
