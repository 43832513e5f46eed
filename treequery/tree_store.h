// Tree store: the dividers, one tree at a time in memory (read into the tree buffer
// or mapped with -U), node-record accessors and substring fetches from the inputs.
//
// Tree files are untrusted: a walk reaches records only through treeNode(), which
// refuses an index at or beyond the loaded tree's node count, and leaf inputs only
// through leafInputChecked(). A walk that visits every record may instead call
// validateTree() once after loading and then index gQuery.tree directly.
#pragma once

#include <cstdint>
#include <string>

#include "treequery/treequery.h"


// Stops with a message naming the tree when a record index or an input number of
// the loaded tree is out of range.
[[noreturn]] void corruptTree(const char* what, long long value);

inline const Node& treeNode(uint32_t index) {
    if (index >= (uint32_t)gQuery.treeNodes) corruptTree("record index", index);
    return gQuery.tree[index];
}
inline int leafInputChecked(const Node& n) {
    uint32_t input = leafInput(n);
    if (input >= (uint32_t)gQuery.inputs) corruptTree("input number", input);
    return (int)input;
}
// Character position of a leaf of `input` at bit depth `depth`; a depth beyond the
// input's bit length (or odd) is a corrupt tree.
int leafPosition(int input, long long depth);

// Reads "<tree base>.stdiv": dividers, tree count, greatest node count and depth.
// Refuses a missing or ragged file, node counts below 1 or beyond 2 GiB of records,
// trees numbered out of order, keys that fall within a tree or from one tree to the
// next, and node counts that cannot hold the catalogue's suffixes (the catalogue must
// be read first). An empty file is a data set of no trees when the inputs hold no
// bases, else an error. Allocates the tree buffer unless -U or there is no tree
// ("Allocate treebuff: %d nodes").
void readDividers();
// -D: one line per divider on standard output.
void printDividers();
// The 16 base letters of a divider key, first base first (buffer of 17 bytes).
void keyLetters(uint32_t key, char* text);

// Who loads: the messages for an oversized tree and a short read differ.
enum LoadCaller { kLoadForSearch = 0, kLoadForTraversal = 1 };

// How a tree file is brought in, which words a file too short for its divider gets:
// "problem loading tree from file" (with the byte counts for the traversal) when
// read, "problem with mmap: ... is shorter" when mapped.
enum TreeAccess { kReadForSearch, kReadForTraversal, kMapTree };
// Stops the run unless the open file `fd` of tree t holds exactly the records that
// divider t counts: a longer file is a divider that does not describe its tree.
void checkTreeFileSize(int t, int fd, const std::string& path, TreeAccess access);

// Loads tree `t` (divider index, also its file number) into gQuery.tree/treeNodes/
// treeIndex/treeReadMs. Read mode keeps the buffer and skips the read when tree t is
// already in it. With -U the traversal unmaps the previous tree first; the exact
// search keeps up to 128 trees mapped across patterns (least recently used goes
// first). A file shorter than the divider's node count is an error naming the file
// (read or mapped).
void loadTree(int t, LoadCaller caller);
// Unmaps every mapped tree (-U); nothing in read mode. Called when the searches of
// all patterns, or the traversal, are over.
void releaseTree();
// Read mode of the exact search over a group of patterns (owned by the exact search;
// the traversal does not use these): tree t's records reach the tree buffer in blocks
// as the descents ask for them, so that a descent reads the records on its path and
// not the whole tree. A file shorter than its divider says is the same error as for
// loadTree. closeTreeRecords() leaves no tree loaded (the buffer holds only parts).
void openTreeRecords(int t);
// Record `index` of the tree opened by openTreeRecords, read in when not yet there;
// an index at or beyond the node count is a corrupt tree.
const Node& treeRecord(uint32_t index);
void closeTreeRecords();
// Checks every record of the loaded tree once: child indices and chain ends inside
// the tree, leaf inputs inside the catalogue. Counts the tree's leaves for
// checkSuffixTotal().
void validateTree();
// After validateTree() has seen every tree: stops the run unless the trees' leaves
// are exactly the suffixes of the catalogue's inputs (a dividers file cut at a record
// boundary passes its own checks but loses the suffixes of the trees it no longer
// lists). Does nothing when some tree was not validated.
void checkSuffixTotal();

// Reads n characters at offset o of input i's .stdna file into buffer (n + 1 bytes,
// terminated). An input file that cannot be opened prints "## ERROR: can't read file
// %s to get substring" and leaves the buffer as it was; a failed seek or short read
// ends the run.
void fetchSubstring(int input, int offset, int n, char* buffer);
