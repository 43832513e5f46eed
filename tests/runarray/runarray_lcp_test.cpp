// The in-place LCP computation against the definition, on many random run texts
// (repetitive ones too, where h stays large across the text walk) and on the worked
// examples.
#include <gtest/gtest.h>

#include <divsufsort.h>

#include <random>

#include "runarray/runarray.h"
#include "tests/runarray/runarray_dataset.h"

using namespace runarray_test;

namespace {

// LCP values of the real suffixes (ranks len+1..n) of the run of `inputs`.
std::vector<uint32_t> lcpOfRun(const std::vector<std::string>& inputs) {
    std::string text;
    for (auto& s : inputs) text += s, text.push_back('\0');
    int n = (int)text.size();
    std::vector<int32_t> suffixes(n + 1);
    std::vector<uint32_t> values(n + 1, 0xdeadbeef);
    EXPECT_EQ(divsufsort(reinterpret_cast<const uint8_t*>(text.data()), suffixes.data() + 1, n), 0);
    computeLcp(reinterpret_cast<const uint8_t*>(text.data()), suffixes.data(), values.data(), n);
    std::vector<uint32_t> inOrder;
    for (int k = (int)inputs.size() + 1; k <= n; k++) inOrder.push_back(values[suffixes[k]]);
    return inOrder;
}

std::vector<uint32_t> bruteForceLcps(const std::vector<std::string>& inputs) {
    std::vector<Suffix> order = runOrder(inputs, 0, (int)inputs.size());
    std::vector<uint32_t> values;
    std::string previous;
    for (size_t i = 0; i < order.size(); i++) {
        std::string s = inputs[order[i].input].substr(order[i].offset);
        values.push_back(runLcpValue(s, previous));
        previous = s;
    }
    return values;
}

TEST(RunarrayLcp, WorkedExamples) {
    EXPECT_EQ(lcpOfRun({"acgt"}), (std::vector<uint32_t>{0, 3, 1, 3}));
    EXPECT_EQ(lcpOfRun({"ac", "ac"}), (std::vector<uint32_t>{0, 8, 3, 4}));
    EXPECT_EQ(lcpOfRun({"ac", "acg"}), (std::vector<uint32_t>{0, 8, 3, 4, 1}));
    // Upper-case bases pair like lower-case ones.
    EXPECT_EQ(lcpOfRun({"ACGT"}), (std::vector<uint32_t>{0, 3, 1, 3}));
    // An empty input adds a separator and no value; values never count past an input's
    // end although the text after "aa" and "a" continues alike.
    EXPECT_EQ(lcpOfRun({"aa", "", "a"}), (std::vector<uint32_t>{0, 4, 4}));
}

TEST(RunarrayLcp, EmptyTextLeavesValuesAlone) {
    uint32_t values[1] = {7};
    computeLcp(nullptr, nullptr, values, 0);
    EXPECT_EQ(values[0], 7u);
}

TEST(RunarrayLcp, RandomRunsMatchDefinition) {
    static const std::string alphabets[] = {"acgt", "ac", "a", "gt", "ACGT", "AAAAC", "aaaaaaaaaaaaaaag"};
    seededRounds(1, 400, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        const unsigned seed = round.seed;
        const std::string& alphabet = alphabets[rng() % 7];
        std::vector<std::string> inputs;
        int n = 1 + (int)(rng() % 20);
        for (int k = 0; k < n; k++) {
            int length = rng() % 8 == 0 ? 0 : 1 + (int)(rng() % (seed % 10 == 0 ? 2000 : 60));
            std::string s;
            if (k > 0 && rng() % 4 == 0) {
                s = inputs[rng() % k];
                s = s.substr(s.empty() ? 0 : rng() % s.size());
            } else {
                for (int i = 0; i < length; i++) s.push_back(alphabet[rng() % alphabet.size()]);
            }
            inputs.push_back(s);
        }
        ASSERT_EQ(lcpOfRun(inputs), bruteForceLcps(inputs));
    });
}

}  // namespace
