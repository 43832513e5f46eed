// Whole-tree traversal: the walk over every tree (sdfs), the result sets it fills,
// the tables printed from them, and the equivalence and containment check that rides
// on the walk's leaf chains.
#pragma once

#include <cstdint>

#include "treequery/treequery.h"

// traversal.cpp: runTraversal (treequery.h) walks the trees from -S up to (not
// including) -i; with -a the test walk only, else the result walk followed by every
// traversal table.
// mode 1: result walk; mode 0: test walk (tree statistics only).
void sdfs(QueryRun& q, int mode);

// result_sets.cpp
// A is worse than B: shorter; at equal length a greater sequence; then a greater
// position. The heap of every set keeps its worst record at the root.
inline bool worseResult(const ResultRecord& a, const ResultRecord& b) {
    if (a.length != b.length) return a.length < b.length;
    if (a.sequence != b.sequence) return a.sequence > b.sequence;
    return a.position > b.position;
}
// Records the node in standard array entry `index` (N or K array of `size` records)
// when it is longer than what the entry holds, or counts it in NC when as long.
void offerStandard(ResultRecord* array, int size, int index, const ResultRecord& node);
// Offers a node to one result set's bounded heap of set.capacity records (counts it
// in the set's total).
void offerToSet(ResultSet& set, const ResultRecord& node);
enum SiftMode { kSiftReplace = 0, kSiftPop = 1 };
// Restores the heap after its root record was overwritten (replace) or after the
// last order entry was moved to the root (pop: done here, with the size lowered).
void siftDown(ResultSet& set, SiftMode mode);
// Empties the heap into its own order array: best first (longest, then smaller
// sequence, then smaller position). heapSize keeps the number of records.
void finalOrder(ResultSet& set);

// traversal_tables.cpp: every traversal table on q.out, and the empty line that
// ends them.
void printTraversalTables(QueryRun& q);
// The Where cell of a result: one '0' or '1' per input (at most 32), input 0 first.
void whereCell(int32_t where, int inputs, char* text);

// equivalence.cpp: the check of one leaf chain at bit depth `depth` (-e only).
struct ChainCheck {
    int state;       // 0 until the first whole-input leaf; then 1 + further members
    int firstInput;  // input of the first whole-input leaf
};
// Called for every leaf record of a chain, in chain order.
void equivLeaf(QueryRun& q, ChainCheck& check, uint32_t record, long long depth);
// Called once after the chain with its leaf count and whether it hangs below an
// interior head.
void equivChainEnd(QueryRun& q, const ChainCheck& check, int leaves, bool belowHead);
