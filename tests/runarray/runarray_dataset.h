// Test helpers for the sorter: a data set as the converter lays it out, and the sorter
// binary. The brute-force orders, prefix words and LCP values come from tests/support.
#pragma once

#include <string>
#include <vector>

#include "tests/support/data_set.h"
#include "tests/support/dna.h"
#include "tests/support/files.h"
#include "tests/support/run.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"

namespace runarray_test {

using namespace testsupport;

// Writes <dir><prefix>.ST/ with one .stdna and .stbin per input and both catalogues;
// returns that directory.
inline std::string makeDataSet(const std::string& dir, const std::string& prefix,
                               const std::vector<std::string>& inputs) {
    writeInputs(dir, prefix, inputs);
    return dir + prefix + ".ST/";
}

inline std::string runarrayBinary() { return binary("runarray"); }

}  // namespace runarray_test
