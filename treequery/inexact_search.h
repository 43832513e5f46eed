// Search of one pattern within a Hamming distance: every occurrence that differs from
// the text in at most HD character positions, "*" matching any base at no cost.
//
// The search keeps the trees whose divider keys admit the pattern's leading characters
// within HD substitutions, walks each of them as a branch-and-bound over the branching
// bits, confirms every place where the pattern ends against the input text, collects
// the leaves below it, and prints the "Inexact Pattern Search Results" table.
// The entry, inexactSearch(), is declared in treequery.h; the pieces below are the
// search's own and are open to the tests.
#pragma once

#include <cstdint>
#include <vector>

#include "treequery/treequery.h"

// True when the Hamming search cuts patterns into pieces (-A pieces, or -U without
// -A), false when it walks each tree once with the whole pattern (-A walk, or
// neither). Both give the same occurrences.
bool usePieces(const QuerySettings& s);

// True when every character is one of a, c, g, t (either case) or "*".
bool inexactAlphabetOk(const char* pattern, int m);

// Two bit characters per pattern character, first bit first: 0 and 1 for the bits of
// a base's code (a 00, c 01, g 10, t 11, either case), 2 for both bits of a "*".
std::vector<uint8_t> pattern01(const char* pattern, int m);

// The smallest and the largest 16-character keys that the pattern's first min(m, 16)
// characters reach with at most hd substitutions ("*" may be any base); positions
// past a short pattern are 0. A character other than a base or "*" stops the run.
void patternKeyRange(const char* pattern, int m, int hd, uint32_t* minbits, uint32_t* maxbits);

// True when a tree whose suffixes run from key `low` to key `high` may hold a match:
// the two key ranges meet on the pattern's 2 * min(m, 16) leading bits.
bool treeAdmitsPattern(uint32_t low, uint32_t high, uint32_t minbits, uint32_t maxbits, int m);

// Occurrences of one search: grows from 10 by doubling; a failure to grow stops the
// run (status 255) with the search's message.
struct OccurrenceList {
    Occurrence* items = nullptr;
    int count = 0;
    int room = 0;
    OccurrenceList() = default;
    OccurrenceList(const OccurrenceList&) = delete;
    OccurrenceList& operator=(const OccurrenceList&) = delete;
    ~OccurrenceList();
    void append(int input, int position);
    // Frees the items: the list is empty again.
    void release();
    // Input first, then position, both ascending.
    void sort();
    // Keeps one of each run of equal occurrences (after sort()).
    void dropRepeats();
};

// What the walk of a tree needs to know about the pattern.
struct InexactPattern {
    const char* text;           // m characters: a, c, g, t in either case, or "*"
    int m;
    int hd;
    std::vector<uint8_t> bits;  // pattern01 of text
};

// The search of inexactSearch without its table: the alphabet check, its line, then
// inexactCollect; returns the number of trees searched.
int inexactFind(QueryRun& q, const char* pattern, int m, int hd, OccurrenceList& results);

// The "Inexact Pattern Search Results" table of a pattern's occurrences, on q.out.
void printInexactTable(const QueryRun& q, const char* pattern, int m, int hd, const OccurrenceList& results);

// Every occurrence of the pattern within HD (the search of inexactSearch without its
// lines and table), sorted by input and position; returns the number of trees searched.
int inexactCollect(QueryRun& q, const char* pattern, int m, int hd, OccurrenceList& results);

// Walks the tree loaded in q.store from its root and appends every occurrence within
// the distance, confirmed against the .stdna files of the tree base (q.texts).
void searchLoadedTree(QueryRun& q, const InexactPattern& pattern, OccurrenceList& results);
