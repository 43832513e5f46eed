// treebuild: merges the runs' suffix arrays of a data set into one order of all
// suffixes and builds the suffix trees from it, or writes the merged arrays (-a).
#include "toolkit/run.h"
#include "treebuild/suffix_tree.h"
#include "treebuild/treebuild.h"

int main(int argc, char** argv) {
    commandEcho(argc, argv);
    parseOptions(argc, argv);
    echoOptions();
    buildPaths();
    gBuild.startCpuMs = cpuMs();
    gBuild.startMs = msClock();
    readInputCatalogues();
    sizeBuffers();
    loadPackedInputs();
    if (gSettings.useFPs) openStreamFiles();
    openDividers();
    openStreams();
    setUpMerge();
    if (!gRun.quiet)
        note("in buff: %d suffixes, out buff: %d nodes, SS=%u NS=%u,  real %d ms\n",
             static_cast<int>(gBuild.bufferRecords), gBuild.maxNodes, 16u, 12u, msClock() - gBuild.startMs);
    runMerge();
    closeStreamFiles();
    closeDividers();
    printClosingStatistics();
    return 0;
}
