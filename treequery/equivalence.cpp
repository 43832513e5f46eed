// Identical and contained inputs, found on the walk's leaf chains (-e).
//
// An input's whole sequence is its suffix at position 0: a leaf whose bit depth is the
// input's bit length. Every input with the same sequence ends in the same chain, and
// every longer suffix that begins with it lies in that chain (the sequence ends a
// longer input) or below the chain's head (more characters follow it).
#include <cstdio>

#include "treequery/traversal.h"
#include "treequery/tree_store.h"

void equivLeaf(QueryRun& q, ChainCheck& check, uint32_t record, long long depth) {
    if (check.state != 0) return;
    const TreeStore& store = q.store;
    const Node* tree = store.tree;
    const Node& leaf = tree[record];
    const int u = (int)leafInput(leaf);
    if ((long long)q.catalogue.bitLengths[u] != depth) return;

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
                    fprintf(q.out, "Equiv (length %d): %d", length, u + io);
                }
                q.equivRedundant++;
                further++;
                fprintf(q.out, ", %d", v + io);
            }
            if (!moreFollows(tree[y])) break;
        }
    }
    if (further > 0) fputs("\n", q.out);
    check.state = 1 + further;
    check.firstInput = u;
    if (further > q.equivLargest) q.equivLargest = further;
}

void equivChainEnd(QueryRun& q, const ChainCheck& check, int leaves, bool belowHead) {
    if (check.state == 0) return;
    if (check.state < leaves || belowHead) {
        q.contained++;
        fprintf(q.out, "Containment: input %d\n", check.firstInput + q.settings->indexOrigin);
    }
}
