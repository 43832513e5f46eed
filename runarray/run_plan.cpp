// The runs of one plan sorted by separate processes: the plan itself (-P), a process
// that sorts runs i..j of it (-O) and leaves each run's checksums in a file of its
// own, and the join (-G) that writes the partitions catalogue and the runs' checksum
// file from them once every run is sorted. The run files are the ones one process
// writes, and so, entry for entry, are the two files of the join.
// Time O(runs) besides the sorts; the join reads only the runs' checksum files.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runarray/runarray.h"
#include "toolkit/data_set.h"
#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

namespace {

std::vector<RunPlan> planOf(const SortSettings& settings, const InputCatalogue& inputs) {
    return planRuns(settings, inputs, computeMaxSize(settings, inputs));
}

// A run number of -O: digits only.
bool readRun(const char* text, const char* end, int& run) {
    if (text == end || end - text > 9) return false;
    run = 0;
    for (const char* c = text; c < end; c++) {
        if (*c < '0' || *c > '9') return false;
        run = run * 10 + (*c - '0');
    }
    return true;
}

}  // namespace

RunSpan selectedRuns(const SortSettings& settings, int runs) {
    if (!settings.onlyRuns) return RunSpan{0, runs};
    const char* text = settings.onlyRuns;
    const char* dash = strchr(text, '-');
    const char* end = text + strlen(text);
    int first = 0, last = 0;
    bool ok = readRun(text, dash ? dash : end, first) && (dash ? readRun(dash + 1, end, last) : true);
    if (!dash) last = first;
    if (!ok)
        fatal("runs \"%s\" (-O) are not <i>-<j> or <i>, run numbers from 0\n", text);
    if (first > last || last >= runs)
        fatal("runs \"%s\" (-O): the plan has runs 0 to %d (runarray -P prints it)\n", text, runs - 1);
    return RunSpan{first, last + 1};
}

void printRunPlan(const SortSettings& settings, const InputCatalogue& inputs) {
    printf("run\tfirst_input\tinputs\tsuffixes\tbytes\n");
    const std::vector<RunPlan> plans = planOf(settings, inputs);
    for (size_t r = 0; r < plans.size(); r++) {
        const RunPlan& plan = plans[r];
        const int len = plan.end - plan.first;
        printf("%zu\t%d\t%d\t%d\t%lld\n", r, plan.first, len, plan.count - len,
               (long long)runMemory(settings, inputs, 1, plan.count + 1));
    }
    if (fflush(stdout) != 0 || ferror(stdout)) fatal("can't write the run plan to standard output\n");
}

std::string runPieceSums(const DataSetPaths& paths, int run) { return dataSetPath(paths.base, FileKind::runSums, run); }

void writeRunPieces(const SortSettings& settings, const DataSetPaths& paths, const InputCatalogue& inputs,
                    const SortTotals& totals) {
    const RunSpan span = selectedRuns(settings, (int)planOf(settings, inputs).size());
    size_t at = 0;
    for (int r = span.first; r < span.end; r++) {
        const int count = totals.runSums[(size_t)(r - span.first)];
        std::vector<ChecksumEntry> own(totals.sums.begin() + (long)at, totals.sums.begin() + (long)at + count);
        at += (size_t)count;
        writeChecksumFile(runPieceSums(paths, r), own);
    }
}

void removeRunPieces(const DataSetPaths& paths, int from) {
    for (int run = from; remove(runPieceSums(paths, run).c_str()) == 0; run++) {
    }
}

void joinRunPieces(const SortSettings& settings, const DataSetPaths& paths, const InputCatalogue& inputs) {
    const std::vector<RunPlan> plans = planOf(settings, inputs);
    std::vector<ChecksumEntry> sums;
    std::vector<int32_t> runInputs;
    for (size_t r = 0; r < plans.size(); r++) {
        const std::string piece = runPieceSums(paths, (int)r);
        ChecksumFile own;
        if (!own.load(piece))
            fatal("run %zu is not sorted (no %s): sort it with -O %zu and the options of the plan\n", r,
                  piece.c_str(), r);
        for (const ChecksumFile::Item& item : own.items) {
            const std::string file = own.pathOf(item);
            if (fileSizeByStat(file.c_str()) != (int64_t)item.bytes)
                fatal("run %zu: %s is missing or not the file its checksum describes\n", r, file.c_str());
            sums.push_back(listedEntry(own, item, file));
        }
        runInputs.push_back(plans[r].end - plans[r].first);
    }
    // Runs past the plan's last are left from another plan.
    for (int run = (int)plans.size(); remove(dataSetPath(paths.base, FileKind::runs, run).c_str()) == 0; run++) {
    }
    writePartitions(paths, runInputs, sums);
    writeRunChecksums(paths, sums);
    removeRunPieces(paths, 0);
    if (!gRun.quiet) note("joined %zu run%s\n", plans.size(), plans.size() == 1 ? "" : "s");
}
