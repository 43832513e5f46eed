// The process-wide settings and run state of treebuild.
#include "treebuild/treebuild.h"

BuildSettings gSettings;
BuildState gBuild;

void addCurrentToTotals() {
    MergeCounters& t = gBuild.totals.sums;
    const MergeCounters& c = gBuild.current;
    t.suffixes += c.suffixes;
    t.listSteps += c.listSteps;
    t.comparisons += c.comparisons;
    t.longComparisons += c.longComparisons;
    t.resumedComparisons += c.resumedComparisons;
    t.firstWordDecisions += c.firstWordDecisions;
    t.prefixDecisions += c.prefixDecisions;
    t.packedWords += c.packedWords;
    t.lcpSum += c.lcpSum;
    t.lcpCount += c.lcpCount;
    gBuild.current = MergeCounters{};
}
