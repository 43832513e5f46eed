// Maximal repeats against brute force on random collections with planted copies (as
// given and reverse complemented): every maximal pair of positions on the strands
// searched gives a repeat's string, and each listed repeat must be one of them with
// exactly its copies; the lengths listed must be the longest. Trees are cut small,
// so that repeats cross trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/treequery/treequery_dataset.h"
#include "tests/treequery/open_query.h"
#include "treequery/repeats.h"

namespace {

using namespace testsupport;

using Copy = std::tuple<int, int64_t, bool>;  // input, start, reverse
using Listed = std::map<std::string, std::vector<Copy>>;  // by the string of the first copy

std::vector<std::string> plantedCollection(std::mt19937& rng) {
    std::vector<std::string> texts(1 + rng() % 4);
    for (std::string& t : texts)
        for (int n = (int)(rng() % 60) + (rng() % 5 == 0 ? 0 : 1); n > 0; n--) t.push_back("acgt"[rng() % 4]);
    for (int k = (int)(rng() % 4); k > 0; k--) {
        const std::string& from = texts[rng() % texts.size()];
        if (from.empty()) continue;
        const size_t a = rng() % from.size(), n = 1 + rng() % std::min<size_t>(from.size() - a, 25);
        std::string piece = from.substr(a, n);
        if (rng() % 2) piece = reverseComplement(piece);
        std::string& to = texts[rng() % texts.size()];
        to.insert(rng() % (to.size() + 1), piece);
    }
    return texts;
}

// Every maximal repeat (each maximal pair's string) with its copies.
Listed bruteForce(const std::vector<std::string>& texts, const RepeatSettings& r) {
    struct Strand {
        int input;
        bool reverse;
        std::string s;
    };
    std::vector<Strand> strands;
    for (size_t i = 0; i < texts.size(); i++) {
        strands.push_back({(int)i, false, texts[i]});
        if (r.inverted) strands.push_back({(int)i, true, reverseComplement(texts[i])});
    }
    std::set<std::string> strings;
    for (size_t u = 0; u < strands.size(); u++)
        for (size_t v = u; v < strands.size(); v++) {
            const std::string &a = strands[u].s, &b = strands[v].s;
            for (size_t x = 0; x < a.size(); x++)
                for (size_t y = u == v ? x + 1 : 0; y < b.size(); y++) {
                    if (x > 0 && y > 0 && a[x - 1] == b[y - 1]) continue;
                    size_t l = 0;
                    while (x + l < a.size() && y + l < b.size() && a[x + l] == b[y + l]) l++;
                    if (l > 0) strings.insert(a.substr(x, l));
                }
        }
    Listed listed;
    for (const std::string& w : strings) {
        if ((int64_t)w.size() < r.minLength) continue;
        std::set<std::pair<int, int64_t>> seen;
        std::vector<Copy> copies;
        for (const Strand& st : strands) {
            const std::string& t = texts[(size_t)st.input];
            const std::string want = st.reverse ? reverseComplement(w) : w;
            for (size_t at = t.find(want); at != std::string::npos; at = t.find(want, at + 1))
                if (seen.insert({st.input, (int64_t)at}).second) copies.emplace_back(st.input, (int64_t)at, st.reverse);
        }
        std::sort(copies.begin(), copies.end());
        if (copies.size() < 2) continue;
        if (r.between && std::get<0>(copies.front()) == std::get<0>(copies.back())) continue;
        std::string first = w;
        if (std::get<2>(copies.front())) {
            first = reverseComplement(w);
            for (Copy& c : copies) std::get<2>(c) = !std::get<2>(c);
        }
        listed[first] = copies;
    }
    return listed;
}

// Counts of what the checked cases held, so that a test can insist they were not trivial.
struct Seen {
    int inverted = 0;  // repeats with copies on both strands
    int long_ = 0;     // repeats of 10 bases or more
};

// The repeats found on texts (trees of maxNodes records) equal the brute force's: each
// listed one a maximal repeat with exactly its copies, and the lengths the longest.
void expectBruteForce(const std::vector<std::string>& texts, const RepeatSettings& r, int maxNodes, Seen& seen) {
    SCOPED_TRACE(testing::Message() << "inverted " << r.inverted << " between " << r.between << " top " << r.top
                                    << " min " << r.minLength);
    TempDir dir("repeats");
    tqdata::writeDataSet(dir.path, "r", texts, maxNodes);
    OpenQuery open(dir.path, "r");
    const std::vector<Repeat> got = findRepeats(open.run, r);
    const Listed expected = bruteForce(texts, r);

    std::vector<int64_t> lengths, expectedLengths;
    for (const auto& [w, copies] : expected) expectedLengths.push_back((int64_t)w.size());
    std::sort(expectedLengths.rbegin(), expectedLengths.rend());
    if (r.top > 0 && expectedLengths.size() > (size_t)r.top) expectedLengths.resize((size_t)r.top);
    for (const Repeat& rep : got) {
        lengths.push_back(rep.length);
        ASSERT_FALSE(rep.copies.empty());
        const RepeatCopy& c = rep.copies.front();
        const std::string w = texts[(size_t)c.input].substr((size_t)c.start, (size_t)rep.length);
        std::vector<Copy> copies;
        for (const RepeatCopy& k : rep.copies) copies.emplace_back(k.input, k.start, k.reverse);
        auto it = expected.find(w);
        ASSERT_NE(it, expected.end()) << "not a maximal repeat: " << w;
        EXPECT_EQ(copies, it->second) << w;
        seen.inverted += std::any_of(copies.begin(), copies.end(), [](const Copy& k) { return std::get<2>(k); });
        seen.long_ += rep.length >= 10;
    }
    EXPECT_EQ(lengths, expectedLengths);
}

TEST(Repeats, MaximalWithEveryCopyAndLongestFirst) {
    Seen seen;
    seededRounds(2121, 200, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        std::vector<std::string> texts = plantedCollection(rng);
        size_t total = 0;
        for (const std::string& t : texts) total += t.size();
        if (total == 0) return;
        RepeatSettings r;
        r.inverted = rng() % 2;
        r.between = rng() % 4 == 0;
        r.top = (int)std::vector<int>{0, 1, 3, 20}[rng() % 4];
        r.minLength = 1 + rng() % 4;
        expectBruteForce(texts, r, 6 + (int)(rng() % 60), seen);
    });
    EXPECT_GT(seen.inverted, 20);
    EXPECT_GT(seen.long_, 20);
}

// --inverted --between --top N where the longest repeats lie within one input (copies
// planted there on both strands) and those between inputs are shorter: the N longest
// between inputs must still all be listed.
TEST(Repeats, BetweenInputsOnBothStrandsUnderLongerRepeatsWithinOne) {
    Seen seen;
    seededRounds(2122, 60, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        std::vector<std::string> texts(2 + rng() % 2);
        for (std::string& t : texts)
            for (int n = 30 + (int)(rng() % 40); n > 0; n--) t.push_back("acgt"[rng() % 4]);
        auto plant = [&](const std::string& from, std::string& to, size_t shortest, size_t longest) {
            const size_t n = shortest + rng() % (longest - shortest + 1);
            std::string piece = from.substr(rng() % (from.size() - n + 1), n);
            if (rng() % 2) piece = reverseComplement(piece);
            to.insert(rng() % (to.size() + 1), piece);
        };
        for (int k = 3 + (int)(rng() % 4); k > 0; k--) plant(texts[0], texts[0], 10, 20);
        for (int k = 1 + (int)(rng() % 3); k > 0; k--) plant(texts[0], texts[1 + rng() % (texts.size() - 1)], 5, 9);
        RepeatSettings r;
        r.inverted = true;
        r.between = true;
        r.top = 1 + (int)(rng() % 4);
        r.minLength = 1 + rng() % 3;
        expectBruteForce(texts, r, 8 + (int)(rng() % 60), seen);
    });
    EXPECT_GT(seen.inverted, 10);
}

}  // namespace
