// runarray: sorts the suffixes of a data set's inputs in runs and writes the prefixed
// suffix arrays, the LCP arrays (-Z) and the partitions catalogue.
#include <cstdio>

#include "runarray/runarray.h"
#include "toolkit/run.h"

int main(int argc, char** argv) {
    commandEcho(argc, argv);
    if (argc < 3) return printRunarrayUsage(argv[0]);
    SortSettings settings;
    if (!scanOptions(argc, argv, settings)) {
        printRunarrayUsage(argv[0]);
        fatal("missing main parameter %s\n", settings.inputDir ? "<prefix>" : "<inputdir>");
    }
    echoOptions(settings);

    DataSetPaths paths = buildPaths(settings);
    int startMs = msClock();
    int startCpu = cpuMs();

    InputCatalogue inputs = readInputCatalogue(paths);
    if (settings.printPlan) {
        printRunPlan(settings, inputs);
        return 0;
    }
    if (settings.joinRuns) {
        joinRunPieces(settings, paths, inputs);
        return 0;
    }
    SortTotals totals;
    sortAllRuns(settings, paths, inputs, totals);
    if (settings.onlyRuns) {
        writeRunPieces(settings, paths, inputs, totals);
    } else {
        writePartitions(paths, totals.runInputs, totals.sums);
        writeRunChecksums(paths, totals.sums);
    }

    if (!gRun.quiet) {
        int runs = (int)totals.runInputs.size();
        int cpu = cpuMs();
        note("sort: %d %.0f, %d run%s, %d flushes, mem %llu bytes, %ld PFs, real %d, r/w %d/%d, time %d ms\n",
             inputs.count, totals.suffixes, runs, runs == 1 ? "" : "s", totals.flushes, memoryTotal(),
             majorFaults(), msClock() - startMs, readTimeMs(), writeTimeMs(), cpu - startCpu);
    }
    return 0;
}
