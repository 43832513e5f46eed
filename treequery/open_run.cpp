// Opens a query run for the library functions (open_run.h), in the order of work of
// treequery's own driver: paths, catalogue, checksums, dividers.
#include "treequery/open_run.h"

#include "toolkit/run.h"

void openQueryRun(QuerySettings& s, QueryRun& q, const char* dir, const char* prefix, bool mapped) {
    gRun.quiet = 1;
    s.inputDir = dir;
    s.inputPrefix = prefix;
    s.rgenome = -1;
    s.maxNum = kDefaultMaxNum;
    s.usemmap = mapped;
    q.settings = &s;
    q.store.catalogue = &q.catalogue;
    q.store.mapped = mapped;
    makePaths(s, q);
    readCatalogue(q);
    loadTextSums(q.texts);
    loadTreeSums(q.store);
    verifyCatalogue(q);
    readDividers(q.store);
}
