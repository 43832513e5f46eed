// treebuild: merges the runs' suffix arrays of a data set into one order of all
// suffixes and builds the suffix trees from it, or writes the merged arrays (-a).
#include "toolkit/run.h"
#include "treebuild/suffix_tree.h"
#include "treebuild/tree_state.h"
#include "treebuild/treebuild.h"

int main(int argc, char** argv) {
    commandEcho(argc, argv);
    BuildSettings settings;
    parseOptions(argc, argv, settings);
    echoOptions(settings);
    BuildState build;
    buildPaths(settings, build);
    if (settings.partName) usePartPaths(settings, build);
    if (settings.joinParts) {
        joinParts(settings, build);
        return 0;
    }
    build.startCpuMs = cpuMs();
    build.startMs = msClock();
    readInputCatalogues(settings, build);
    sizeBuffers(settings, build);
    SuffixStreams streams;
    if (settings.rangeCount) {
        openStreams(settings, build, streams);
        printKeyRanges(settings, streams);
        return 0;
    }
    const KeyRange range = settings.keyRange ? parseKeyRange(settings.keyRange) : KeyRange{};
    loadPackedInputs(build);
    if (settings.useFPs) openStreamFiles(build, streams);
    openDividers(build);
    openStreams(settings, build, streams);
    if (settings.keyRange) sliceStreams(range, settings, streams);
    MergeState merge;
    TreeState tree;
    ArrayOutput array;
    setUpMerge(settings, build, streams, merge, tree, array);
    // SS and NS: the bytes of a suffix record and of a node record.
    if (!gRun.quiet)
        note("in buff: %d suffixes, out buff: %d nodes, SS=%u NS=%u,  real %d ms\n",
             static_cast<int>(build.bufferRecords), build.maxNodes, 16u, 12u, msClock() - build.startMs);
    runMerge(settings, build, streams, merge, tree, array);
    closeStreamFiles(streams);
    closeDividers(build);
    writeTreeChecksums(build);
    // Only now are the trees (or arrays), the dividers and their checksums in place.
    if (settings.removeRuns) removeRunFiles(build, streams);
    printClosingStatistics(build);
    return 0;
}
