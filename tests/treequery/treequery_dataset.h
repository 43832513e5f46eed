// Data sets for treequery tests written directly: inputs, catalogues, and the trees of
// a trie of all suffixes (tests/support/trie_trees.h), cut every maxNodes records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/data_set.h"
#include "tests/support/dna.h"
#include "tests/support/files.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"
#include "tests/support/trie_trees.h"
#include "toolkit/records.h"

namespace tqdata {

using namespace testsupport;
using Node = TreeNode;
using Divider = TreeDivider;

// Writes <dir><prefix>.ST/ with the inputs (lower case unless `upper`), catalogues and
// trees of at most maxNodes records; returns the data-set base.
inline std::string writeDataSet(const std::string& dir, const std::string& prefix,
                                const std::vector<std::string>& inputs, int maxNodes, bool upper = false) {
    std::string base = writeInputs(dir, prefix, inputs, upper);
    writeTreeFiles(base, trieTrees(inputs, maxNodes));
    return base;
}

}  // namespace tqdata
