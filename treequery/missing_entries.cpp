// Entries of the traversal and the inexact search for builds without their files.
#include "toolkit/run.h"
#include "treequery/treequery.h"

#ifdef TREEQUERY_NO_TRAVERSAL
void runTraversal() { fatal("this build of treequery has no traversal\n"); }
#endif

#ifdef TREEQUERY_NO_INEXACT
int inexactSearch(const char*, int, int, const char*, const char*) {
    fatal("this build of treequery has no inexact search\n");
}
#endif
