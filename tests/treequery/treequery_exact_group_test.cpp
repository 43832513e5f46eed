// Read mode searches a run of exact patterns as one group (each tree opened once, its
// records read in blocks as the descents reach them) and reports them in pattern
// order. Its tables and diagnostic lines must be those of the mapped search, which
// takes one pattern after the other: trees of many blocks, patterns of several trees,
// inexact patterns between exact ones, and -m below the counts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "treequery_dataset.h"

namespace {

using tqdata::readFile;
using tqdata::seededRounds;
using tqdata::SeededRound;

// Standard error without the lines that differ between reading and mapping trees by
// design: command echo, version, options echo, buffer, mappings and statistics.
std::string comparableLines(const std::string& text) {
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line)) {
        bool drop = false;
        for (const char* skip : {"# Command(", "# Version", "# search options", "Allocate treebuff", "mmap ",
                                 "munmap ", "treequery: mem"})
            if (line.find(skip) != std::string::npos) drop = true;
        if (!drop) kept += line + "\n";
    }
    return kept;
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
    const std::string bin = BIN_DIR;
    seededRounds(1, 8, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        std::vector<std::string> inputs = randomInputs(rng);
        tqdata::TempDir temp("tqgroup");
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
            std::string common = bin + "/treequery " + dir + " ds" + options;
            std::string patterns = " -p " + arg;
            ASSERT_EQ(tqdata::runCommand(common + patterns + " >" + dir + "read.out 2>" + dir + "read.err"), 0);
            ASSERT_EQ(tqdata::runCommand(common + " -U" + patterns + " >" + dir + "map.out 2>" + dir + "map.err"), 0);
            EXPECT_EQ(readFile(dir + "read.out"), readFile(dir + "map.out"));
            EXPECT_EQ(comparableLines(readFile(dir + "read.err")), comparableLines(readFile(dir + "map.err")));
        }
    });
}

}  // namespace
