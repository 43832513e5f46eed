// dnatrees index DIR FILE...: runs dnaprep -N, runarray and treebuild into a folder
// beside DIR and puts it in DIR's place only when the trees and checksums are complete,
// so a build that fails leaves DIR as it was.
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "dnatrees/index.h"
#include "toolkit/run.h"

namespace {

struct IndexSettings {
    long long threads = 0;      // 0: every core
    bool keepRuns = false;
    long long memory = 0;       // bytes for the sort and merge buffers; 0: a quarter of physical memory
    bool maskLower = false;     // lower-case bases are masked like N
    long long tailChop = 0;     // dnaprep -T
};

enum { kKeepRuns = 256, kMemory, kMaskLower, kTailChop };

const std::vector<OptionSpec> kOptions = {
    {"threads", 'j', "N", "threads for the sort and the trees (default: every core)"},
    {"memory", kMemory, "SIZE", "bound for the sort and merge buffers, e.g. 800M or 4G (default: a quarter of memory)"},
    {"keep-runs", kKeepRuns, nullptr, "keep the sorted runs (by default removed once the trees are complete)"},
    {"mask-lower", kMaskLower, nullptr, "treat lower-case bases (soft-masked repeats) as N"},
    {"tail-chop", kTailChop, "N", "shorten a run of one base of at least N at a sequence's end to one base"},
    {"quiet", 'q', nullptr, "print nothing but errors"},
};

const Subcommand kCommand = {
    "index", "DIR FILE...",
    "Build the data set DIR from FASTA or FASTQ files (plain or gzip; - reads standard input).",
    "DIR is created; a data set already there is replaced only once the new one is complete,\n"
    "and a build that fails leaves DIR as it was. Bases other than A, C, G, T (N runs, IUPAC\n"
    "codes) are left out of the trees; positions are reported in the files' own coordinates.\n"};

// The folder being built, removed when the run ends before it took DIR's place.
std::string gBuilding;

void removeTree(const std::string& path) {
    if (path.empty()) return;
    nftw(path.c_str(), [](const char* p, const struct stat*, int, FTW*) { return remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

void removeBuilding() { removeTree(gBuilding); }

void onSignal(int sig) {
    removeBuilding();
    signal(sig, SIG_DFL);
    raise(sig);
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool isEmptyDirectory(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (!d) return false;
    int entries = 0;
    while (dirent* e = readdir(d)) entries += strcmp(e->d_name, ".") && strcmp(e->d_name, "..");
    closedir(d);
    return entries == 0;
}

long long memoryValue(const char* value) {
    char* end = nullptr;
    errno = 0;
    double n = strtod(value, &end);
    double unit = 1;
    if (end && *end) {
        switch (*end == 0 ? 0 : toupper(static_cast<unsigned char>(*end))) {
            case 'K': unit = 1024.0; break;
            case 'M': unit = 1024.0 * 1024; break;
            case 'G': unit = 1024.0 * 1024 * 1024; break;
            default: unit = 0;
        }
        if (end[1] && strcmp(end + 1, "B") && strcmp(end + 1, "iB")) unit = 0;
    }
    if (errno || end == value || unit == 0 || n * unit < 1 << 20)
        usageError("index", "--memory needs a size of at least 1M such as 800M or 4G, not '%s'", value);
    return static_cast<long long>(n * unit);
}

double seconds(int startMs) { return (msClock() - startMs) / 1000.0; }

// One stage; a stage that fails has printed its own "## ERROR: " line.
void runStep(const char* what, const std::vector<std::string>& args, bool progress, int stdinFd = -1) {
    int start = msClock();
    int status = runStage(args, stdinFd, -2);
    if (status) fatal("%s failed (%s exited with status %d); %s is unchanged\n", what, args[0].c_str(), status,
                      "the data set directory");
    if (progress) fprintf(stderr, "dnatrees index: %s done in %.1f s\n", what, seconds(start));
}

// dnaprep: files on disk that are FASTA are read by it directly (the names catalogue
// then names them); FASTQ and standard input come through a pipe from feedInputs.
void prepare(const std::vector<std::string>& files, const IndexSettings& s, const std::string& stageDir,
             bool progress) {
    bool direct = true;
    for (const std::string& f : files) {
        if (f == "-") {
            direct = false;
            continue;
        }
        InputKind kind = inputKind(f);
        if (kind == kOther) fatal("%s is neither FASTA (a '>' line first) nor FASTQ ('@' first)\n", f.c_str());
        if (kind == kFastq) direct = false;
    }
    std::vector<std::string> args = {"dnaprep", "", stageDir, kDataSetPrefix, "-q", "-N"};
    if (s.maskLower) args.push_back("-t");
    if (s.tailChop) args.insert(args.end(), {"-T", std::to_string(s.tailChop)});
    if (direct) {
        args.insert(args.end(), files.begin(), files.end());
        runStep("reading the sequences", args, progress);
        return;
    }
    args.push_back("-");
    int pipeFds[2];
    makePipe(pipeFds);
    int start = msClock();
    Stage dnaprep = startStage(args, pipeFds[0], -2);
    close(pipeFds[0]);
    signal(SIGPIPE, SIG_IGN);
    feedInputs(files, pipeFds[1]);
    close(pipeFds[1]);
    int status = waitStage(dnaprep);
    if (status) fatal("reading the sequences failed (dnaprep exited with status %d); the data set directory is "
                      "unchanged\n", status);
    if (progress) fprintf(stderr, "dnatrees index: reading the sequences done in %.1f s\n", seconds(start));
}

std::string joined(const std::vector<std::string>& items, const char* between) {
    std::string text;
    for (const std::string& i : items) text += (text.empty() ? "" : between) + i;
    return text;
}

// The options the data set was built with, for dnatrees info: "option<TAB>value" lines.
void writeBuildRecord(const std::string& folder, const std::vector<std::string>& files, const IndexSettings& s) {
    std::string path = folder + "/build.tsv";
    FILE* f = fopen(path.c_str(), "w");
    if (!f) fatal("can't create %s: %s\n", path.c_str(), strerror(errno));
    fprintf(f, "option\tvalue\nversion\t%s\nfiles\t%s\nthreads\t%lld\nmemory\t%lld\nkeep_runs\t%s\n"
               "mask_lower\t%s\ntail_chop\t%lld\n",
            dnatreesVersion(), tsvField(joined(files, " ")).c_str(), s.threads, s.memory, s.keepRuns ? "yes" : "no",
            s.maskLower ? "yes" : "no", s.tailChop);
    if (fclose(f) != 0) fatal("can't write %s\n", path.c_str());
}

// Puts the finished folder in DIR's place; an old data set there goes only then.
void replaceTarget(const std::string& target, const std::string& built) {
    std::string old;
    if (exists(target)) {
        if (isEmptyDirectory(target)) {
            if (rmdir(target.c_str()) != 0) fatal("can't replace %s: %s\n", target.c_str(), strerror(errno));
        } else {
            old = built + ".old";
            if (rename(target.c_str(), old.c_str()) != 0)
                fatal("can't move the old data set %s aside: %s\n", target.c_str(), strerror(errno));
        }
    }
    if (rename(built.c_str(), target.c_str()) != 0) {
        int error = errno;
        if (!old.empty()) rename(old.c_str(), target.c_str());
        fatal("can't move the new data set into %s: %s\n", target.c_str(), strerror(error));
    }
    gBuilding.clear();
    removeTree(old);
}

void printSummary(const DataSet& ds, int startMs) {
    int64_t bases = 0, bytes = 0;
    std::vector<std::string> empty;
    for (const SequenceName& n : ds.names) {
        bases += n.filteredLength;
        if (n.filteredLength == 0) empty.push_back(n.name);
    }
    for (const DataSetFile& f : listDataSetFiles(ds)) bytes += f.bytes;
    fprintf(stderr, "dnatrees index: %s: %zu sequences, %lld bases, %d trees, %.1f MB on disk, %.1f s\n",
            ds.dir.c_str(), ds.names.size(), static_cast<long long>(bases), treeCount(ds), bytes / 1e6,
            seconds(startMs));
    if (!empty.empty())
        fprintf(stderr, "dnatrees index: %zu sequences have no base after filtering (kept, never found): %s\n",
                empty.size(), joined(empty, ", ").c_str());
}

}  // namespace

int runIndex(int argc, char** argv) {
    IndexSettings s;
    std::vector<std::string> args = parseOptions(argc, argv, kCommand, kOptions, [&](int key, const char* value) {
        switch (key) {
            case 'j': s.threads = numberValue("index", "--threads", value, 0, 1024); break;
            case kMemory: s.memory = memoryValue(value); break;
            case kKeepRuns: s.keepRuns = true; break;
            case kMaskLower: s.maskLower = true; break;
            case kTailChop: s.tailChop = numberValue("index", "--tail-chop", value, 2, 1 << 30); break;
            case 'q': gQuiet = true; break;
        }
    });
    if (args.size() < 2) usageError("index", "give the data set directory and at least one FASTA or FASTQ file");
    const int startMs = msClock();
    const std::string target = trimSlashes(args[0]);
    const std::vector<std::string> files(args.begin() + 1, args.end());
    if (target.empty()) usageError("index", "the data set directory is empty text");
    struct stat st;
    if (lstat(target.c_str(), &st) == 0 &&
        (!S_ISDIR(st.st_mode) || (!isEmptyDirectory(target) && !exists(target + "/" + kDataSetPrefix + ".ST"))))
        fatal("%s exists and holds no data set: give a new or empty directory, or a data set to replace\n",
              args[0].c_str());
    if (!s.memory) s.memory = static_cast<long long>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE) / 4;
    const int threads = s.threads ? static_cast<int>(s.threads) : static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));

    // The new data set grows in a hidden folder beside DIR (the same file system, so
    // that one rename puts it in place).
    const size_t cut = target.find_last_of('/');
    const std::string parent = cut == std::string::npos ? "" : target.substr(0, cut + 1);
    const std::string leaf = cut == std::string::npos ? target : target.substr(cut + 1);
    gBuilding = parent + "." + leaf + ".building." + std::to_string(getpid());
    atexit(removeBuilding);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, onSignal);
    if (mkdir(gBuilding.c_str(), 0755) != 0) fatal("can't create %s: %s\n", gBuilding.c_str(), strerror(errno));
    const std::string stageDir = gBuilding + "/";
    const bool progress = !gQuiet && isatty(2);

    prepare(files, s, stageDir, progress);
    int64_t bases = 0;
    for (const SequenceName& n : readNames(stageDir + kDataSetPrefix + ".ST/" + kDataSetPrefix))
        bases += n.filteredLength;
    if (bases == 0)
        fatal("no base (A, C, G or T) in %s: nothing to index; %s is unchanged\n", joined(files, ", ").c_str(),
              args[0].c_str());

    // Runs of about 9 bytes a suffix each (text, suffix and LCP words), as many at
    // once as threads; the merge's suffix buffers take the same bound.
    const long long runSize = std::max(65536LL, std::min(200000000LL, s.memory / 9 / threads));
    runStep("sorting the suffixes", {"runarray", stageDir, kDataSetPrefix, "-q", "-j", std::to_string(threads), "-r",
                                     std::to_string(runSize)},
            progress);
    std::vector<std::string> build = {"treebuild", stageDir, kDataSetPrefix, "-q", "-j", std::to_string(threads),
                                      "-m", std::to_string(std::min(s.memory, 2000000000LL))};
    if (!s.keepRuns) build.push_back("-R");
    runStep("building the trees", build, progress);

    s.threads = threads;
    writeBuildRecord(gBuilding, files, s);
    replaceTarget(target, gBuilding);
    if (!gQuiet) printSummary(openDataSet(target, kNeedTrees | kNeedNames, false), startMs);
    return 0;
}
