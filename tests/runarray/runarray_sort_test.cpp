// Random data sets through the sorter, checked against brute force: the runs it forms,
// every record of every run (order, input, offset, preceding code, prefix words) and
// every LCP value.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/runarray/runarray_dataset.h"

using namespace runarray_test;

namespace {

struct Case {
    std::vector<std::string> inputs;
    std::string options;
    int runSize = 0;  // -r, 0 when not given
    bool all = false, single = false, zeroOrigin = false, lcp = false;
};

std::string randomBases(std::mt19937& rng, int length, const std::string& alphabet) {
    std::string s;
    for (int i = 0; i < length; i++) s.push_back(alphabet[rng() % alphabet.size()]);
    return s;
}

Case randomCase(std::mt19937& rng) {
    Case c;
    // Small alphabets make long shared prefixes; copies and prefixes of earlier inputs
    // make suffixes that agree up to their inputs' ends.
    static const std::string alphabets[] = {"acgt", "ac", "a", "gt", "aaaac"};
    const std::string& alphabet = alphabets[rng() % 5];
    bool upper = rng() % 5 == 0;
    int n = 1 + (int)(rng() % 12);
    for (int k = 0; k < n; k++) {
        std::string s;
        int kind = (int)(rng() % 10);
        if (kind == 0) s = "";
        else if (kind <= 2 && k > 0) {
            s = c.inputs[rng() % k];
            if (kind == 2 && !s.empty()) s = s.substr(rng() % s.size());
        } else {
            int length = rng() % 4 == 0 ? 1 + (int)(rng() % 300) : 1 + (int)(rng() % 40);
            s = randomBases(rng, length, alphabet);
        }
        if (upper)
            for (char& ch : s) ch = (char)toupper(ch);
        c.inputs.push_back(s);
    }
    int sum = 0, maxLen = 0;
    for (auto& s : c.inputs) sum += (int)s.size() + 1, maxLen = std::max(maxLen, (int)s.size());
    int mode = (int)(rng() % 8);
    if (mode == 0) c.all = true;
    else if (mode == 1) c.single = true;
    else c.runSize = 2 + (int)(rng() % (sum + 2));
    c.zeroOrigin = rng() % 2;
    c.lcp = rng() % 4 != 0;
    if (c.all) c.options += " -A";
    if (c.single) c.options += " -S";
    if (c.runSize) c.options += " -r " + std::to_string(c.runSize);
    if (c.zeroOrigin) c.options += " -z";
    if (c.lcp) c.options += " -Z";
    c.options += " -m " + std::to_string(1 + rng() % 50);
    return c;
}

int64_t expectedMaxSize(const Case& c) {
    int64_t sum = 0, maxLen = 0;
    for (auto& s : c.inputs) sum += (int64_t)s.size(), maxLen = std::max<int64_t>(maxLen, (int64_t)s.size());
    int64_t m = c.all ? (int64_t)c.inputs.size() + sum + 1 : c.single ? maxLen + 2 : c.runSize ? c.runSize : 200000000;
    m = std::min<int64_t>(m, 500000000);
    return maxLen + 1 >= m ? maxLen + 2 : m;
}

void checkCase(const Case& c, const std::string& dir) {
    SCOPED_TRACE("options" + c.options);
    std::filesystem::remove_all(dir);
    std::string ds = makeDataSet(dir, "ds", c.inputs);
    const Captured sorted = runProgram("runarray", dir + " ds -q" + c.options);
    ASSERT_EQ(sorted.status, 0) << sorted.err;

    std::vector<uint32_t> partitions = readRecords<uint32_t>(ds + "ds.stplengths");
    const int64_t maxSize = expectedMaxSize(c);
    const int n = (int)c.inputs.size();
    int first = 0;
    for (size_t run = 0; run < partitions.size(); run++) {
        SCOPED_TRACE("run " + std::to_string(run));
        int len = (int)partitions[run];
        ASSERT_GE(len, 1);
        ASSERT_LE(first + len, n);
        int end = first + len;
        // Each run stays below maxSize, and is cut only where the next input would not fit.
        int64_t count = 0;
        for (int k = first; k < end; k++) count += (int64_t)c.inputs[k].size() + 1;
        EXPECT_LT(count, maxSize);
        if (c.single) {
            EXPECT_EQ(len, 1);
        } else if (end < n) {
            EXPECT_GE(count + (int64_t)c.inputs[end].size() + 1, maxSize);
        }

        std::vector<Suffix> order = runOrder(c.inputs, first, end);
        std::vector<uint32_t> psa = readRecords<uint32_t>(ds + "ds_" + std::to_string(run) + ".stpsa");
        ASSERT_EQ(psa.size(), 4 * order.size());
        std::vector<uint32_t> lcp;
        if (c.lcp) {
            lcp = readRecords<uint32_t>(ds + "ds_" + std::to_string(run) + ".stlcp");
            ASSERT_EQ(lcp.size(), order.size());
        }
        for (size_t i = 0; i < order.size(); i++) {
            const Suffix& want = order[i];
            const std::string& input = c.inputs[want.input];
            uint32_t number = want.input - (c.zeroOrigin ? (uint32_t)first : 0);
            uint32_t preceding = want.offset ? baseCode(input[want.offset - 1]) : 0;
            uint32_t word1, word2;
            prefixWords(input, want.offset, word1, word2);
            ASSERT_EQ(psa[4 * i], number << 2 | preceding) << "record " << i;
            ASSERT_EQ(psa[4 * i + 1], want.offset) << "record " << i;
            ASSERT_EQ(psa[4 * i + 2], word1) << "record " << i;
            ASSERT_EQ(psa[4 * i + 3], word2) << "record " << i;
            if (c.lcp) {
                std::string s = input.substr(want.offset);
                std::string p = i ? c.inputs[order[i - 1].input].substr(order[i - 1].offset) : "";
                ASSERT_EQ(lcp[i], runLcpValue(s, p)) << "record " << i;
            }
        }
        first = end;
    }
    EXPECT_EQ(first, n);
}

TEST(RunarraySort, RandomDataSetsMatchBruteForce) {
    TempDir temp("runarray_sort");
    std::string dir = temp.path + "case/";
    seededRounds(20261208, 150, [&](SeededRound& round) { checkCase(randomCase(round.rng), dir); });
}

}  // namespace
