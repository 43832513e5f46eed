// Tree store: the owner of a data set's trees. It reads the dividers, opens, reads or
// maps one tree at a time (or, for the grouped exact search, the blocks of records its
// descents reach), checks damaged files, keeps mappings across patterns and releases
// them. Every byte of a tree file comes in through readTreeRange() or mapTreeFile() in
// tree_store.cpp, and every block of it is verified against "<tree base>.streesum"
// (when the data set has one) the first time a record in it is used: a whole tree
// when it is read or walked by the traversal, the blocks of the records reached when
// it is mapped for a search.
//
// Tree files are untrusted: a walk reaches records only through treeNode(), which
// refuses an index at or beyond the loaded tree's node count, and leaf inputs only
// through leafInputChecked(). A walk that visits every record may instead call
// validateTree() once after loading and then index store.tree directly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/records.h"

// Dividers and node records as the tree builder writes them (toolkit/records.h).
using Divider = TreeDivider;
using Node = TreeNode;

// The catalogue of the inputs, read before the dividers.
struct QueryCatalogue {
    int inputs = 0;
    int32_t* lengths = nullptr;     // characters
    int32_t* bitLengths = nullptr;  // stored lengths in bits
    int vectorWords = 0;            // words of an input bit vector: ((inputs - 1) >> 5) + 1
};

// A tree mapped with -U, with the descriptor it was mapped from when the search keeps it.
struct TreeMapping;

// Pages of records read on demand (read mode of the grouped exact search). A page is
// one checksum block of the tree file, so that it is verified where it was read to.
struct RecordReader {
    FileDescriptor fd;
    std::string path;
    std::vector<uint32_t> stamps;  // per page of the file: generation that read it
    std::vector<uint32_t> slots;   // per page: where in the buffer it was put
    // Per page: the record that begins in it and ends in the next, put together from
    // the two pages once both were read (and so verified), and the generation that did.
    std::vector<Node> straddlers;
    std::vector<uint32_t> straddlerStamps;
    uint32_t generation = 0;
    uint32_t nextSlot = 0;
};

struct TreeStore {
    std::string treeBase;                       // "<dir><prefix>.ST/<prefix>" of -d and -x
    const QueryCatalogue* catalogue = nullptr;  // checks of leaves and suffix totals
    bool mapped = false;                        // -U

    std::vector<Divider> dividerRecords;  // as read (a worker's store shares the main one's)
    Divider* dividers = nullptr;          // dividerRecords' records
    int trees = 0;         // divider records
    int maxTreeNodes = 0;  // greatest divider node count: the tree buffer's capacity
    int maxDepth = 0;      // greatest divider depth, 0 when none above 0 (saturated: a hint only)
    Node* treeBuffer = nullptr;  // read mode only
    const Node* tree = nullptr;  // the loaded tree (buffer or mapping), null before the first load
    int treeNodes = 0;     // its node count
    int treeIndex = -1;    // its divider index, -1 when none is loaded
    int treeReadMs = 0;    // wall ms of its load

    // Mappings of the exact search and the traversal (least recently used goes first).
    std::vector<std::unique_ptr<TreeMapping>> mappings;
    unsigned long useClock = 0;
    // Mappings of the Hamming search, by tree: kept until the store is released.
    std::vector<std::unique_ptr<TreeMapping>> hammingMaps;
    // Leaves of each tree that validateTree() has counted, -1 for a tree not yet counted.
    std::vector<long long> treeLeaves;
    RecordReader records;

    // Checksums of the trees and the dividers; empty (path "") when the data set has none.
    ChecksumFile sums;
    std::vector<VerifiedFile> treeFiles;  // by tree, attached when the tree is first opened
    SharedMarks* sharedMarks = nullptr;   // a worker's: the marks its trees share with the other workers'
    // The loaded tree's checksums while it is mapped and reached record by record:
    // treeNode() verifies the block of each record it hands out. Null otherwise.
    VerifiedFile* mappedSums = nullptr;

    TreeStore();
    TreeStore(const TreeStore&) = delete;
    TreeStore& operator=(const TreeStore&) = delete;
    ~TreeStore();
};

// "<tree base>_<t>.stree".
std::string treePath(const TreeStore& store, int t);

// Stops with a message naming the tree when a record index or an input number of
// the loaded tree is out of range.
[[noreturn]] void corruptTree(const TreeStore& store, const char* what, long long value);
// The same for tree `t` of `nodes` records, loaded or not (a walk over several mapped trees).
[[noreturn]] void corruptTreeFile(const TreeStore& store, int t, int nodes, const char* what, long long value);

inline const Node& treeNode(const TreeStore& store, uint32_t index) {
    if (index >= (uint32_t)store.treeNodes) corruptTree(store, "record index", index);
    if (store.mappedSums)
        store.mappedSums->verifyInMemory(store.tree, (uint64_t)index * sizeof(Node), sizeof(Node));
    return store.tree[index];
}
inline int leafInputChecked(const TreeStore& store, const Node& n) {
    uint32_t input = leafInput(n);
    if (input >= (uint32_t)store.catalogue->inputs) corruptTree(store, "input number", input);
    return (int)input;
}
// Character position of a leaf of `input` at bit depth `depth`; a depth beyond the
// input's bit length (or odd) is a corrupt tree.
int leafPosition(const TreeStore& store, int input, long long depth);
int leafPositionIn(const TreeStore& store, int t, int nodes, int input, long long depth);

// Loads "<tree base>.streesum" when there is one; false when the trees are unverified.
bool loadTreeSums(TreeStore& store);
// The checksum file of the trees: "<tree base>.streesum".
std::string treeSumsPath(const TreeStore& store);

// Reads "<tree base>.stdiv" (verified whole against the tree checksums): dividers, tree count, greatest node count and depth.
// Refuses a missing or ragged file, node counts below 1 or beyond 2 GiB of records,
// trees numbered out of order, keys that fall within a tree or from one tree to the
// next, and node counts that cannot hold the catalogue's suffixes (the catalogue must
// be read first). An empty file is a data set of no trees when the inputs hold no
// bases, else an error. Allocates the tree buffer unless -U or there is no tree
// ("Allocate treebuff: %d nodes").
void readDividers(TreeStore& store);
// -D: one line per divider on standard output.
void printDividers(const TreeStore& store);
// The 16 base letters of a divider key, first base first (buffer of 17 bytes).
void keyLetters(uint32_t key, char* text);

// Who loads, which sets the failure words and the mappings kept:
//  - the exact search: mappings kept across patterns, at most 128;
//  - the traversal: only the tree it walks; byte counts in a short read's message;
//  - the Hamming search: every tree it maps stays mapped until the store is released,
//    and a tree file that cannot be opened or holds no record ends the run with
//    status 255 (reported on standard output as well).
enum LoadCaller { kLoadForSearch = 0, kLoadForTraversal = 1, kLoadForHamming = 2 };

// Loads tree `t` (divider index, also its file number) into store.tree/treeNodes/
// treeIndex/treeReadMs, read into the tree buffer or mapped with -U. Read mode skips
// the read when tree t is already in the buffer. A file of another size than the
// divider's node count is an error naming the file.
void loadTree(TreeStore& store, int t, LoadCaller caller);
// Unmaps the trees of the exact search and the traversal (-U); nothing in read mode.
// Called when the searches of all patterns, or the traversal, are over.
void releaseTree(TreeStore& store);
// Read mode of the exact search over a group of patterns: tree t's records reach the
// tree buffer in pages (the checksum blocks of its file) as the descents ask for them,
// so that a descent reads the pages on its path and not the whole tree. A file shorter than its divider says
// is the same error as for loadTree. closeTreeRecords() leaves no tree loaded (the
// buffer holds only parts).
void openTreeRecords(TreeStore& store, int t);
// Record `index` of the tree opened by openTreeRecords, read in when not yet there;
// an index at or beyond the node count is a corrupt tree.
const Node& treeRecord(TreeStore& store, uint32_t index);
void closeTreeRecords(TreeStore& store);

// Tree t's file, when it is not in the page cache, asked for whole: the system starts
// reading it in large sequential reads and the call returns at once. For a batch that
// reaches most of a tree's pages anyway, one read-around or one block at a time would
// wait for each. True when the reading was asked for.
bool askForWholeTree(const TreeStore& store, int t);
// Checks every record of the loaded tree once: child indices and chain ends inside
// the tree, leaf inputs inside the catalogue. Counts the tree's leaves for
// checkSuffixTotal().
void validateTree(TreeStore& store);
// After validateTree() has seen every tree: stops the run unless the trees' leaves
// are exactly the suffixes of the catalogue's inputs (a dividers file cut at a record
// boundary passes its own checks but loses the suffixes of the trees it no longer
// lists). Does nothing when some tree was not validated.
void checkSuffixTotal(const TreeStore& store);
