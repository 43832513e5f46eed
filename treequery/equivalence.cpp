// Identical and contained inputs, found on the walk's leaf chains (-e).
//
// An input's whole sequence is its suffix at position 0: a leaf whose bit depth is the
// input's bit length. Every input with the same sequence ends in the same chain, and
// every longer suffix that begins with it lies in that chain (the sequence ends a
// longer input) or below the chain's head (more characters follow it).
#include <cstdio>

#include "treequery/traversal.h"
#include "treequery/tree_store.h"
#include "toolkit/file_io.h"

void equivLeaf(ChainCheck& check, uint32_t record, long long depth) {
    if (check.state != 0) return;
    const Node* tree = gQuery.tree;
    const Node& leaf = tree[record];
    const int u = (int)leafInput(leaf);
    if ((long long)gQuery.bitLengths[u] != depth) return;

    const int io = gSettings.indexOrigin;
    const int32_t length = gQuery.bitLengths[u];
    int further = 0;
    if (moreFollows(leaf)) {
        for (uint32_t y = record + 1;; y++) {
            if (y >= (uint32_t)gQuery.treeNodes || !isLeaf(tree[y]))
                fatal("getEquivs: record %u in a leaf chain of tree file \"%s\" is not a leaf\n", y,
                      treeFileName(gQuery.treeIndex));
            const int v = leafInputChecked(tree[y]);
            if (gQuery.bitLengths[v] == length) {
                if (further == 0) {
                    gQuery.equivClasses++;
                    fprintf(gQuery.out, "Equiv (length %d): %d", length, u + io);
                }
                gQuery.equivRedundant++;
                further++;
                fprintf(gQuery.out, ", %d", v + io);
            }
            if (!moreFollows(tree[y])) break;
        }
    }
    if (further > 0) fputs("\n", gQuery.out);
    check.state = 1 + further;
    check.firstInput = u;
    if (further > gQuery.equivLargest) gQuery.equivLargest = further;
}

void equivChainEnd(const ChainCheck& check, int leaves, bool belowHead) {
    if (check.state == 0) return;
    if (check.state < leaves || belowHead) {
        gQuery.contained++;
        fprintf(gQuery.out, "Containment: input %d\n", check.firstInput + gSettings.indexOrigin);
    }
}

const char* treeFileName(int t) {
    static std::string name;
    name = formatPath(kPathLimit, "%s_%d%s", gQuery.treeBase, t, ".stree");
    return name.c_str();
}
