// Suffix trees built from the merged suffix order, and the tree and dividers files.
//
// The merge hands every suffix, in global sorted order, to addSuffix together with its
// LCP value against the suffix handed over before it. The builder keeps the path from
// the root to the latest leaf on a stack, hangs each new leaf where the suffix leaves
// that path, and writes the tree (one .stree file, one divider record) when its buffer
// is full or the merge ends.
//
// Order of calls:
//   openDividers(build)                      start-up, instead of creating the file directly
//   setUpTrees(settings, build, tree)        merge set-up (not with array output)
//   per suffix: addSuffix(build, tree, record, lcp);
//               if (treeIsFull(tree)) writeFullTree(build, tree);
//   finishTrees(build, tree)                 merge exhausted
//   closeDividers(build)                     after the merge (also with array output)
// The tree being built is a TreeState (tree_state.h), the run a BuildState
// (treebuild.h); each tree written adds build.current to the run totals.
#pragma once

#include <cstdint>

#include "treebuild/treebuild.h"


// Default node records per tree: the longest input's length in bases, at most
// 1,048,576 and at least 3 (a tree's first suffix needs the root and two records).
int defaultMaxNodes(int longestInput);

// The dividers file (build.dividersPath, build.dividers). openDividers removes an
// old dividers file and creates the new one under a temporary name (the path with
// ".tmp" appended); closeDividers closes it and renames it into place, so that an
// interrupted build never leaves a dividers file that looks complete. The driver
// calls them at start-up and after the merge, with -a too (the file is then empty).
// Tree files too are written under temporary names and renamed when whole.
void openDividers(BuildState& build);
void closeDividers(BuildState& build);
// The .streesum checksum file of every file the build wrote: the last file written.
void writeTreeChecksums(const BuildState& build);

// Merge set-up (trees only): allocates the tree buffer of build.maxNodes records, the
// path stack and, with -C, the hash sets; refuses maxNodes below 3. Starts the
// per-tree clocks and the tree numbers afresh.
void setUpTrees(const BuildSettings& settings, const BuildState& build, TreeState& tree);

// treeHoldsRootOnly(tree): true while the current tree holds only its root (the next
// suffix starts a tree and needs no LCP value). Inline in tree_state.h: the merge asks
// once per suffix.

// Adds the next suffix of the global order; lcp is its LCP value against the previous
// suffix, ignored for the first suffix of a tree.
void addSuffix(BuildState& build, TreeState& tree, const PsaRecord& record, uint32_t lcp);

// treeIsFull(tree): true when the records in use are at least maxNodes - 1. Inline in
// tree_state.h, like treeHoldsRootOnly.

// Writes the current tree and its divider record (adding build.current to the run
// totals and counting the tree), then starts an empty tree.
void writeFullTree(BuildState& build, TreeState& tree);

// Merge exhausted: writes the last tree when it holds at least one suffix.
void finishTrees(BuildState& build, TreeState& tree);
