// The run totals: the counters of each tree (or array block) added up.
#include <cstdio>

#include "treebuild/treebuild.h"

void addCurrentToTotals(BuildState& build) {
    MergeCounters& t = build.totals.sums;
    const MergeCounters& c = build.current;
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
    build.current = MergeCounters{};
}

