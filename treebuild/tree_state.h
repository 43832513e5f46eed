// State of the tree being built, shared by the builder, the tree files and the
// compaction statistics.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/hash_set.h"
#include "toolkit/run.h"
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

// A finished tree on its way to its files: its records, its divider record, its file
// (open under the temporary name while it is written) and checksum, and the lines that
// report it, printed once it is in place.
struct FinishedTree {
    const TreeNode* nodes = nullptr;
    int records = 0;
    TreeDivider divider{};
    std::string path;
    int fd = -1;
    ChecksumEntry sum;
    std::string lines;
};

// -j above 1: the thread that writes each finished tree from one buffer while the next
// tree is built in the other. It takes one tree at a time, in tree order.
struct TreeWriter {
    std::thread thread;
    std::mutex lock;
    std::condition_variable changed;
    bool busy = false;     // a tree is handed over and not yet written
    bool written = false;  // the tree handed over last is written and not yet committed
    bool closing = false;  // no tree follows
    FinishedTree job;
    WorkerStatus status;   // the failure of a write, if one failed; the writer then stops
};

struct TreeState {
    TreeNode* nodes = nullptr;  // maxNodes records; those past the records in use are stale
    TreeNode* spare = nullptr;  // -j above 1: the other buffer, the one being written
    std::unique_ptr<TreeWriter> writer;  // -j above 1, started with the first tree written
    int capacity = 0;           // maxNodes
    int inUse = 0;              // root included
    std::vector<PathEntry> path;  // grows as deep as the tree needs
    int treeNumber = 0;
    uint32_t from = 0;          // prefix word 1 of the tree's first suffix
    uint32_t to = 0;            // prefix word 1 of the suffix added last
    int suffixes = 0;           // suffixes in the tree
    // Suffixes added by each way of hanging a leaf (suffix_tree.cpp), per tree; the
    // "Tree" line prints c3, c4 and c6.
    int c3 = 0;                 // case 3: identical to the previous suffix, joins its chain
    int c4 = 0;                 // case 4: the previous suffix's leaf chain becomes an interior head
    int c5 = 0;                 // case 5: a 1-child at an interior record with only a 0-child
    int c6 = 0;                 // case 6: a new interior record splits an edge
    int maxPath = 0;            // largest path height of this tree
    double lcpSum = 0, lcpCount = 0;  // this tree's bit LCPs, for their mean ("alcp")
    int lastCpuMs = 0, lastWallMs = 0;  // when the previous tree was written
    bool compact = false;       // -C: compaction statistics
    // -C: the distinct child offsets (0: below a record without a 1-child, 1: below one
    // with) and edge lengths of interior records (2).
    HashSet sets[3];

    TreeState() = default;
    TreeState(const TreeState&) = delete;
    TreeState& operator=(const TreeState&) = delete;
    ~TreeState();
};

inline bool treeHoldsRootOnly(const TreeState& tree) { return tree.inUse == 1; }
inline bool treeIsFull(const TreeState& tree) { return tree.inUse >= tree.capacity - 1; }

// suffix_tree.cpp
// Most child-field steps from the root to any record of the current tree, from the
// figures kept on the path.
int pathMaxDepth(const TreeState& tree);

// tree_files.cpp
void writeTree(BuildState& build, TreeState& tree);
// Stops the writer thread once it has written every tree handed to it (a failed write
// has stopped it already; settleWriter reports it).
void stopTreeWriter(TreeState& tree);

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

void allocateHashSets(TreeState& tree);
void clearSets(TreeState& tree);
// Feeds a parent/child pair of neighbouring path entries into the sets.
void recordPair(TreeState& tree, const PathEntry& parent, const PathEntry& child);
// The pass over the whole path stack before a tree is written.
void recordPathStack(TreeState& tree);
NodeCounts countNodes(const TreeNode* nodes);
// The two statistics lines of a tree, each "# " and its text.
std::string compactionLines(const TreeState& tree, const NodeCounts& counts);
