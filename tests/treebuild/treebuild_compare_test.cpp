// compareSuffixes against a brute-force comparison of the suffixes' bit strings, on
// random inputs and random pairs, with and without the prefix words.
#include <gtest/gtest.h>

#include "treebuild/compare.h"
#include "treebuild_dataset.h"

using namespace tbdata;

namespace {

// Loads the inputs into a run as the comparison reads them: bit lengths and packed
// words with the extra zero word.
struct Loaded {
    std::vector<std::string> inputs;
    std::vector<std::vector<uint32_t>> words;
    std::vector<uint32_t*> table;
    std::vector<int32_t> lengths, bits;
    BuildSettings settings;
    BuildState run;

    explicit Loaded(std::vector<std::string> in, bool noPrefix = false) : inputs(std::move(in)) {
        settings.noPrefix = noPrefix;
        for (const std::string& s : inputs) {
            words.push_back(packBases(s, 1));
            lengths.push_back(static_cast<int32_t>(s.size()));
            bits.push_back(static_cast<int32_t>(2 * s.size()));
        }
        for (auto& w : words) table.push_back(w.data());
        run.packed = table.data();
        run.lengths = lengths.data();
        run.bitLengths = bits.data();
        run.numInputs = static_cast<int>(inputs.size());
    }

    bool compare(const PsaRecord& x, const PsaRecord& y, uint32_t known, bool wantLcp, uint32_t* lcp) {
        return compareSuffixes(settings, run, x, y, known, wantLcp ? lcp : nullptr);
    }

    PsaRecord record(int input, size_t offset) const {
        return suffixRecord(inputs[static_cast<size_t>(input)], input, offset).psa();
    }
};

struct Expected {
    bool after;
    uint32_t lcp;
};

Expected bruteForce(const std::string& x, int ix, const std::string& y, int iy, bool wantLcp) {
    uint32_t lcp = bitLcpValue(x, y);
    if (x == y) return {wantLcp ? false : ix > iy, lcp};
    return {x > y, lcp};
}

void checkRandomPairs(bool noPrefix) {
    seededRounds(20261208, 40, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        std::vector<std::string> inputs;
        struct Copy {
            int input, source;
            size_t at, from, length;
        };
        std::vector<Copy> copies;  // input[at..] repeats source[from..] for length bases
        int n = 2 + static_cast<int>(rng() % 6);
        int alphabet = rng() % 2 ? 2 : 4;
        for (int i = 0; i < n; i++) {
            if (i > 0 && rng() % 3 == 0) {
                // Shares a long stretch with an earlier input, so pairs reach the packed words.
                int source = static_cast<int>(rng() % static_cast<unsigned>(i));
                const std::string& other = inputs[static_cast<size_t>(source)];
                size_t from = rng() % other.size();
                // Mostly a stretch that ends before the source does, so the two part inside both.
                size_t length = 1 + rng() % (other.size() - from);
                std::string lead = randomBases(rng, rng() % 5, alphabet);
                copies.push_back({i, source, lead.size(), from, length});
                inputs.push_back(lead + other.substr(from, length) +
                                 randomBases(rng, rng() % 40, alphabet));
            } else {
                inputs.push_back(randomBases(rng, 1 + static_cast<int>(rng() % 200), alphabet));
            }
        }
        Loaded data(inputs, noPrefix);
        for (int pair = 0; pair < 300; pair++) {
            int ix = static_cast<int>(rng() % static_cast<unsigned>(n));
            int iy = static_cast<int>(rng() % static_cast<unsigned>(n));
            size_t ox = rng() % inputs[static_cast<size_t>(ix)].size();
            size_t oy = rng() % inputs[static_cast<size_t>(iy)].size();
            if (pair % 4 == 1 && !copies.empty()) {
                // Two suffixes inside a repeated stretch: they share many words.
                const Copy& c = copies[rng() % copies.size()];
                size_t shift = rng() % c.length;
                ix = c.input;
                ox = c.at + shift;
                iy = c.source;
                oy = c.from + shift;
                if (rng() % 2) std::swap(ix, iy), std::swap(ox, oy);
            } else if (pair % 4 == 0) {
                // A suffix equal to another: search for one sharing its text in another input.
                std::string target = inputs[static_cast<size_t>(ix)].substr(ox);
                for (int j = 0; j < n; j++) {
                    size_t at = inputs[static_cast<size_t>(j)].rfind(target);
                    if (j != ix && at != std::string::npos && at + target.size() == inputs[static_cast<size_t>(j)].size()) {
                        iy = j;
                        oy = at;
                    }
                }
            }
            std::string sx = inputs[static_cast<size_t>(ix)].substr(ox);
            std::string sy = inputs[static_cast<size_t>(iy)].substr(oy);
            PsaRecord x = data.record(ix, ox);
            PsaRecord y = data.record(iy, oy);
            Expected e = bruteForce(sx, ix, sy, iy, false);
            // Any count of leading bits known to be shared is valid, up to the bit LCP.
            uint32_t trueBits = lcpBits(e.lcp);
            uint32_t known = rng() % 3 == 0 ? 0 : rng() % 2 ? trueBits : static_cast<uint32_t>(rng() % (trueBits + 1));
            SCOPED_TRACE("x=" + std::to_string(ix) + "/" + std::to_string(ox) +
                         " y=" + std::to_string(iy) + "/" + std::to_string(oy) + " known=" + std::to_string(known));
            uint32_t lcp = 0xdeadbeef;
            EXPECT_EQ(data.compare(x, y, known, true, &lcp), bruteForce(sx, ix, sy, iy, true).after);
            EXPECT_EQ(lcp, e.lcp);
            EXPECT_EQ(data.compare(x, y, known, false, nullptr), e.after);
            // The order is antisymmetric except for identical suffixes with LCP wanted.
            if (sx != sy) {
                EXPECT_NE(data.compare(y, x, known, true, &lcp), e.after);
            }
        }
    });
}

TEST(TreebuildCompare, RandomPairsWithPrefixWords) { checkRandomPairs(false); }

TEST(TreebuildCompare, RandomPairsWithoutPrefixWords) { checkRandomPairs(true); }

TEST(TreebuildCompare, ShortSuffixesAndIdenticalSuffixes) {
    Loaded data({"ac", "acg", "ag", "tac", "ttac", "ac"});
    uint32_t lcp;
    // "acg" after "ac": 4 shared bits, the shorter ends there.
    EXPECT_TRUE(data.compare(data.record(1, 0), data.record(0, 0), 0, true, &lcp));
    EXPECT_EQ(lcp, lcpValue(4, 0));
    // "ag" after "ac": they part at bit 2, inside both.
    EXPECT_TRUE(data.compare(data.record(2, 0), data.record(0, 0), 0, true, &lcp));
    EXPECT_EQ(lcp, lcpValue(2, 1));
    // "ac" of inputs 5 and 0: by input number without LCP, neither after the other with it.
    EXPECT_TRUE(data.compare(data.record(5, 0), data.record(0, 0), 0, false, nullptr));
    EXPECT_FALSE(data.compare(data.record(0, 0), data.record(5, 0), 0, false, nullptr));
    EXPECT_FALSE(data.compare(data.record(5, 0), data.record(0, 0), 0, true, &lcp));
    EXPECT_EQ(lcp, lcpValue(4, 0));
    // Suffix "ac" of "tac" and "ttac" at different word positions: identical.
    EXPECT_FALSE(data.compare(data.record(3, 1), data.record(4, 2), 0, true, &lcp));
    EXPECT_EQ(lcp, lcpValue(4, 0));
}

TEST(TreebuildCompare, LongSharedStretchResumesAfterPrefixWords) {
    // Two suffixes sharing 70 bases and parting at the 71st, for every offset of x
    // within a word: decided on the packed words, never from bit 0.
    const unsigned seed = firstSeed(7);
    SCOPED_TRACE(seedNote(seed));
    std::mt19937 rng(seed);
    std::string shared = randomBases(rng, 70);
    for (int lead = 0; lead < 16; lead++) {
        Loaded data({randomBases(rng, lead) + shared + "a" + randomBases(rng, 9), "gg" + shared + "t"});
        uint32_t lcp;
        EXPECT_FALSE(data.compare(data.record(0, static_cast<size_t>(lead)), data.record(1, 2), 64, true, &lcp));
        EXPECT_EQ(lcp, lcpValue(140, 1)) << lead;  // a (00) and t (11) part at their first bit
        EXPECT_EQ(data.run.current.firstWordDecisions, 0);
        EXPECT_EQ(data.run.current.prefixDecisions, 0);
        // Resuming 33 to 64 bits in, three or four word pairs reach bit 140.
        EXPECT_GE(data.run.current.packedWords, 3);
        EXPECT_LE(data.run.current.packedWords, 4);
    }
}

}  // namespace
