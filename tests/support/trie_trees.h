// Tree files made the slow way, without the tree builder: each suffix of the global
// order is inserted into a binary trie of bit strings by a descent from the root, and
// the trie is laid out as the node records and dividers of the tree files. The records
// are numbered as the files number them, in the order they come into use: a new record
// takes the next free index, a split takes one for the new interior record and the
// next for the leaf; a leaf chain that gets a child turns its first record into the
// chain's interior head and its first leaf moves to the chain's end. A tree is closed
// when its records in use reach maxNodes - 1; the next suffix starts the next tree.
// Identical suffixes come in the order of the heap merge (by input number).
// Time O(n x m) for n suffixes of at most m bits; memory O(records).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/dna.h"
#include "tests/support/files.h"
#include "toolkit/records.h"

namespace testsupport {

struct TreeFiles {
    std::vector<std::vector<TreeNode>> trees;  // tree t: the records of <base>_t.stree
    std::vector<TreeDivider> dividers;         // the records of <base>.stdiv
};

namespace trie {

// The trie of the suffixes of one tree, records numbered as they come into use.
class Tree {
  public:
    explicit Tree(const std::vector<std::string>& inputs) : inputs_(&inputs) { nodes_.push_back(Node{}); }

    uint32_t recordsInUse() const { return next_; }
    bool empty() const { return next_ == 1; }

    void insert(const Suffix& s) {
        const uint32_t o = 2 * static_cast<uint32_t>(text(s).size());
        if (empty()) from_ = prefixWord(text(s), 0);
        to_ = prefixWord(text(s), 0);
        size_t x = 0;
        for (;;) {
            Node& at = nodes_[x];
            if (at.depth == o) {  // the suffix ends here: one more leaf of the chain
                require(!at.leaves.empty() && !at.head && at.child[0] < 0 && at.child[1] < 0,
                        "a suffix ends at a branch: suffixes out of order");
                require(at.leaves.back().record + 1 == next_, "identical suffixes not one after the other");
                at.leaves.push_back(Leaf{next_++, s});
                return;
            }
            const uint32_t b = bit(s, at.depth);
            const int c = at.child[b];
            if (c < 0) {
                if (!at.leaves.empty() && !at.head) {  // the chain becomes head + leaves
                    require(at.leaves.back().record + 1 == next_, "a chain below later records gets a child");
                    at.headRecord = at.leaves.front().record;
                    at.leaves.front().record = next_++;
                    std::rotate(at.leaves.begin(), at.leaves.begin() + 1, at.leaves.end());
                    at.head = true;
                }
                const size_t leaf = newLeaf(s, o);
                nodes_[x].child[b] = static_cast<int>(leaf);
                return;
            }
            const Node& child = nodes_[static_cast<size_t>(c)];
            uint32_t k = at.depth;
            const uint32_t shared = std::min(o, child.depth);
            while (k < shared && bit(s, k) == bit(child.through, k)) k++;
            if (k == child.depth) {
                x = static_cast<size_t>(c);
                continue;
            }
            require(k < o, "a suffix ends inside an edge: suffixes out of order");
            // The edge to `child` parts at bit k: a new interior record, then the leaf.
            Node branch;
            branch.depth = k;
            branch.through = s;
            branch.headRecord = next_++;
            branch.child[bit(child.through, k)] = c;
            nodes_.push_back(branch);
            const size_t split = nodes_.size() - 1;
            nodes_[x].child[b] = static_cast<int>(split);
            const size_t leaf = newLeaf(s, o);
            nodes_[split].child[bit(s, k)] = static_cast<int>(leaf);
            return;
        }
    }

    std::vector<TreeNode> records() const {
        std::vector<TreeNode> out(next_, TreeNode{0, 0, 0});
        lay(out, 0, 0);
        return out;
    }

    TreeDivider divider(int number) const {
        TreeDivider d{};
        d.to = to_;
        d.from = from_;
        d.tree = number;
        d.nodes = static_cast<int32_t>(next_);
        d.maxDepth = static_cast<uint16_t>(std::min<uint32_t>(steps(0), kMaxDividerDepth));
        return d;
    }

  private:
    struct Leaf {
        uint32_t record;
        Suffix suffix;
    };
    struct Node {
        uint32_t depth = 0;       // bit depth
        Suffix through{0, 0};     // a suffix whose bits spell the path to here
        int child[2] = {-1, -1};  // by the first bit of the child's edge
        uint32_t headRecord = 0;  // interior record (the root's is 0)
        bool head = false;        // suffixes end here and others go on below
        std::vector<Leaf> leaves; // the suffixes that end here, in chain order
    };

    static void require(bool holds, const char* what) {
        if (holds) return;
        std::fprintf(stderr, "trie trees: %s\n", what);
        std::abort();
    }

    std::string_view text(const Suffix& s) const { return std::string_view((*inputs_)[s.input]).substr(s.offset); }
    uint32_t bit(const Suffix& s, uint32_t k) const { return bitAt(text(s), k); }

    size_t newLeaf(const Suffix& s, uint32_t o) {
        Node leaf;
        leaf.depth = o;
        leaf.through = s;
        leaf.leaves.push_back(Leaf{next_++, s});
        nodes_.push_back(leaf);
        return nodes_.size() - 1;
    }

    // The record a child field points to: the interior record, or a chain's first.
    uint32_t firstRecord(const Node& n) const {
        return n.leaves.empty() || n.head ? n.headRecord : n.leaves.front().record;
    }

    void lay(std::vector<TreeNode>& out, size_t x, uint32_t parentDepth) const {
        const Node& n = nodes_[x];
        const uint32_t edge = x == 0 ? 0 : n.depth - parentDepth;
        uint32_t links[2] = {0, 0};
        for (int b = 0; b < 2; b++) {
            if (n.child[b] < 0) continue;
            links[b] = firstRecord(nodes_[static_cast<size_t>(n.child[b])]) << 2;
            lay(out, static_cast<size_t>(n.child[b]), n.depth);
        }
        if (n.leaves.empty() || n.head)
            out[n.headRecord] = TreeNode{edge, links[0] | (n.head ? kMoreFollow : 0u), links[1]};
        for (size_t i = 0; i < n.leaves.size(); i++) {
            const Suffix& s = n.leaves[i].suffix;
            const uint32_t more = i + 1 < n.leaves.size() ? kMoreFollow : 0u;
            const uint32_t preceding = s.offset ? baseCode((*inputs_)[s.input][s.offset - 1]) : 0u;
            out[n.leaves[i].record] = TreeNode{edge, (static_cast<uint32_t>(s.input) << 2) | kLeafFlag | more, preceding};
        }
    }

    // Child-field steps from node x to the deepest record below it.
    uint32_t steps(size_t x) const {
        uint32_t most = 0;
        for (int c : nodes_[x].child)
            if (c >= 0) most = std::max(most, 1 + steps(static_cast<size_t>(c)));
        return most;
    }

    const std::vector<std::string>* inputs_;
    std::vector<Node> nodes_;  // node 0 is the root
    uint32_t next_ = 1;        // the next free record
    uint32_t from_ = 0, to_ = 0;
};

}  // namespace trie

// The tree files of `inputs` in trees of at most maxNodes records.
inline TreeFiles trieTrees(const std::vector<std::string>& inputs, int maxNodes) {
    TreeFiles files;
    trie::Tree tree(inputs);
    auto close = [&] {
        files.dividers.push_back(tree.divider(static_cast<int>(files.trees.size())));
        files.trees.push_back(tree.records());
        tree = trie::Tree(inputs);
    };
    for (const Suffix& s : globalOrder(inputs)) {
        tree.insert(s);
        if (static_cast<int>(tree.recordsInUse()) >= maxNodes - 1) close();
    }
    if (!tree.empty()) close();
    return files;
}

// Writes <base>_<t>.stree for every tree and <base>.stdiv.
inline void writeTreeFiles(const std::string& base, const TreeFiles& files) {
    for (size_t t = 0; t < files.trees.size(); t++) writeFile(base + "_" + std::to_string(t) + ".stree", files.trees[t]);
    writeFile(base + ".stdiv", files.dividers);
}

}  // namespace testsupport
