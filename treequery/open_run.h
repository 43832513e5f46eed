// A query run opened for the library functions that take one (findRedundant,
// findRepeats): the catalogue, the checksum files and the dividers, quiet.
#pragma once

#include "treequery/treequery.h"

// `dir` ends in "/" (the stages' input directory), `prefix` the data set's; trees are
// mapped when `mapped`, else read. s and q live as long as the run is used.
void openQueryRun(QuerySettings& s, QueryRun& q, const char* dir, const char* prefix, bool mapped);
