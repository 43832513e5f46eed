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

void reportExact(const char* pattern, int m) {
    const int count = gQuery.occurrenceCount;
    const int files = vectorCount(gQuery.inputVector, gQuery.inputs);
    const int origin = gSettings.indexOrigin;
    std::string shown = shownPattern(pattern, m);
    if (!gRun.quiet && count > 0)
        note("Pattern %s (len=%d) occurs %d time%s in %d file%s\n", shown.c_str(), m, count, plural(count), files,
             plural(files));
    if (gSettings.countonly) return;
    FILE* out = gQuery.out;
    if (!gSettings.consolidate || !gQuery.tableHeaderPrinted) {
        fprintf(out, "#tab: %s:  Exact Pattern Search Results:  (%d time%s in %d file%s, length=%d)   \"%s\"\n",
                gSettings.treePrefix, count, plural(count), files, plural(files), m, shown.c_str());
        fprintf(out, "#cols: Number Sequence Position Length Right SeqLength Count\n");
        gQuery.tableHeaderPrinted = 1;
    }
    const int rows = count < gSettings.maxNum ? count : gSettings.maxNum;
    for (int k = 0; k < rows; k++) {
        const Occurrence& o = gQuery.occurrences[k];
        const int length = gQuery.lengths[o.input];
        fprintf(out, "%5d %3d %6d %6d %6d %6d %d\n", k + origin, o.input + origin, o.position + origin, m,
                length - o.position - m, length, count);
    }
}
