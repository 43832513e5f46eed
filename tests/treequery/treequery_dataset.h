// Data sets for treequery tests written directly: inputs, catalogues, and suffix
// trees built by brute force (all suffixes sorted as strings, bit LCPs counted) with
// the path-stack construction of the tree builder, cut every maxNodes records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/data_set.h"
#include "tests/support/dna.h"
#include "tests/support/files.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"
#include "toolkit/records.h"

namespace tqdata {

using namespace testsupport;
using Node = TreeNode;
using Divider = TreeDivider;

class Builder {
  public:
    Builder(const std::vector<std::string>& inputs, int maxNodes, std::string base)
        : inputs_(inputs), maxNodes_(maxNodes), base_(std::move(base)) {}

    void build() {
        std::vector<Suffix> order = globalOrder(inputs_);
        nodes_.assign(1, Node{0, 0, 0});
        for (size_t k = 0; k < order.size(); k++) {
            add(order[k], k == 0 ? 0 : bitLcp(order[k - 1], order[k]));
            if ((int)nodes_.size() >= maxNodes_ - 1) writeTree();
        }
        if (nodes_.size() > 1) writeTree();
        writeFile(base_ + ".stdiv", dividers_);
    }

  private:
    std::string_view text(const Suffix& s) const { return std::string_view(inputs_[s.input]).substr(s.offset); }
    uint32_t bitsLeft(const Suffix& s) const { return 2 * (uint32_t)text(s).size(); }
    uint32_t bit(const Suffix& s, uint32_t k) const { return bitAt(text(s), k); }
    uint32_t prefixWord(const Suffix& s) const { return testsupport::prefixWord(text(s), 0); }
    uint32_t bitLcp(const Suffix& a, const Suffix& b) const { return bitLcpValue(text(a), text(b)) >> 1; }
    uint32_t leaf(const Suffix& s, uint32_t edge) {
        uint32_t pre = s.offset ? baseCode(inputs_[s.input][s.offset - 1]) : 0;
        nodes_.push_back(Node{edge, ((uint32_t)s.input << 2) | 1u, pre});
        return (uint32_t)nodes_.size() - 1;
    }
    static void setChild(Node& v, uint32_t b, uint32_t child) {
        if (b)
            v.link1 = (v.link1 & 3u) | (child << 2);
        else
            v.link0 = (v.link0 & 3u) | (child << 2);
    }
    void add(const Suffix& s, uint32_t L) {
        const uint32_t o = bitsLeft(s);
        if (nodes_.size() == 1) {
            from_ = prefixWord(s);
            uint32_t x = leaf(s, o);
            setChild(nodes_[0], bit(s, 0), x);
            stack_ = {{0, 0}, {x, o}};
        } else if (o == L) {  // identical to the previous suffix: joins its chain
            uint32_t x = leaf(s, o - stack_[stack_.size() - 2].second);
            nodes_[x - 1].link0 |= 2u;
        } else {
            while (stack_.back().second > L) stack_.pop_back();
            uint32_t v = stack_.back().first, D = stack_.back().second;
            if (D == L && (nodes_[v].link0 & 1u)) {  // the previous suffix ends here: head
                uint32_t n = (uint32_t)nodes_.size();
                Node moved = nodes_[v];
                moved.link0 &= ~2u;
                nodes_.push_back(moved);
                nodes_[v].link0 = 2u;
                nodes_[v].link1 = 0;
                nodes_[n - 1].link0 |= 2u;
                uint32_t x = leaf(s, o - L);
                setChild(nodes_[v], bit(s, L), x);
                stack_.push_back({x, o});
            } else if (D == L) {
                uint32_t x = leaf(s, o - L);
                setChild(nodes_[v], 1, x);
                stack_.push_back({x, o});
            } else {
                uint32_t u = (nodes_[v].link1 >> 2) ? nodes_[v].link1 >> 2 : nodes_[v].link0 >> 2;
                uint32_t side = (nodes_[v].link1 >> 2) ? 1 : 0;
                nodes_.push_back(Node{L - D, u << 2, 0});
                uint32_t n = (uint32_t)nodes_.size() - 1;
                uint32_t x = leaf(s, o - L);
                nodes_[n].link1 = x << 2;
                setChild(nodes_[v], side, n);
                for (uint32_t r = u;; r++) {
                    nodes_[r].edge -= L - D;
                    if (!(nodes_[r].link0 & 2u)) break;
                }
                stack_.push_back({n, L});
                stack_.push_back({x, o});
            }
        }
        to_ = prefixWord(s);
    }
    int depthBelow(uint32_t x) const {
        const Node& n = nodes_[x];
        if (n.link0 & 1u) return 0;
        int d = 0;
        if (n.link0 >> 2) d = std::max(d, 1 + depthBelow(n.link0 >> 2));
        if (n.link1 >> 2) d = std::max(d, 1 + depthBelow(n.link1 >> 2));
        return d;
    }
    void writeTree() {
        int t = (int)dividers_.size();
        Divider d{};
        d.to = to_;
        d.from = from_;
        d.tree = t;
        d.nodes = (int32_t)nodes_.size();
        d.maxDepth = (uint16_t)std::min(depthBelow(0), 65535);
        dividers_.push_back(d);
        writeFile(base_ + "_" + std::to_string(t) + ".stree", nodes_);
        nodes_.assign(1, Node{0, 0, 0});
    }

    const std::vector<std::string>& inputs_;
    int maxNodes_;
    std::string base_;
    std::vector<Node> nodes_;
    std::vector<std::pair<uint32_t, uint32_t>> stack_;
    std::vector<Divider> dividers_;
    uint32_t from_ = 0, to_ = 0;
};

// Writes <dir><prefix>.ST/ with the inputs (lower case unless `upper`), catalogues and
// trees of at most maxNodes records; returns the data-set base.
inline std::string writeDataSet(const std::string& dir, const std::string& prefix,
                                const std::vector<std::string>& inputs, int maxNodes, bool upper = false) {
    std::string base = writeInputs(dir, prefix, inputs, upper);
    Builder(inputs, maxNodes, base).build();
    return base;
}

}  // namespace tqdata
