// Suffix trees built from the merged suffix order, and the tree and dividers files.
//
// The merge hands every suffix, in global sorted order, to addSuffix together with its
// LCP value against the suffix handed over before it. The builder keeps the path from
// the root to the latest leaf on a stack, hangs each new leaf where the suffix leaves
// that path, and writes the tree (one .stree file, one divider record) when its buffer
// is full or the merge ends.
//
// Order of calls:
//   openDividers()                           start-up, instead of creating the file directly
//   setUpTrees()                             merge set-up (not with array output)
//   per suffix: addSuffix(record, lcp); if (treeIsFull()) writeFullTree();
//   finishTrees()                            merge exhausted
//   closeDividers()                          after the merge (also with array output)
// Settings come from gSettings and the run state from gBuild (treebuild.h); each tree
// written adds gBuild.current to the run totals.
#pragma once

#include <cstdint>

#include "treebuild/treebuild.h"

// Node record: three little-endian 32-bit words.
//   edge   bits 31-0  edge length in bits from the parent (root 0); every record of a
//                     leaf chain carries the chain's edge length
//   link0  bit 0      leaf flag
//          bit 1      more-follow: record index + 1 belongs to the same chain
//          bits 31-2  interior: index of the 0-child (0 = none); leaf: input number
//   link1  bits 31-2  interior: index of the 1-child (0 = none); leaf: 0
//          bits 1-0   interior: 0; leaf: preceding base code of the suffix
struct TreeNode {
    uint32_t edge;
    uint32_t link0;
    uint32_t link1;
};
static_assert(sizeof(TreeNode) == 12);

constexpr uint32_t kLeafFlag = 1;
constexpr uint32_t kMoreFollow = 2;

inline bool nodeIsLeaf(const TreeNode& n) { return n.link0 & kLeafFlag; }
inline bool nodeHasMore(const TreeNode& n) { return n.link0 & kMoreFollow; }
inline uint32_t nodeChild0(const TreeNode& n) { return n.link0 >> 2; }  // interior only
inline uint32_t nodeChild1(const TreeNode& n) { return n.link1 >> 2; }  // interior only
inline uint32_t nodeInput(const TreeNode& n) { return n.link0 >> 2; }   // leaf only
inline uint32_t nodePreceding(const TreeNode& n) { return n.link1 & 3; } // leaf only

// Divider record, one per tree, appended to the .stdiv file in tree order.
//   bytes 0-3    to:       prefix word 1 of the last suffix placed in the tree
//   bytes 4-7    from:     prefix word 1 of the first suffix placed in the tree
//   bytes 8-11   tree:     tree number (the number in the .stree file name)
//   bytes 12-15  nodes:    records in the tree file, root included
//   bytes 16-17  maxDepth: most child-field steps from the root to any record, held
//                          at 65535 when the tree is deeper (read it unsigned; 65535
//                          means "65535 or more", never a size)
//   bytes 18-23  zero
struct TreeDivider {
    uint32_t to;
    uint32_t from;
    int32_t tree;
    int32_t nodes;
    uint16_t maxDepth;
    uint8_t zero[6];
};
static_assert(sizeof(TreeDivider) == 24);

constexpr uint16_t kMaxDividerDepth = 65535;

// Default node records per tree: the longest input's length in bases, at most
// 1,048,576 and at least 3 (a tree's first suffix needs the root and two records).
int defaultMaxNodes(int longestInput);

// The dividers file (gBuild.dividersPath, gBuild.dividersFd). openDividers removes an
// old dividers file and creates the new one under a temporary name (the path with
// ".tmp" appended); closeDividers closes it and renames it into place, so that an
// interrupted build never leaves a dividers file that looks complete. The driver
// calls them at start-up and after the merge, with -a too (the file is then empty).
void openDividers();
void closeDividers();

// Merge set-up (trees only): allocates the tree buffer of gBuild.maxNodes records, the
// path stack and, with -C, the hash sets; refuses maxNodes below 3. Starts the
// per-tree clocks.
void setUpTrees();

// True while the current tree holds only its root (the next suffix starts a tree and
// needs no LCP value).
bool treeHoldsRootOnly();

// Adds the next suffix of the global order; lcp is its LCP value against the previous
// suffix, ignored for the first suffix of a tree.
void addSuffix(const PsaRecord& record, uint32_t lcp);

// True when the records in use are at least maxNodes - 1.
bool treeIsFull();

// Writes the current tree and its divider record (adding gBuild.current to the run
// totals and counting the tree), then starts an empty tree.
void writeFullTree();

// Merge exhausted: writes the last tree when it holds at least one suffix.
void finishTrees();
