// The tables of the traversal: Standard N, Standard K, and one table per result set
// (custom sets with singles and pairs, then K sets, then N sets).
#include <algorithm>
#include <cstdio>

#include "treequery/traversal.h"
#include "treequery/tree_store.h"

void whereCell(int32_t where, int inputs, char* text) {
    int n = 0;
    if (inputs <= 32) {
        uint32_t bits = (uint32_t)where;
        for (; n < inputs; n++) text[n] = (bits & (0x80000000u >> n)) ? '1' : '0';
    }
    text[n] = '\0';
}

namespace {

void columnLine(FILE* out) {
    fprintf(out, "#cols: Number%s K N NC Sequence Position Length%s\n",
            gQuery.inputs <= 32 ? " Where" : "", gSettings.prlength > 0 ? " Pattern" : "");
}

// One row; the Pattern cell is read from the input's text. When that file cannot be
// opened the fetch says so and the cell keeps the previous row's text.
void resultRow(FILE* out, int number, const ResultRecord& r) {
    char where[33];
    whereCell(r.where, gQuery.inputs, where);
    const int chars = r.length / 2;
    const int io = gSettings.indexOrigin;
    const char* pattern = "";
    if (gSettings.prlength > 0) {
        fetchSubstring(r.sequence, r.position, std::min(gSettings.prlength, chars), gQuery.printBuffer);
        pattern = gQuery.printBuffer;
    }
    fprintf(out, " %3d %s  %3d %3d %3d  %3d %6d %6d  %s\n", number, where, r.K, r.N, r.NC,
            r.sequence + io, r.position + io, chars, pattern);
}

void standardTable(FILE* out, const ResultRecord* array, int last, bool first, const char* title) {
    fputs(first ? "\n" : "\n\n", out);
    fprintf(out, "#tab: %s:  %s\n", gSettings.treePrefix, title);
    columnLine(out);
    for (int n = 2; n < last; n++)
        if (array[n].length != 0) resultRow(out, n, array[n]);
}

void setTable(FILE* out, int j) {
    ResultSet& set = gQuery.sets[j];
    const int io = gSettings.indexOrigin;
    fputs("\n\n", out);
    if (set.kind == kCustomSet) {
        fprintf(out, "#tab: %s:  Custom Results (%d):  Subset", gSettings.treePrefix, j + io);
        for (int m = 0; m < set.memberCount; m++) fprintf(out, " %d", set.members[m] + io);
    } else {
        char letter = set.kind == kKSet ? 'K' : 'N';
        fprintf(out, "#tab: %s:  %c Results (%d):  %c=%d", gSettings.treePrefix, letter, j + io,
                letter, set.members[0]);
    }
    fprintf(out, "  (%d results total)\n", set.total);
    finalOrder(set);
    columnLine(out);
    for (int p = 0; p < set.heapSize; p++) {
        const ResultRecord& r = set.records[set.order[p]];
        if (r.length != 0) resultRow(out, p + io, r);
    }
}

}  // namespace

void printTraversalTables() {
    FILE* out = gQuery.out;
    if (gSettings.sresults != 0 && gQuery.standardN != nullptr)
        standardTable(out, gQuery.standardN, gSettings.sresults, true,
                      "Standard N Results:  (LCS occurring <Num=N> times, anywhere, any number of inputs)");
    if (gSettings.kresults != 0 && gQuery.standardK != nullptr)
        standardTable(out, gQuery.standardK, std::min(gSettings.kresults, gQuery.inputs + 1), false,
                      "Standard K Results:  (LCS occurring in exactly <Num=K> distinct inputs)");
    for (int j = 0; j < gQuery.setCount; j++) setTable(out, j);
    fputs("\n", out);
}
