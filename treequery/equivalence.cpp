// Identical and contained inputs, found on the walk's leaf chains (-e).
//
// An input's whole sequence is its suffix at position 0: a leaf whose bit depth is the
// input's bit length. Every input with the same sequence ends in the same chain, and
// every longer suffix that begins with it lies in that chain (the sequence ends a
// longer input) or below the chain's head (more characters follow it).
#include <cstdio>
#include <string>

#include "treequery/traversal.h"
#include "treequery/tree_store.h"
#include "treequery/user_terms.h"

namespace {

// -F tsv: a relation row naming both inputs, kept until the tables are written.
void relation(QueryRun& q, const char* kind, int u, int v) {
    const int io = q.settings->indexOrigin;
    std::string row(kind);
    row.append("\t").append(std::to_string(u + io)).append("\t").append(q.names[(size_t)u].name).append("\t");
    if (v >= 0) row.append(std::to_string(v + io)).append("\t").append(q.names[(size_t)v].name);
    else row.append("\t");
    q.relations.push_back(row.append("\n"));
}

// An input whose whole sequence is followed by more bases below the chain's head:
// the first leaf down the head's children (-1 when its only leaves are its chain).
int leafBelow(const QueryRun& q, uint32_t head) {
    const TreeStore& store = q.store;
    uint32_t index = head;
    for (int steps = 0; steps <= store.treeNodes; steps++) {
        const Node& x = treeNode(store, index);
        if (isLeaf(x)) return leafInputChecked(store, x);
        const uint32_t next = child0(x) ? child0(x) : child1(x);
        if (!next) return -1;
        index = next;
    }
    corruptTree(store, "path length", store.treeNodes);
}

}  // namespace

void equivLeaf(QueryRun& q, ChainCheck& check, uint32_t record, long long depth) {
    if (check.state != 0) return;
    const TreeStore& store = q.store;
    const Node* tree = store.tree;
    const Node& leaf = tree[record];
    const bool tsv = outputFormat(*q.settings) == kFormatTsv;
    const int u = (int)leafInput(leaf);
    if ((long long)q.catalogue.bitLengths[u] != depth) {
        if (check.container < 0) check.container = u;
        return;
    }

    const int io = q.settings->indexOrigin;
    const int32_t length = q.catalogue.bitLengths[u];
    int further = 0;
    if (moreFollows(leaf)) {
        for (uint32_t y = record + 1;; y++) {
            if (y >= (uint32_t)store.treeNodes || !isLeaf(tree[y]))
                fatal("getEquivs: record %u in a leaf chain of tree file \"%s\" is not a leaf\n", y,
                      treePath(store, store.treeIndex).c_str());
            const int v = leafInputChecked(store, tree[y]);
            if (q.catalogue.bitLengths[v] == length) {
                if (further == 0) {
                    q.equivClasses++;
                    if (!tsv) fprintf(q.out, "Equiv (length %d): %d", length, u + io);
                }
                q.equivRedundant++;
                further++;
                if (tsv)
                    relation(q, "equivalent", u, v);
                else
                    fprintf(q.out, ", %d", v + io);
            } else if (check.container < 0) {
                check.container = v;
            }
            if (!moreFollows(tree[y])) break;
        }
    }
    if (further > 0 && !tsv) fputs("\n", q.out);
    check.state = 1 + further;
    check.firstInput = u;
    if (further > q.equivLargest) q.equivLargest = further;
}

void equivChainEnd(QueryRun& q, const ChainCheck& check, int leaves, bool belowHead) {
    if (check.state == 0) return;
    if (check.state < leaves || belowHead) {
        q.contained++;
        if (outputFormat(*q.settings) == kFormatTsv) {
            const int container = check.container >= 0 ? check.container : leafBelow(q, check.head);
            relation(q, "contained", check.firstInput, container);
            return;
        }
        fprintf(q.out, "Containment: input %d\n", check.firstInput + q.settings->indexOrigin);
    }
}
