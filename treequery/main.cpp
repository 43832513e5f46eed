// treequery <inputdir> <inputfileprefix> [-options...]: finds patterns in a data
// set's suffix trees (-p), or walks every tree for the longest repeats.
#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treequery/tree_store.h"
#include "treequery/treequery.h"
#include "treequery/user_terms.h"
#include "treequery/workers.h"

namespace {

void printEquivalenceTotals(const QuerySettings& s, const QueryRun& q) {
    if (!s.equiv || gRun.quiet) return;
    note("Equivalence classes: %d with %d redundant members, max %d\n", q.equivClasses, q.equivRedundant,
         q.equivLargest + 1);
    note("Containment: %d inputs\n", q.contained);
}

// A result table that did not reach its file in full must not pass as good.
void closeOutput(const QuerySettings& s, QueryRun& q) {
    FILE* out = q.out;
    bool failed = fflush(out) != 0 || ferror(out);
    if (out != stdout && fclose(out) != 0) failed = true;
    if (failed) fatal("can't write the results to %s\n", s.outName ? s.outName : "standard output");
}

void printStatistics(const QueryRun& q) {
    if (gRun.quiet) return;
    int cpu = cpuMs() - q.startCpuMs;
    note("treequery: mem %llu bytes, %ld PFs, real %d ms, file %d ms, time %d ms\n", memoryTotal(), majorFaults(),
         msClock() - q.startMs, readTimeMs() + writeTimeMs(), cpu);
}

// The checksum files of the trees and the texts, loaded once: every block read from
// then on is verified on first use. A data set built without them is read unverified.
void loadChecksums(QueryRun& q) {
    std::vector<std::string> missing = loadTextSums(q.texts);
    if (!loadTreeSums(q.store)) missing.insert(missing.begin(), treeSumsPath(q.store));
    verifyCatalogue(q);
    if (missing.empty()) return;
    std::string list;
    for (const std::string& path : missing) list += (list.empty() ? "" : ", ") + path;
    noteUnverified(list);
    if (gRun.verbose) note("Reading unverified data: no checksum file %s\n", list.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    commandEcho(argc, argv);
    if (argc < 3) return printQueryUsage(argv[0]);
    QuerySettings settings{};
    scanOptions(argc, argv, settings);
    const int threads = queryThreads(settings);
    checkUserTerms(settings);
    echoSettings(settings);
    QueryRun run;
    run.settings = &settings;
    run.store.catalogue = &run.catalogue;
    run.store.mapped = settings.usemmap != 0;
    run.texts.mapChecks = run.store.mapped;
    makePaths(settings, run);
    openOutput(settings, run);
    if (settings.verify) {
        int status = verifyDataSet(settings, run);
        closeOutput(settings, run);
        return status;
    }

    const bool patternMode = settings.patternArg || settings.patternFile;
    // -f and -F answer in the user's terms (user_terms.h); the tables stay as they were.
    const bool userTerms = settings.patternFile || settings.format;
    parsePatterns(settings, run);
    applyIndexOrigin(settings);
    readCatalogue(run);
    if (patternMode) {
        checkPatternTriples(run);
        if (!userTerms) checkExactPatterns(run);
    } else {
        buildSetTable(settings, run);
    }

    run.startMs = msClock();
    run.startCpuMs = cpuMs();
    loadChecksums(run);
    // After the checksums: the names and the map are verified against .stinsum.
    if (outputFormat(settings) != kFormatTables) loadFastaCoordinates(run);
    readDividers(run.store);
    if (settings.printdivs) printDividers(run.store);
    WorkerPool pool;
    if (threads > 1) {
        startWorkers(run, pool, threads);
        run.pool = &pool;
    }

    if (patternMode) {
        if (userTerms)
            searchUserPatterns(run);
        else
            searchPatterns(run);
    } else {
        runTraversal(run);
        releaseTree(run.store);
        printEquivalenceTotals(settings, run);
    }
    closeOutput(settings, run);
    printStatistics(run);
    return 0;
}
