// The merged arrays of treebuild -a against the brute-force order of all suffixes, on
// random data sets cut into many runs, for every way of merging.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tests/support/run.h"
#include "tests/treebuild/treebuild_dataset.h"

using namespace tbdata;

namespace {

const std::string kTreebuild = std::string(BIN_DIR) + "/treebuild";
const std::string kRunarray = std::string(BIN_DIR) + "/runarray";

struct Merged {
    std::vector<Record> records;
    std::vector<uint32_t> lcps;
};

Merged runMerge(const std::string& dir, const std::string& options, const std::string& tag) {
    std::string outPrefix = "out" + tag;
    // A small stream budget: the default reserves 300 MB per run, slow under the sanitizers.
    std::string cmd = kTreebuild + " " + dir + " ds -a -q -m 1000000 -p " + outPrefix + " " + options;
    const Captured c = runCaptured(cmd);
    EXPECT_EQ(c.status, 0) << shown(cmd, c);
    std::string base = dir + outPrefix + ".ST/" + outPrefix;
    return Merged{readRecords<Record>(base + ".stpsa"), readRecords<uint32_t>(base + ".stlcp")};
}

// Checks the global order, that every suffix comes once with its exact record, and the
// LCP values (all 0 for the heap merge).
void checkAgainstBruteForce(const std::vector<std::string>& inputs, const Merged& m, bool heap,
                            const std::string& what) {
    size_t total = 0;
    for (const std::string& s : inputs) total += s.size();
    ASSERT_EQ(m.records.size(), total) << what;
    ASSERT_EQ(m.lcps.size(), total) << what;
    std::set<std::pair<uint32_t, uint32_t>> seen;
    std::string previous;
    for (size_t k = 0; k < total; k++) {
        const Record& r = m.records[k];
        uint32_t input = r.word0 >> 2;
        ASSERT_LT(input, inputs.size()) << what << " record " << k;
        const std::string& s = inputs[input];
        ASSERT_LT(r.offset, s.size()) << what << " record " << k;
        ASSERT_TRUE(seen.insert({input, r.offset}).second) << what << " suffix delivered twice at " << k;
        ASSERT_EQ(r, suffixRecord(s, static_cast<int>(input), r.offset)) << what << " record " << k;
        std::string suffix = s.substr(r.offset);
        if (k > 0) {
            ASSERT_LE(previous, suffix) << what << " order broken at record " << k;
            uint32_t expected = heap ? 0 : bitLcpValue(previous, suffix);
            ASSERT_EQ(m.lcps[k], expected) << what << " LCP of record " << k;
        } else {
            ASSERT_EQ(m.lcps[k], 0u) << what;
        }
        previous = suffix;
    }
}

// Same suffix order and the same records in each group of identical suffixes.
void expectSameGroups(const std::vector<std::string>& inputs, const Merged& a, const Merged& b,
                      const std::string& what) {
    ASSERT_EQ(a.records.size(), b.records.size()) << what;
    std::map<std::string, std::multiset<uint32_t>> ga, gb;
    for (size_t k = 0; k < a.records.size(); k++) {
        const Record& ra = a.records[k];
        const Record& rb = b.records[k];
        std::string sa = inputs[ra.word0 >> 2].substr(ra.offset);
        std::string sb = inputs[rb.word0 >> 2].substr(rb.offset);
        ASSERT_EQ(sa, sb) << what << " record " << k;
        ga[sa].insert(ra.word0);
        gb[sb].insert(rb.word0);
    }
    EXPECT_EQ(ga, gb) << what;
}

struct Case {
    std::vector<std::string> inputs;
    std::vector<int> runs;
};

Case randomCase(std::mt19937& rng) {
    Case c;
    int n = 1 + static_cast<int>(rng() % 12);
    int alphabet = rng() % 3 == 0 ? 2 : 4;  // a small alphabet makes long shared prefixes and identical suffixes
    for (int i = 0; i < n; i++) {
        int len = rng() % 10 == 0 ? static_cast<int>(rng() % 3) : 1 + static_cast<int>(rng() % 200);
        if (rng() % 6 == 0 && i > 0)  // copies and extensions of earlier inputs
            c.inputs.push_back(c.inputs[rng() % static_cast<unsigned>(i)] + randomBases(rng, rng() % 3));
        else
            c.inputs.push_back(randomBases(rng, len, alphabet));
    }
    c.runs = randomRuns(rng, n, 4);
    return c;
}

// One seeded random case per round, in a fresh folder, with its inputs written.
template <class Body>
void mergeRounds(unsigned count, Body body) {
    seededRounds(20261208, count, [&](SeededRound& round) {
        Case c = randomCase(round.rng);
        TempDir temp("tbmerge");
        const std::string base = writeInputs(temp.path, "ds", c.inputs);
        body(round, c, temp.path, base);
    });
}

// The list merge and the heap merge (-H) of the runs, each against the brute force,
// with `z` before their options; returns the list merge's arrays.
Merged listAndHeap(const std::string& dir, const std::vector<std::string>& inputs, const std::string& z) {
    Merged list = runMerge(dir, z, "list");
    checkAgainstBruteForce(inputs, list, false, "list");
    Merged heap = runMerge(dir, z + " -H", "heap");
    checkAgainstBruteForce(inputs, heap, true, "heap");
    expectSameGroups(inputs, list, heap, "list vs heap");
    return list;
}

void expectSameArrays(const Merged& a, const Merged& b, const std::string& what) {
    EXPECT_EQ(a.records, b.records) << what;
    EXPECT_EQ(a.lcps, b.lcps) << what;
}

TEST(TreebuildMerge, ArrayOutputMatchesBruteForceForEveryMerge) {
    mergeRounds(12, [&](SeededRound& round, const Case& c, const std::string& dir, const std::string& base) {
        bool zero = round.rng() % 2;
        writeRuns(base, c.inputs, c.runs, zero);
        std::string z = zero ? " -z" : "";
        Merged list = listAndHeap(dir, c.inputs, z);
        // The same merge from stored LCPs, open descriptors, no prefix words, tiny stream
        // buffers and tiny output blocks gives exactly the same arrays.
        for (const char* options : {" -Z", " -f", " -X", " -M 48", " -n 3", " -Z -f -M 16 -n 1"})
            expectSameArrays(runMerge(dir, z + options, "other"), list, options);
    });
}

// The tree builder receives the same suffixes and LCP values from every merge: the
// trees are byte for byte the same, and with -H (which may order identical suffixes
// of different inputs otherwise) the dividers are.
TEST(TreebuildMerge, EveryMergeBuildsTheSameTrees) {
    mergeRounds(6, [&](SeededRound& round, const Case& c, const std::string& dir, const std::string& base) {
        writeRuns(base, c.inputs, c.runs, false);
        std::string nodes = " -n " + std::to_string(3 + round.rng() % 60);
        auto build = [&](const std::string& options, const std::string& prefix) {
            std::string cmd = kTreebuild + " " + dir + " ds -q -m 1000000 -p " + prefix + nodes + options;
            const Captured run = runCaptured(cmd);
            EXPECT_EQ(run.status, 0) << shown(cmd, run);
            std::string out = dir + prefix + ".ST/" + prefix;
            std::string trees;
            for (int t = 0; exists(out + "_" + std::to_string(t) + ".stree"); t++)
                trees += readFile(out + "_" + std::to_string(t) + ".stree");
            return std::make_pair(readFile(out + ".stdiv"), trees);
        };
        auto list = build("", "list");
        EXPECT_FALSE(list.first.empty());
        for (const char* options : {" -Z", " -X -f", " -M 32", " -Z -M 16 -f"}) EXPECT_EQ(build(options, "other"), list) << options;
        EXPECT_EQ(build(" -H", "heap").first, list.first);
    });
}

// With runarray's own runs: -r small and -S, with and without -z and -Z.
TEST(TreebuildMerge, RunsSortedByRunarray) {
    if (!exists(kRunarray)) GTEST_SKIP() << "runarray not built";
    mergeRounds(6, [&](SeededRound& round, const Case& c, const std::string& dir, const std::string&) {
        const char* sorting = round.index % 2 ? "-S" : "-r 300";
        bool zero = round.index % 3 == 0;
        std::string cmd = kRunarray + " " + dir + " ds -q -Z " + sorting + (zero ? " -z" : "");
        const Captured sorted = runCaptured(cmd);
        ASSERT_EQ(sorted.status, 0) << shown(cmd, sorted);
        std::string z = zero ? " -z" : "";
        Merged list = listAndHeap(dir, c.inputs, z);
        expectSameArrays(runMerge(dir, z + " -Z -f", "stored"), list, "stored");
    });
}

}  // namespace
