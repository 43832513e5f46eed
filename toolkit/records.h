// The fixed-size records of the data-set files that one program writes and a later
// one reads: suffix records of the runs (.stpsa), node records of the trees (.stree)
// and the dividers (.stdiv). All words are little-endian (see file_io.h).
#pragma once

#include <cstdint>

// One suffix of a run (.stpsa), four words:
//   word0    bits 31-2 input number, bits 1-0 code of the base before the suffix (0 at offset 0)
//   offset   first base of the suffix within its input, from 0
//   prefix1  codes of the bases at offset .. offset+15, first base in bits 31-30
//   prefix2  codes of the bases at offset+16 .. offset+31; zero bits past the input's end
struct PsaRecord {
    uint32_t word0;
    uint32_t offset;
    uint32_t prefix1;
    uint32_t prefix2;
};
static_assert(sizeof(PsaRecord) == 16);

inline int recordInput(const PsaRecord& r) { return static_cast<int>(r.word0 >> 2); }
inline uint32_t recordPreceding(const PsaRecord& r) { return r.word0 & 3u; }

// One node record of a tree (.stree), three words:
//   edge   edge length in bits from the parent (root 0); every record of a leaf
//          chain carries the chain's edge length
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

inline uint32_t edgeLength(const TreeNode& n) { return n.edge; }
inline bool isLeaf(const TreeNode& n) { return (n.link0 & kLeafFlag) != 0; }
inline bool moreFollows(const TreeNode& n) { return (n.link0 & kMoreFollow) != 0; }
inline uint32_t child0(const TreeNode& n) { return n.link0 >> 2; }     // interior only
inline uint32_t child1(const TreeNode& n) { return n.link1 >> 2; }     // interior only
inline uint32_t leafInput(const TreeNode& n) { return n.link0 >> 2; }  // leaf only
inline int precedingCode(const TreeNode& n) { return (int)(n.link1 & 3u); }  // leaf only

// Divider record, one per tree, in tree order (.stdiv):
//   bytes 0-3    to:       prefix word 1 of the last suffix placed in the tree
//   bytes 4-7    from:     prefix word 1 of the first suffix placed in the tree
//   bytes 8-11   tree:     tree number (the number in the .stree file name)
//   bytes 12-15  nodes:    records in the tree file, root included
//   bytes 16-17  maxDepth: most child-field steps from the root to any record, held
//                          at 65535 when the tree is deeper (65535 means "65535 or
//                          more": a hint, never a size)
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
