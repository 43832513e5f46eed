// The tables of the traversal: Standard N, Standard K, and one table per result set
// (custom sets with singles and pairs, then K sets, then N sets).
#include <algorithm>
#include <cstdio>
#include <string>

#include "treequery/traversal.h"
#include "treequery/tree_store.h"
#include "treequery/user_terms.h"

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
// The cells that the table row and the -F tsv row share: the Where bits, the length
// in characters and the Pattern text.
struct RowCells {
    char where[33];
    int chars;
    const char* pattern = "";
};
RowCells rowCells(QueryRun& q, const ResultRecord& r) {
    RowCells c;
    whereCell(r.where, q.catalogue.inputs, c.where);
    c.chars = r.length / 2;
    if (q.settings->prlength > 0) {
        fetchSubstring(q.texts, r.sequence, r.position, std::min(q.settings->prlength, c.chars), q.printBuffer);
        c.pattern = q.printBuffer;
    }
    return c;
}

void resultRow(QueryRun& q, FILE* out, int number, const ResultRecord& r) {
    const RowCells c = rowCells(q, r);
    const int io = q.settings->indexOrigin;
    fprintf(out, " %3d %s  %3d %3d %3d  %3d %6d %6d  %s\n", number, c.where, r.K, r.N, r.NC,
            r.sequence + io, r.position + io, c.chars, c.pattern);
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

namespace {

// One -F tsv row: today's fields, the input's name, the FASTA start of the reported
// position and whether the repeat there spans a removed stretch (joined bases that do
// not occur in the FASTA file as one piece).
void tsvRow(QueryRun& q, FILE* out, const std::string& table, int number, const ResultRecord& r) {
    const RowCells c = rowCells(q, r);
    const int chars = c.chars;
    const int io = q.settings->indexOrigin;
    const InputMap& map = q.maps[(size_t)r.sequence];
    const long long start = fastaOffset(map, r.position) + 1;
    const bool spans = spansRemoved(map, r.position, (long long)r.position + chars);
    fprintf(out, "%s\t%d\t%d\t%d\t%d\t%d\t%s\t%d\t%lld\t%d\t%s\t%s\t%s\n", table.c_str(), number, r.K, r.N, r.NC,
            r.sequence + io, q.names[(size_t)r.sequence].name.c_str(), r.position + io, start, chars,
            spans ? "yes" : "no", c.where, c.pattern);
}

std::string setLabel(const QueryRun& q, const ResultSet& set) {
    const int io = q.settings->indexOrigin;
    if (set.kind == kKSet) return "K=" + std::to_string(set.members[0]);
    if (set.kind == kNSet) return "N=" + std::to_string(set.members[0]);
    std::string label = "subset";
    for (int m = 0; m < set.memberCount; m++) {
        label += m ? ',' : ':';
        label += std::to_string(set.members[m] + io);
    }
    return label;
}

}  // namespace

void printTraversalTsv(QueryRun& q) {
    const QuerySettings& s = *q.settings;
    FILE* out = q.out;
    fputs("table\tnumber\tK\tN\tNC\tinput\tsequence\tposition\tstart\tlength\tspans_removed\twhere\tpattern\n", out);
    if (s.sresults != 0 && q.standardN != nullptr)
        for (int n = 2; n < s.sresults; n++)
            if (q.standardN[n].length != 0) tsvRow(q, out, "standard_N", n, q.standardN[n]);
    if (s.kresults != 0 && q.standardK != nullptr)
        for (int n = 2; n < std::min(s.kresults, q.catalogue.inputs + 1); n++)
            if (q.standardK[n].length != 0) tsvRow(q, out, "standard_K", n, q.standardK[n]);
    for (int j = 0; j < q.setCount; j++) {
        ResultSet& set = q.sets[j];
        const std::string label = setLabel(q, set);
        finalOrder(set);
        for (int p = 0; p < set.heapSize; p++) {
            const ResultRecord& r = set.records[set.order[p]];
            if (r.length != 0) tsvRow(q, out, label, p + s.indexOrigin, r);
        }
    }
    if (s.equiv) {
        fputs("\nrelation\tinput\tsequence\tother_input\tother_sequence\n", out);
        for (const std::string& row : q.relations) fputs(row.c_str(), out);
    }
}
