// Report of one exact search: the count line on standard error and the
// "Exact Pattern Search Results" table on the output.
#include <cstring>
#include <string>

#include "toolkit/bit_vector.h"
#include "toolkit/run.h"
#include "treequery/treequery.h"

namespace {

// Patterns longer than 32 bases are shown as their first 32 and "...".
std::string shownPattern(const char* pattern, int m) {
    if (m <= 32) return pattern;
    return std::string(pattern, 32) + "...";
}

}  // namespace

void reportExact(QueryRun& q, const char* pattern, int m) {
    const QuerySettings& s = *q.settings;
    const int count = q.occurrenceCount;
    const int files = vectorCount(q.inputVector, q.catalogue.inputs);
    const int origin = s.indexOrigin;
    std::string shown = shownPattern(pattern, m);
    if (!gRun.quiet && count > 0)
        note("Pattern %s (len=%d) occurs %d time%s in %d file%s\n", shown.c_str(), m, count, plural(count), files,
             plural(files));
    if (s.countonly) return;
    FILE* out = q.out;
    if (!s.consolidate || !q.tableHeaderPrinted) {
        fprintf(out, "#tab: %s:  Exact Pattern Search Results:  (%d time%s in %d file%s, length=%d)   \"%s\"\n",
                s.treePrefix, count, plural(count), files, plural(files), m, shown.c_str());
        fprintf(out, "#cols: Number Sequence Position Length Right SeqLength Count\n");
        q.tableHeaderPrinted = 1;
    }
    const int rows = count < s.maxNum ? count : s.maxNum;
    for (int k = 0; k < rows; k++) {
        const Occurrence& o = q.occurrences[k];
        const int length = q.catalogue.lengths[o.input];
        fprintf(out, "%5d %3d %6d %6d %6d %6d %d\n", k + origin, o.input + origin, o.position + origin, m,
                length - o.position - m, length, count);
    }
}
