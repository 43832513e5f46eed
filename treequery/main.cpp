// treequery <inputdir> <inputfileprefix> [-options...]: finds patterns in a data
// set's suffix trees (-p), or walks every tree for the longest repeats.
#include <cstdio>

#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treequery/tree_store.h"
#include "treequery/treequery.h"

namespace {

void printEquivalenceTotals() {
    if (!gSettings.equiv || gRun.quiet) return;
    note("Equivalence classes: %d with %d redundant members, max %d\n", gQuery.equivClasses, gQuery.equivRedundant,
         gQuery.equivLargest + 1);
    note("Containment: %d inputs\n", gQuery.contained);
}

// A result table that did not reach its file in full must not pass as good.
void closeOutput() {
    FILE* out = gQuery.out;
    bool failed = fflush(out) != 0 || ferror(out);
    if (out != stdout && fclose(out) != 0) failed = true;
    if (failed) fatal("can't write the results to %s\n", gSettings.outName ? gSettings.outName : "standard output");
}

void printStatistics() {
    if (gRun.quiet) return;
    int cpu = cpuMs() - gQuery.startCpuMs;
    note("treequery: mem %llu bytes, %ld PFs, real %d ms, file %d ms, time %d ms\n", memoryTotal(), majorFaults(),
         msClock() - gQuery.startMs, readTimeMs() + writeTimeMs(), cpu);
}

}  // namespace

int main(int argc, char** argv) {
    commandEcho(argc, argv);
    if (argc < 3) return printQueryUsage(argv[0]);
    scanOptions(argc, argv);
    echoSettings();
    makePaths();
    openOutput();

    const bool patternMode = gSettings.patternArg != nullptr;
    parsePatterns();
    applyIndexOrigin();
    readCatalogue();
    if (patternMode) {
        checkPatternTriples();
        checkExactPatterns();
    } else {
        buildSetTable();
    }

    gQuery.startMs = msClock();
    gQuery.startCpuMs = cpuMs();
    readDividers();
    if (gSettings.printdivs) printDividers();

    if (patternMode) {
        searchPatterns();
    } else {
        runTraversal();
        releaseTree();
        printEquivalenceTotals();
    }
    closeOutput();
    printStatistics();
    return 0;
}
