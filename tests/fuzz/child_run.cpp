#include "child_run.h"

#include <poll.h>
#include <sanitizer/common_interface_defs.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Bounds of the inline coverage counters of the whole executable (the linker defines
// them for the counters' section; null when the build has none).
extern "C" {
__attribute__((weak)) extern uint8_t __start___sancov_cntrs[];
__attribute__((weak)) extern uint8_t __stop___sancov_cntrs[];
}

namespace {

size_t counterBytes() {
    if (!__start___sancov_cntrs || !__stop___sancov_cntrs) return 0;
    return (size_t)(__stop___sancov_cntrs - __start___sancov_cntrs);
}

// Shared with every child: the child's counters at its end.
uint8_t* sharedCounters() {
    static uint8_t* shared = [] {
        size_t n = counterBytes();
        if (n == 0) return (uint8_t*)nullptr;
        void* p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        return p == MAP_FAILED ? (uint8_t*)nullptr : (uint8_t*)p;
    }();
    return shared;
}

void handCountersBack() {
    if (uint8_t* shared = sharedCounters()) memcpy(shared, __start___sancov_cntrs, counterBytes());
}

// Runs first of the exit handlers (registered last): the fuzzer's own handler would
// take an exit from the program for an exit of the fuzzer.
void childExit(int status, void*) {
    fflush(nullptr);
    handCountersBack();
    _exit(status);
}

void childDeath() {
    handCountersBack();
    _exit(kSanitizerExit);
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    off_t at = 0;
    for (;;) {
        ssize_t got = pread(fd, buffer, sizeof buffer, at);
        if (got <= 0) break;
        text.append(buffer, (size_t)got);
        at += got;
    }
    return text;
}

[[noreturn]] void childMain(ProgramEntry entry, const std::vector<std::string>& args, int outFd, int errFd) {
    dup2(outFd, 1);
    dup2(errFd, 2);
    // The fuzzer's own handlers must not treat the child's end as the fuzzer's.
    for (int s : {SIGABRT, SIGINT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGXFSZ}) signal(s, SIG_DFL);
    __sanitizer_set_death_callback(childDeath);
    on_exit(childExit, nullptr);
    std::vector<std::string> copies(args);
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    exit(entry((int)copies.size(), argv.data()));
}

}  // namespace

ChildOutcome runProgram(ProgramEntry entry, const std::vector<std::string>& args, int timeoutMs) {
    ChildOutcome outcome;
    uint8_t* shared = sharedCounters();
    if (shared) memset(shared, 0, counterBytes());
    FILE* outFile = tmpfile();
    FILE* errFile = tmpfile();
    int alive[2];
    if (!outFile || !errFile || pipe(alive) != 0) {
        perror("fuzz: child set-up");
        abort();
    }
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        perror("fuzz: fork");
        abort();
    }
    if (pid == 0) {
        close(alive[0]);  // the write end closes when the child ends
        childMain(entry, args, fileno(outFile), fileno(errFile));
    }
    close(alive[1]);
    pollfd watch{alive[0], POLLIN, 0};
    int ready;
    do ready = poll(&watch, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        kill(pid, SIGKILL);
        outcome.timedOut = true;
    }
    close(alive[0]);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) outcome.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) outcome.signal = WTERMSIG(wstatus);
    outcome.out = readAll(fileno(outFile));
    outcome.err = readAll(fileno(errFile));
    fclose(outFile);
    fclose(errFile);
    if (shared && !outcome.timedOut) {
        uint8_t* own = __start___sancov_cntrs;
        for (size_t i = 0, n = counterBytes(); i < n; i++)
            if (shared[i] > own[i]) own[i] = shared[i];
    }
    return outcome;
}

std::string faultOf(const ChildOutcome& o) {
    if (o.timedOut) return "hang: no end within the time limit";
    if (o.signal) return "ended by signal " + std::to_string(o.signal) + " (" + strsignal(o.signal) + ")";
    if (o.status == kSanitizerExit || o.err.find("Sanitizer") != std::string::npos ||
        o.err.find("runtime error:") != std::string::npos)
        return "sanitizer report";
    // 1 is every program's failure status; 255 the Hamming search's own, which also
    // writes its message on standard output.
    if (o.status != 0 && o.status != 1 && o.status != 255) return "exit status " + std::to_string(o.status);
    if (o.status != 0 && o.err.find("## ERROR: ") == std::string::npos)
        return "exit status " + std::to_string(o.status) + " without a \"## ERROR: \" line on standard error";
    return "";
}

void reportFault(const std::string& fault, const std::vector<std::string>& args, const ChildOutcome& o) {
    fprintf(stderr, "\n==== fuzz fault: %s\n==== command:", fault.c_str());
    for (const std::string& a : args) fprintf(stderr, " %s", a.c_str());
    fprintf(stderr, "\n==== status %d, signal %d\n==== stdout:\n%s\n==== stderr:\n%s\n", o.status, o.signal,
            o.out.c_str(), o.err.c_str());
    abort();
}
