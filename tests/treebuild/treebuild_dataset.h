// Test data sets for treebuild, written directly: the inputs and catalogues, and sorted
// runs made by brute force as the sorter would write them.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/data_set.h"
#include "tests/support/dna.h"
#include "tests/support/files.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"

namespace tbdata {

using namespace testsupport;

// Sorted runs as runarray writes them: each run's inputs in the sorter's order, with
// the per-run LCP values and the partitions catalogue. `base` is the data set's base.
inline void writeRuns(const std::string& base, const std::vector<std::string>& inputs,
                      const std::vector<int>& runCounts, bool zeroOrigin) {
    std::vector<int32_t> partitions;
    int first = 0;
    for (size_t r = 0; r < runCounts.size(); r++) {
        std::vector<Record> records;
        std::vector<uint32_t> lcps;
        std::string_view previous;
        for (const Suffix& s : runOrder(inputs, first, first + runCounts[r])) {
            const std::string& input = inputs[static_cast<size_t>(s.input)];
            Record rec = suffixRecord(input, s.input, s.offset);
            if (zeroOrigin) rec.word0 -= static_cast<uint32_t>(first) << 2;
            records.push_back(rec);
            std::string_view text = std::string_view(input).substr(s.offset);
            lcps.push_back(runLcpValue(text, previous));
            previous = text;
        }
        writeFile(base + "_" + std::to_string(r) + ".stpsa", records);
        writeFile(base + "_" + std::to_string(r) + ".stlcp", lcps);
        partitions.push_back(runCounts[r]);
        first += runCounts[r];
    }
    writeFile(base + ".stplengths", partitions);
}

// Random cut of n inputs into runs of 1 to maxRun inputs.
inline std::vector<int> randomRuns(std::mt19937& rng, int n, int maxRun) {
    std::vector<int> runs;
    while (n > 0) {
        int k = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxRun));
        k = std::min(k, n);
        runs.push_back(k);
        n -= k;
    }
    return runs;
}

}  // namespace tbdata
