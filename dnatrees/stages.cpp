// Running the stage programs: they are installed in the same folder as dnatrees (the
// build puts all five in bin/, cmake --install in <prefix>/bin), so the folder of the
// running binary is where they are looked for, whatever PATH holds.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "dnatrees/dnatrees.h"
#include "toolkit/run.h"

const std::string& programDir() {
    static const std::string dir = [] {
        char path[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        if (n <= 0) fatal("can't find the folder of the dnatrees program (/proc/self/exe: %s)\n", strerror(errno));
        std::string p(path, static_cast<size_t>(n));
        return p.substr(0, p.find_last_of('/') + 1);
    }();
    return dir;
}

Stage startStage(const std::vector<std::string>& args, int stdinFd, int stdoutFd) {
    const std::string program = programDir() + args[0];
    if (access(program.c_str(), X_OK) != 0)
        fatal("can't run %s (%s): install dnatrees with its four stage programs in one folder\n", program.c_str(),
              strerror(errno));
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    fflush(stdout);
    fflush(stderr);
    Stage stage;
    stage.messages = tmpfile();
    if (!stage.messages) fatal("can't make a temporary file for the messages of %s: %s\n", program.c_str(), strerror(errno));
    pid_t pid = fork();
    if (pid < 0) fatal("can't start %s: %s\n", program.c_str(), strerror(errno));
    if (pid == 0) {
        if (stdinFd >= 0) dup2(stdinFd, 0);
        if (stdoutFd == -2) stdoutFd = open("/dev/null", O_WRONLY);
        if (stdoutFd >= 0) dup2(stdoutFd, 1);
        dup2(fileno(stage.messages), 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    stage.pid = pid;
    return stage;
}

int waitStage(Stage& stage) {
    int status = 0;
    while (waitpid(stage.pid, &status, 0) < 0)
        if (errno != EINTR) fatal("can't wait for a stage program: %s\n", strerror(errno));
    rewind(stage.messages);
    char line[8192];
    while (fgets(line, sizeof line, stage.messages))
        if (strncmp(line, "# Command(", 10) && strncmp(line, "# Version: ", 11) && strncmp(line, "# running unverified: ", 22))
            fputs(line, stderr);
    fclose(stage.messages);
    stage.messages = nullptr;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

int runStage(const std::vector<std::string>& args, int stdinFd, int stdoutFd) {
    Stage stage = startStage(args, stdinFd, stdoutFd);
    return waitStage(stage);
}

void openRows(RowWriter& w, const char* path) {
    if (!path || !strcmp(path, "-")) return;
    w.path = path;
    w.out = fopen(path, "w");
    if (!w.out) fatal("can't create %s: %s\n", path, strerror(errno));
}

void closeRows(RowWriter& w) {
    bool failed = fflush(w.out) != 0 || ferror(w.out);
    if (w.out != stdout && fclose(w.out) != 0) failed = true;
    w.out = stdout;
    if (failed) fatal("can't write the results to %s\n", w.path.empty() ? "standard output" : w.path.c_str());
}

void makePipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) fatal("can't make a pipe: %s\n", strerror(errno));
}
