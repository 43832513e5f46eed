// Redundant inputs on both strands: every input that is identical to another input,
// or contained in one, as given or as its reverse complement.
//
// Input A (a bases after filtering, a > 0) lies in input B (B != A) at filtered offset
// s on strand '+' when B's bases s .. s+a-1 are A's, letter case aside, and on strand
// '-' when they are the reverse complement of A's. Where the filter removed stretches
// (N runs, IUPAC codes), A lies there only when the stretches strictly inside B's
// interval are A's own interior stretches, at the same places and of the same lengths
// (mirrored on '-'): a slice of B that spans an N run of B is not A unless A has that
// run too. Stretches at the ends of A are not compared.
//
// B is a candidate for A when it is longer, or as long and earlier in input order
// (then A is identical to B). A's representative is its longest candidate, ties by
// input order; its occurrence there is the first on '+', else the first on '-'.
#pragma once

#include <cstdint>
#include <vector>

#include "treequery/treequery.h"

struct RedundantRow {
    int input;       // the redundant input A
    int other;       // the candidate B it lies in
    bool identical;  // A and B have as many bases
    bool reverse;    // A lies in B's reverse complement (strand '-')
    int64_t start;   // filtered offset in B of the first base of the occurrence
};

// One row per redundant input naming its representative (all: one row per candidate,
// the representative's first), in input order. q is open: catalogue, dividers and,
// when the coordinate map is loaded (q.maps), the removed stretches are compared.
// Each input is searched through the trees as one exact pattern on each strand.
// Time: O(n) descent and text steps for n bases plus the occurrences found; extra
// memory: every input's text, one batch's reverse complements and their occurrences.
std::vector<RedundantRow> findRedundant(QueryRun& q, bool all);
