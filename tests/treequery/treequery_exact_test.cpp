// Exact search against a scan of the texts: random data sets with small trees (so
// that patterns straddle many trees and divider key ranges), random patterns drawn
// from the texts, mutated, in either letter case. The trees come from a trie of all
// suffixes, and once more from the real pipeline.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/output.h"
#include "tests/treequery/treequery_dataset.h"

namespace {

using tqdata::seededRounds;
using tqdata::SeededRound;

int run(const std::string& command) { return tqdata::runCommand(command + " >/dev/null 2>&1"); }

// Inputs with repeats: random bases over 2 to 4 letters, copied pieces of earlier
// text, runs of one base, and now and then a copy of a whole earlier input.
std::vector<std::string> randomInputs(std::mt19937& rng) {
    int count = 1 + (int)(rng() % 5);
    int alphabet = 2 + (int)(rng() % 3);
    std::vector<std::string> inputs;
    for (int i = 0; i < count; i++) {
        if (i > 0 && rng() % 5 == 0) {
            inputs.push_back(inputs[rng() % inputs.size()]);
            continue;
        }
        int length = 1 + (int)(rng() % 250);
        std::string s;
        while ((int)s.size() < length) {
            int kind = (int)(rng() % 6);
            if (kind == 0 && !s.empty()) {
                size_t from = rng() % s.size();
                s += s.substr(from, 1 + rng() % 40);
            } else if (kind == 1) {
                s += std::string(1 + rng() % 30, "acgt"[rng() % alphabet]);
            } else {
                s += "acgt"[rng() % alphabet];
            }
        }
        s.resize((size_t)length);
        inputs.push_back(s);
    }
    return inputs;
}

std::string randomPattern(std::mt19937& rng, const std::vector<std::string>& inputs) {
    int length = 1 + (int)(rng() % 40);
    const std::string& source = inputs[rng() % inputs.size()];
    std::string p;
    if ((int)source.size() >= length && rng() % 8 != 0) {
        p = source.substr(rng() % (source.size() - length + 1), (size_t)length);
    } else {
        for (int j = 0; j < length; j++) p += "acgt"[rng() % 4];
    }
    if (rng() % 3 == 0) p[rng() % p.size()] = "acgt"[rng() % 4];
    if (rng() % 4 == 0)
        for (char& c : p) c = (char)toupper(c);
    return p;
}

using Occurrences = std::set<std::pair<int, int>>;

Occurrences scan(const std::vector<std::string>& inputs, std::string pattern) {
    for (char& c : pattern) c = (char)tolower(c);
    Occurrences found;
    for (int i = 0; i < (int)inputs.size(); i++)
        for (size_t pos = inputs[i].find(pattern); pos != std::string::npos; pos = inputs[i].find(pattern, pos + 1))
            found.insert({i, (int)pos});
    return found;
}

// The exact-results tables of one run: per pattern the count of its title and its rows.
struct ExactTable {
    int count = -1;
    int files = -1;
    Occurrences rows;
    int rowCount = 0;
};

std::vector<ExactTable> readTables(const std::string& path) {
    std::vector<ExactTable> tables;
    for (const testsupport::Table& t : testsupport::parseTables(tqdata::readFile(path))) {
        ExactTable e;
        sscanf(t.title.c_str() + t.title.find("  ("), "  (%d time%*[s ]in %d", &e.count, &e.files);
        for (const std::string& line : t.rows) {
            int number, input, position, length, right, seqLength, count;
            if (sscanf(line.c_str(), "%d %d %d %d %d %d %d", &number, &input, &position, &length, &right, &seqLength,
                       &count) == 7) {
                e.rows.insert({input, position});
                e.rowCount++;
            }
        }
        tables.push_back(e);
    }
    return tables;
}

// Runs treequery over `patterns` (read and mapped) and compares every table with a
// scan of the inputs.
void checkPatterns(const std::string& dir, const std::vector<std::string>& inputs,
                   const std::vector<std::string>& patterns) {
    const std::string bin = BIN_DIR;
    std::string arg;
    for (const std::string& p : patterns) arg += (arg.empty() ? "" : ",") + p;
    for (const char* mode : {"", " -U"}) {
        SCOPED_TRACE(std::string("mode") + mode);
        std::string out = dir + "out.txt";
        ASSERT_EQ(run(bin + "/treequery " + dir + " ds -q -m 100000 -o " + out + mode + " -p " + arg), 0);
        std::vector<ExactTable> tables = readTables(out);
        ASSERT_EQ(tables.size(), patterns.size());
        for (size_t p = 0; p < patterns.size(); p++) {
            Occurrences expected = scan(inputs, patterns[p]);
            std::set<int> files;
            for (const auto& o : expected) files.insert(o.first);
            EXPECT_EQ(tables[p].rows, expected) << "pattern " << patterns[p];
            EXPECT_EQ(tables[p].rowCount, (int)expected.size()) << "pattern " << patterns[p];
            EXPECT_EQ(tables[p].count, (int)expected.size()) << "pattern " << patterns[p];
            EXPECT_EQ(tables[p].files, (int)files.size()) << "pattern " << patterns[p];
        }
    }
}

TEST(TreequeryExactProperty, OccurrencesEqualScanOfTexts) {
    seededRounds(1, 30, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        std::vector<std::string> inputs = randomInputs(rng);
        tqdata::TempDir temp("tqexact");
        const std::string& dir = temp.path;
        int maxNodes = 3 + (int)(rng() % 60);
        SCOPED_TRACE("maxNodes " + std::to_string(maxNodes));
        tqdata::writeDataSet(dir, "ds", inputs, maxNodes, rng() % 4 == 0);
        std::vector<std::string> patterns;
        for (int p = 0; p < 60; p++) patterns.push_back(randomPattern(rng, inputs));
        checkPatterns(dir, inputs, patterns);
    });
}

// The same through dnaprep, runarray and treebuild.
TEST(TreequeryExactProperty, OccurrencesEqualScanOfTextsThroughPipeline) {
    const std::string bin = BIN_DIR;
    seededRounds(1, 6, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        std::vector<std::string> inputs = randomInputs(rng);
        tqdata::TempDir temp("tqexact");
        const std::string& dir = temp.path;
        {
            std::ofstream fasta(dir + "in.fa");
            for (size_t i = 0; i < inputs.size(); i++) fasta << ">s" << i << "\n" << inputs[i] << "\n";
        }
        int maxNodes = 3 + (int)(rng() % 60);
        SCOPED_TRACE("maxNodes " + std::to_string(maxNodes));
        ASSERT_EQ(run(bin + "/dnaprep " + dir + " " + dir + " ds in.fa"), 0);
        ASSERT_EQ(run(bin + "/runarray " + dir + " ds"), 0);
        ASSERT_EQ(run(bin + "/treebuild " + dir + " ds -n " + std::to_string(maxNodes)), 0);
        std::vector<std::string> patterns;
        for (int p = 0; p < 60; p++) patterns.push_back(randomPattern(rng, inputs));
        checkPatterns(dir, inputs, patterns);
    });
}

}  // namespace
