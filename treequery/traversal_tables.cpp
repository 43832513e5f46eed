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

void columnLine(const QueryRun& q, FILE* out) {
    fprintf(out, "#cols: Number%s K N NC Sequence Position Length%s\n",
            q.catalogue.inputs <= 32 ? " Where" : "", q.settings->prlength > 0 ? " Pattern" : "");
}

// One row; the Pattern cell is read from the input's text. When that file cannot be
// opened the fetch says so and the cell keeps the previous row's text.
void resultRow(QueryRun& q, FILE* out, int number, const ResultRecord& r) {
    const QuerySettings& s = *q.settings;
    char where[33];
    whereCell(r.where, q.catalogue.inputs, where);
    const int chars = r.length / 2;
    const int io = s.indexOrigin;
    const char* pattern = "";
    if (s.prlength > 0) {
        fetchSubstring(q.texts, r.sequence, r.position, std::min(s.prlength, chars), q.printBuffer);
        pattern = q.printBuffer;
    }
    fprintf(out, " %3d %s  %3d %3d %3d  %3d %6d %6d  %s\n", number, where, r.K, r.N, r.NC,
            r.sequence + io, r.position + io, chars, pattern);
}

void standardTable(QueryRun& q, FILE* out, const ResultRecord* array, int last, bool first, const char* title) {
    const QuerySettings& s = *q.settings;
    fputs(first ? "\n" : "\n\n", out);
    fprintf(out, "#tab: %s:  %s\n", s.treePrefix, title);
    columnLine(q, out);
    for (int n = 2; n < last; n++)
        if (array[n].length != 0) resultRow(q, out, n, array[n]);
}

void setTable(QueryRun& q, FILE* out, int j) {
    const QuerySettings& s = *q.settings;
    ResultSet& set = q.sets[j];
    const int io = s.indexOrigin;
    fputs("\n\n", out);
    if (set.kind == kCustomSet) {
        fprintf(out, "#tab: %s:  Custom Results (%d):  Subset", s.treePrefix, j + io);
        for (int m = 0; m < set.memberCount; m++) fprintf(out, " %d", set.members[m] + io);
    } else {
        char letter = set.kind == kKSet ? 'K' : 'N';
        fprintf(out, "#tab: %s:  %c Results (%d):  %c=%d", s.treePrefix, letter, j + io,
                letter, set.members[0]);
    }
    fprintf(out, "  (%d results total)\n", set.total);
    finalOrder(set);
    columnLine(q, out);
    for (int p = 0; p < set.heapSize; p++) {
        const ResultRecord& r = set.records[set.order[p]];
        if (r.length != 0) resultRow(q, out, p + io, r);
    }
}

}  // namespace

void printTraversalTables(QueryRun& q) {
    const QuerySettings& s = *q.settings;
    FILE* out = q.out;
    if (s.sresults != 0 && q.standardN != nullptr)
        standardTable(q, out, q.standardN, s.sresults, true,
                      "Standard N Results:  (LCS occurring <Num=N> times, anywhere, any number of inputs)");
    if (s.kresults != 0 && q.standardK != nullptr)
        standardTable(q, out, q.standardK, std::min(s.kresults, q.catalogue.inputs + 1), false,
                      "Standard K Results:  (LCS occurring in exactly <Num=K> distinct inputs)");
    for (int j = 0; j < q.setCount; j++) setTable(q, out, j);
    fputs("\n", out);
}
