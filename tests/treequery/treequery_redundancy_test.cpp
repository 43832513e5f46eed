// Redundant inputs on both strands against an O(n^2) scan of the FASTA texts: random
// collections with planted identical and contained copies (as given and reverse
// complemented, whole and sliced), N runs inside and at the ends, inputs of one
// base, trees cut small so that patterns cross several of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tests/treequery/treequery_dataset.h"
#include "tests/treequery/open_query.h"
#include "treequery/redundancy.h"

namespace {

using namespace testsupport;

using Row = std::tuple<int, int, bool, bool, int64_t>;  // input, other, identical, reverse, start

std::string randomBases(std::mt19937& rng, int n) {
    std::string s;
    for (int i = 0; i < n; i++) s.push_back("acgt"[rng() % 4]);
    return s;
}

// Random FASTA texts: fresh ones with N runs, and copies of earlier ones.
std::vector<std::string> randomCollection(std::mt19937& rng) {
    std::vector<std::string> fasta;
    const int n = 2 + (int)(rng() % 7);
    for (int i = 0; i < n; i++) {
        const int kind = i == 0 ? 0 : (int)(rng() % 5);
        std::string s;
        if (kind <= 1) {
            s = randomBases(rng, 1 + (int)(rng() % (rng() % 4 == 0 ? 3 : 40)));
            for (int r = (int)(rng() % 3); r > 0 && !s.empty(); r--)
                s.insert(rng() % (s.size() + 1), std::string(1 + rng() % 3, 'n'));
        } else {
            const std::string& from = fasta[rng() % fasta.size()];
            size_t a = rng() % from.size(), b = rng() % from.size();
            if (a > b) std::swap(a, b);
            s = kind == 2 ? from : from.substr(a, b - a + 1);
            if (kind == 4) s = randomBases(rng, (int)(rng() % 3)) + s + randomBases(rng, (int)(rng() % 3));
            if (rng() % 2) s = reverseComplement(s);
        }
        fasta.push_back(s);
    }
    return fasta;
}

size_t basesBefore(const std::string& s, size_t f) {
    return (size_t)std::count_if(s.begin(), s.begin() + (long)f, [](char c) { return c != 'n'; });
}

std::vector<Row> bruteForce(const std::vector<std::string>& fasta, const std::vector<int>& length, bool all) {
    std::vector<Row> rows;
    const int n = (int)fasta.size();
    for (int a = 0; a < n; a++) {
        if (length[a] == 0) continue;
        const std::string& t = fasta[a];
        const std::string trimmed = t.substr(t.find_first_not_of('n'), t.find_last_not_of('n') - t.find_first_not_of('n') + 1);
        const std::string strands[2] = {trimmed, reverseComplement(trimmed)};
        std::vector<int> others;
        for (int b = 0; b < n; b++)
            if (b != a && (length[b] > length[a] || (length[b] == length[a] && b < a))) others.push_back(b);
        std::stable_sort(others.begin(), others.end(), [&](int x, int y) { return length[x] > length[y]; });
        for (int b : others) {
            bool found = false;
            for (int strand = 0; strand < 2 && !found; strand++) {
                const size_t f = fasta[b].find(strands[strand]);
                if (f == std::string::npos) continue;
                rows.emplace_back(a, b, length[a] == length[b], strand == 1, (int64_t)basesBefore(fasta[b], f));
                found = true;
            }
            if (found && !all) break;
        }
    }
    return rows;
}

TEST(Redundancy, EqualsScanOfFastaTextsOnBothStrands) {
    int reverse = 0, identical = 0, rows = 0;  // the planted kinds must all occur
    seededRounds(2111, 150, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        std::vector<std::string> fasta = randomCollection(rng);
        std::vector<std::string> filtered(fasta.size());
        std::vector<InputMap> maps;
        std::vector<int> length;
        for (size_t i = 0; i < fasta.size(); i++) {
            maps.push_back(mapOf(fasta[i], &filtered[i]));
            length.push_back((int)filtered[i].size());
        }
        if (*std::max_element(length.begin(), length.end()) == 0) return;
        TempDir dir("redundancy");
        tqdata::writeDataSet(dir.path, "r", filtered, 6 + (int)(rng() % 40));
        OpenQuery open(dir.path, "r", maps);
        for (bool all : {false, true}) {
            std::vector<Row> got;
            for (const RedundantRow& r : findRedundant(open.run, all))
                got.emplace_back(r.input, r.other, r.identical, r.reverse, r.start);
            EXPECT_EQ(got, bruteForce(fasta, length, all)) << (all ? "--all" : "representatives");
            for (const Row& r : got) {
                rows++;
                identical += std::get<2>(r);
                reverse += std::get<3>(r);
            }
        }
    });
    EXPECT_GT(reverse, 20);
    EXPECT_GT(identical, 20);
    EXPECT_GT(rows - identical, 20);
}

}  // namespace
