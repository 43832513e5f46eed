// State of the tree being built, shared by the builder, the tree files and the
// compaction statistics.
#pragma once

#include <cstdint>
#include <vector>

#include "treebuild/suffix_tree.h"

// One entry of the path from the root to the chain of the previous suffix: the record
// (for a chain, its first record), its bit depth, and the most child-field steps from
// it down to any record of the subtrees below it that are already complete (those off
// the path; 0 when there are none). Later suffixes never enter a complete subtree, so
// the tree's maximum depth follows from these figures when the tree is written.
struct PathEntry {
    uint32_t node;
    uint32_t depth;
    uint32_t below;
};

struct TreeState {
    TreeNode* nodes = nullptr;  // maxNodes records; those past the records in use are stale
    int capacity = 0;           // maxNodes
    int inUse = 0;              // root included
    std::vector<PathEntry> path;  // grows as deep as the tree needs
    int treeNumber = 0;
    uint32_t from = 0;          // prefix word 1 of the tree's first suffix
    uint32_t to = 0;            // prefix word 1 of the suffix added last
    int suffixes = 0;           // suffixes in the tree
    int c3 = 0, c4 = 0, c5 = 0, c6 = 0;
    int maxPath = 0;            // largest path height of this tree
    double lcpSum = 0, lcpCount = 0;  // this tree's, for its "alcp"
    int lastCpuMs = 0, lastWallMs = 0;  // when the previous tree was written
    bool compact = false;
};
extern TreeState gTree;

// suffix_tree.cpp
// Most child-field steps from the root to any record of the current tree, from the
// figures kept on the path.
int pathMaxDepth();

// tree_files.cpp
void writeTree();

// compaction_stats.cpp (-C)
struct NodeCounts {
    int leaves;         // nl: leaf records
    int headLeaves;     // nt: leaf records reached through a child field
    int interiors;      // ni: interior records
    int zeroChildren;   // 0-child fields followed
    int oneChildren;    // 1-child fields followed
    int interiorSteps;  // ne: chain steps from an interior record
    int leafSteps;      // nd: chain steps from a leaf record
};
struct HashCounters {
    int requested;  // n
    int stored;     // h, also the last id given
    int probes;     // c
};
constexpr int kHashSlots = 319993;

void allocateHashSets();
void clearSets();
int hashInsert(int set, int32_t key);
const HashCounters& hashCounters(int set);
// Feeds a parent/child pair of neighbouring path entries into the sets.
void recordPair(const PathEntry& parent, const PathEntry& child);
// The pass over the whole path stack before a tree is written.
void recordPathStack();
NodeCounts countNodes(const TreeNode* nodes);
void printCompactionLines(const NodeCounts& counts);
