// Exact search of a group of patterns at once: every tree is opened (read mode) or
// mapped (-U) once for all the patterns whose keys select it, and read mode reads only
// the records their descents reach. Results and diagnostic lines are kept per pattern, so that the
// caller reports them in pattern order exactly as one search after the other would.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "treequery/treequery.h"

struct ExactResult {
    std::vector<Occurrence> kept;   // the first maxNum occurrences in collection order
    int count = 0;                  // all occurrences
    std::vector<uint32_t> inputs;   // input bit vector (vectorWords words)
    int visited = 0;                // trees visited
    std::vector<std::string> notes; // diagnostic lines, as note() would print them
};

// How a group search reaches tree records: blocks read as the descents ask for them
// (read mode), or the trees mapped whole as -U keeps them.
enum GroupTrees { kGroupTreesRead = 0, kGroupTreesMapped = 1 };

// The trees a pattern's key selects: [first, last) in file order.
struct TreeSpan {
    int first;
    int last;
};

// What a group search keeps of each pattern besides its occurrences and count.
struct GroupOptions {
    int keep = -1;  // occurrences kept per pattern (-m when negative)
    GroupTrees trees = kGroupTreesRead;
    bool inputs = true;  // the input bit vector
    bool notes = true;   // the diagnostic lines (else none is even formatted)
    // Among them "Pattern not found (tree location)" for a pattern that selects no
    // tree, as the search of one pattern says (the rows of mapped trees leave it out).
    bool locations = true;
    // The trees of each pattern (selectTreeSpans) when the caller has chosen them
    // already, ahead of the search; null: chosen here.
    const std::vector<TreeSpan>* spans = nullptr;
};

// Searches every pattern of `patterns` (a, c, g, t in either case; each viewed text
// followed by a terminator) into `results` (one per pattern, cleared here). Every tree
// is reached once for all the patterns that select it. With mapped trees the
// diagnostic lines are those of the search of one pattern in -U (no tree file lines;
// the tree location lines as `locations` says).
void exactSearchGroup(QueryRun& q, const std::vector<std::string_view>& patterns, std::vector<ExactResult>& results,
                      const GroupOptions& options);

// The pieces of exactSearchGroup, for callers that share its trees out among threads.
// The trees of every pattern; a pattern of no base or with a character that is no base
// ends the run, before any tree is reached.
std::vector<TreeSpan> selectTreeSpans(QueryRun& q, const std::vector<std::string_view>& patterns);
// The spans of `options` when the caller chose them, else those of selectTreeSpans,
// chosen now into `chosen`.
const std::vector<TreeSpan>& groupSpans(QueryRun& q, const std::vector<std::string_view>& patterns,
                                        const GroupOptions& options, std::vector<TreeSpan>& chosen);
// exactSearchGroup() over the trees from `from` to `to` - 1 only: pattern p in the trees of
// spans[p] within them. Adds no "Pattern not found (tree location)" line: that one
// waits until every tree is searched (noteTreeLocations).
void exactSearchTreeRange(QueryRun& q, const std::vector<std::string_view>& patterns, const std::vector<TreeSpan>& spans,
                          int from, int to, std::vector<ExactResult>& results, const GroupOptions& options);
// The same with pattern p's results in *targets[p], which the caller has cleared.
void exactSearchTreeRange(QueryRun& q, const std::vector<std::string_view>& patterns, const std::vector<TreeSpan>& spans,
                          int from, int to, const std::vector<ExactResult*>& targets, const GroupOptions& options);
// Adds the results of one pattern in later trees to its results in earlier ones, as
// one search over both would have them: counts and trees visited add up, occurrences
// and lines follow (occurrences up to `keep`), the input vectors are joined. Takes
// what it needs from `later`.
void joinExactResult(ExactResult& into, ExactResult& later, int keep);
// The "Pattern not found (tree location)" line of every pattern that visited no tree,
// as exactSearchGroup() adds it.
void noteTreeLocations(std::vector<ExactResult>& results, const GroupOptions& options);

// Every occurrence of each pattern (as exactSearchGroup, none dropped, no lines, no
// input vectors), through the run's tree access: mapped with -U, else read. Brings
// its own verification buffer.
std::vector<ExactResult> findEveryOccurrence(QueryRun& q, const std::vector<std::string_view>& patterns);
