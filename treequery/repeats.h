// Maximal repeats of a collection with every copy, on one strand or on both.
//
// A copy of a string w is an interval of an input's filtered bases that reads w
// (strand '+') or the reverse complement of w (strand '-', with inverted repeats
// only). A repeat is a string with at least two copies that is maximal: it cannot be
// extended by one base on the left in all its copies at once, nor on the right (an
// input's start and end extend nothing). w and its reverse complement are one repeat,
// told as the string of its first copy. So a repeat nested inside a longer one with
// the same copies is never listed. Maximality is judged on the filtered bases; a copy
// that spans a removed stretch (an N run) is then left out of the list and counted,
// and a repeat left with fewer than two copies is not listed.
#pragma once

#include <cstdint>
#include <vector>

#include "treequery/treequery.h"

struct RepeatSettings {
    int64_t minLength = 1;  // shortest repeat listed, in bases (at least 1)
    int top = 20;           // the longest `top` repeats; 0 lists every one
    bool inverted = false;  // copies on both strands
    bool between = false;   // only repeats with copies in at least two inputs
};

struct RepeatCopy {
    int input;
    int64_t start;  // filtered offset of the copy's first base
    bool reverse;   // strand '-'
};

struct Repeat {
    int64_t length;                  // bases
    std::vector<RepeatCopy> copies;  // by input and start; the first on '+'
    int64_t leftOut = 0;             // copies spanning a removed stretch
};

// The repeats in order of decreasing length, then of their first copy. q is open
// (catalogue, dividers; q.maps when the removed stretches are to be checked).
//
// One strand: every tree is walked once; a node is a repeat when it branches at a whole
// base (two children, or a child and suffixes ending there) and its leaves' preceding
// bases differ. Strings whose suffixes lie in two neighbouring trees are searched
// across all trees and checked against the texts. Both strands: those repeats and the
// strings of maximal pairs between a text and a reverse complement, found by seeds of
// ceil(l/2) bases every l - ceil(l/2) + 1 bases of every reverse complement (l: the
// shortest length that can still be listed) and extended along the texts; every
// repeat's copies are then searched as one exact pattern on each strand.
// Time: the walk visits every record once (O(n) for n bases); the inverted search
// costs O(n / l) descents of l/2 bases plus the extensions of its seeds' hits.
// Extra memory: the texts (n bytes), one tree's leaves and the repeats kept.
std::vector<Repeat> findRepeats(QueryRun& q, const RepeatSettings& r);
