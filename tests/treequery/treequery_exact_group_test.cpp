// Read mode searches a run of exact patterns as one group (each tree opened once, its
// records read in blocks as the descents reach them) and reports them in pattern
// order. Its tables and diagnostic lines must be those of the mapped search, which
// takes one pattern after the other: trees of many blocks, patterns of several trees,
// inexact patterns between exact ones, and -m below the counts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/output.h"
#include "tests/support/run.h"
#include "tests/treequery/treequery_dataset.h"

namespace {

using namespace testsupport;

// Standard error without the lines that differ between reading and mapping trees by
// design: command echo, version, options echo, buffer, mappings and statistics.
std::string comparableLines(const std::string& text) {
    return maskReport(text, {"# Command(", "# Version", "# search options", "Allocate treebuff", "mmap ", "munmap ",
                             "treequery: mem"},
                      false);
}

std::vector<std::string> randomInputs(std::mt19937& rng) {
    int count = 1 + (int)(rng() % 4);
    std::vector<std::string> inputs;
    for (int i = 0; i < count; i++) {
        int length = 200 + (int)(rng() % 1500);
        std::string s;
        while ((int)s.size() < length) {
            if (rng() % 8 == 0 && s.size() > 50) {
                size_t from = rng() % s.size();
                s += s.substr(from, 1 + rng() % 60);  // repeats: deep paths and chains
            } else {
                s += "acgt"[rng() % 4];
            }
        }
        s.resize((size_t)length);
        inputs.push_back(s);
    }
    return inputs;
}

std::string randomPattern(std::mt19937& rng, const std::vector<std::string>& inputs) {
    const std::string& text = inputs[rng() % inputs.size()];
    size_t length = 1 + rng() % 30;
    if (length > text.size()) length = text.size();
    std::string p = text.substr(rng() % (text.size() - length + 1), length);
    if (rng() % 3 == 0) p[rng() % p.size()] = "acgt"[rng() % 4];
    if (rng() % 5 == 0) p[0] = (char)toupper(p[0]);
    return p;
}

TEST(TreequeryExactGroup, ReadModeAgreesWithMappedSearchOfOnePatternAfterTheOther) {
    seededRounds(1, 8, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        std::vector<std::string> inputs = randomInputs(rng);
        TempDir temp("tqgroup");
        const std::string& dir = temp.path;
        int maxNodes = 300 + (int)(rng() % 3000);  // trees of one to several blocks
        SCOPED_TRACE("maxNodes " + std::to_string(maxNodes));
        tqdata::writeDataSet(dir, "ds", inputs, maxNodes);
        std::string arg;
        for (int p = 0; p < 80; p++) {
            std::string pattern = randomPattern(rng, inputs);
            if (p % 23 == 11) pattern[pattern.size() / 2] = '*';  // goes to the inexact search
            arg += (arg.empty() ? "" : ",") + pattern;
        }
        for (const char* options : {" -v", " -m 2", " -c -I"}) {
            SCOPED_TRACE(options);
            const std::string common = dir + " ds" + options, patterns = " -p " + arg;
            const Captured read = runProgram("treequery", common + patterns);
            const Captured mapped = runProgram("treequery", common + " -U" + patterns);
            ASSERT_EQ(read.status, 0) << read.err;
            ASSERT_EQ(mapped.status, 0) << mapped.err;
            EXPECT_EQ(read.out, mapped.out);
            EXPECT_EQ(comparableLines(read.err), comparableLines(mapped.err));
        }
    });
}

}  // namespace
