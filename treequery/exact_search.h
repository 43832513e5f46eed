// Exact search of a group of patterns at once (read mode): every tree is opened once
// for all the patterns whose keys select it, and reads only the records their
// descents reach. Results and diagnostic lines are kept per pattern, so that the
// caller reports them in pattern order exactly as one search after the other would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "treequery/treequery.h"

struct ExactResult {
    std::vector<Occurrence> kept;   // the first maxNum occurrences in collection order
    int count = 0;                  // all occurrences
    std::vector<uint32_t> inputs;   // input bit vector (vectorWords words)
    int visited = 0;                // trees visited
    std::vector<std::string> notes; // diagnostic lines, as note() would print them
};

// Searches every pattern of `patterns` (a, c, g, t in either case) into `results`
// (one per pattern, cleared here).
void exactSearchGroup(QueryRun& q, const std::vector<std::string>& patterns, std::vector<ExactResult>& results);
