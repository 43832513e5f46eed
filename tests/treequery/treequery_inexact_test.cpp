// Inexact search pieces: the reachable key range, pattern bits and tree selection, and
// walks over hand-made trees (a very deep homopolymer tree, leaf chains, corrupt trees).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/run.h"
#include "tests/support/temp_dir.h"
#include "toolkit/run.h"
#include "treequery/inexact_search.h"
#include "treequery/tree_store.h"

namespace {

std::string keyText(uint32_t key) {
    char text[17];
    keyLetters(key, text);
    return text;
}

std::pair<std::string, std::string> range(const char* pattern, int hd) {
    uint32_t low, high;
    patternKeyRange(pattern, (int)strlen(pattern), hd, &low, &high);
    return {keyText(low), keyText(high)};
}

TEST(InexactKeyRange, ReplacesTheFirstHdCharactersThatAreNotExtreme) {
    EXPECT_EQ(range("acgt", 1), std::make_pair(std::string("aagtaaaaaaaaaaaa"), std::string("tcgtaaaaaaaaaaaa")));
    EXPECT_EQ(range("acgt", 0), std::make_pair(std::string("acgtaaaaaaaaaaaa"), std::string("acgtaaaaaaaaaaaa")));
    EXPECT_EQ(range("acgt", 4), std::make_pair(std::string("aaaaaaaaaaaaaaaa"), std::string("ttttaaaaaaaaaaaa")));
    // "*" spans every base for free; the budget goes to the characters before it.
    EXPECT_EQ(range("c*g", 1), std::make_pair(std::string("aagaaaaaaaaaaaaa"), std::string("ttgaaaaaaaaaaaaa")));
    EXPECT_EQ(range("*cg", 1), std::make_pair(std::string("aagaaaaaaaaaaaaa"), std::string("ttgaaaaaaaaaaaaa")));
    // Only the first 16 characters make the key.
    EXPECT_EQ(range("ccccccccccccccccgggg", 0),
              std::make_pair(std::string("cccccccccccccccc"), std::string("cccccccccccccccc")));
    // Upper case reaches the same keys as lower case.
    EXPECT_EQ(range("ACGT", 1), range("acgt", 1));
}

TEST(InexactPatternBits, TwoPerCharacterAndTwoForAWildcard) {
    std::vector<uint8_t> expected{0, 0, 0, 1, 1, 0, 1, 1, 2, 2, 1, 1};
    EXPECT_EQ(pattern01("acgt*t", 6), expected);
    EXPECT_EQ(pattern01("ACGT*T", 6), expected);
    EXPECT_TRUE(inexactAlphabetOk("acgtACGT*", 9));
    EXPECT_FALSE(inexactAlphabetOk("acgn", 4));
    EXPECT_FALSE(inexactAlphabetOk("ac-t", 4));
}

TEST(InexactTreeSelection, ShortPatternsCompareOnlyTheirLeadingBits) {
    uint32_t low, high;
    patternKeyRange("ag", 2, 0, &low, &high);
    // A tree that starts at "agtc..." (letters past the pattern other than "a") still
    // holds suffixes that begin with "ag".
    const uint32_t agtc = 0x2Du << 24;  // a g t c = 00 10 11 01
    EXPECT_TRUE(treeAdmitsPattern(agtc, 0xFFFFFFFFu, low, high, 2));
    // A tree that ends before "ag" or starts after it is passed over.
    EXPECT_FALSE(treeAdmitsPattern(0, 0x1Cu << 24, low, high, 2));           // ends at "act"
    EXPECT_FALSE(treeAdmitsPattern(0x30000000u, 0xFFFFFFFFu, low, high, 2));  // starts at "at"
    // With 16 characters or more the whole keys are compared.
    patternKeyRange("cccccccccccccccc", 16, 0, &low, &high);
    EXPECT_FALSE(treeAdmitsPattern(0x55555556u, 0xFFFFFFFFu, low, high, 16));
    EXPECT_TRUE(treeAdmitsPattern(0x55555555u, 0xFFFFFFFFu, low, high, 16));
}

// A data set directory with one input, and a hand-made tree loaded as the store's tree.
class HandTree : public ::testing::Test {
  protected:
    testsupport::TempDir temp{"inexact_unit"};
    const std::string dir = temp.path.substr(0, temp.path.size() - 1);  // without the final "/"
    std::vector<Node> nodes;
    std::vector<int32_t> bitLengths;
    QuerySettings settings{};
    QueryRun q;
    Divider divider{0xffffffffu, 0, 0, 0, 0, {}};  // keys from a... to t...: no leading bits shared

    void SetUp() override {
        ASSERT_EQ(mkdir((dir + "/h.ST").c_str(), 0755), 0);
        q.texts.treeBase = dir + "/h.ST/h";
        q.store.treeBase = q.texts.treeBase;
        q.settings = &settings;
        q.store.catalogue = &q.catalogue;
        gRun.quiet = 1;
    }
    void TearDown() override { closeTexts(q.texts); }
    void writeInput(int input, const std::string& text) {
        std::string path = dir + "/h.ST/h_" + std::to_string(input) + ".stdna";
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        if ((int)bitLengths.size() <= input) bitLengths.resize((size_t)input + 1);
        bitLengths[(size_t)input] = 2 * (int32_t)text.size();
    }
    void load() {
        q.store.tree = nodes.data();
        q.store.treeNodes = (int)nodes.size();
        q.store.treeIndex = 0;
        q.store.dividers = &divider;
        q.catalogue.inputs = (int)bitLengths.size();
        q.catalogue.bitLengths = bitLengths.data();
        q.texts.inputs = q.catalogue.inputs;
    }
    std::vector<Occurrence> search(const char* text, int hd) {
        int m = (int)strlen(text);
        InexactPattern pattern{text, m, hd, pattern01(text, m)};
        OccurrenceList results;
        searchLoadedTree(q, pattern, results);
        results.sort();
        return std::vector<Occurrence>(results.items, results.items + results.count);
    }
    static Node interior(uint32_t edge, uint32_t zero, uint32_t one, bool more = false) {
        return Node{edge, (zero << 2) | (more ? 2u : 0u), one << 2};
    }
    static Node leaf(uint32_t edge, uint32_t input, bool more = false) {
        return Node{edge, (input << 2) | 1u | (more ? 2u : 0u), 0};
    }
};

// The tree of one input of n times "a": a path of n - 1 chain heads, each followed by
// the leaf of the suffix that ends there, and the whole input as the last leaf.
std::vector<Node> homopolymerTree(uint32_t n) {
    std::vector<Node> t;
    t.push_back(Node{0, 1u << 2, 0});
    for (uint32_t k = 1; k < n; k++) {
        t.push_back(Node{2, ((2 * k + 1) << 2) | 2u, 0});  // head: 0-child is the next head
        t.push_back(Node{2, 1u, 0});                       // leaf of input 0 at depth 2k
    }
    t.push_back(Node{2, 1u, 0});  // the whole input, depth 2n
    return t;
}

TEST_F(HandTree, VeryDeepTreeIsWalkedWithoutRecursion) {
    const uint32_t n = 100000;
    writeInput(0, std::string(n, 'a'));
    nodes = homopolymerTree(n);
    load();
    std::vector<Occurrence> found = search("aaaaaaaaaa", 0);
    ASSERT_EQ(found.size(), (size_t)(n - 9));
    for (uint32_t i = 0; i < n - 9; i++) ASSERT_EQ(found[i].position, (int)i);
    // One wrong character (both of its bits differ) is within distance 1 everywhere.
    EXPECT_EQ(search("aaaataaaaa", 1).size(), (size_t)(n - 9));
    EXPECT_TRUE(search("aaaataaaaa", 0).empty());
    EXPECT_EQ(search("AAA*AAAAAA", 0).size(), (size_t)(n - 9));
}

TEST_F(HandTree, ChainOfIdenticalSuffixesReportsEveryLeafAtTheChainDepth) {
    // Inputs "ac", "ac" and "a" (a = 00, c = 01): below the root's 0-child at depth 1,
    // the head "a" (its chain holds the leaf of input 2) with the chain of "ac" in
    // inputs 0 and 1 as its 0-child, and the chain of "c" in inputs 0 and 1.
    writeInput(0, "ac");
    writeInput(1, "ac");
    writeInput(2, "a");
    nodes = {
        interior(0, 1, 0),        // 0 root
        interior(1, 2, 6),        // 1 depth 1
        interior(1, 4, 0, true),  // 2 head "a", depth 2
        leaf(1, 2),               // 3 "a" of input 2 (the whole input)
        leaf(2, 0, true),         // 4 "ac" of input 0, depth 4 ...
        leaf(2, 1),               // 5 ... and of input 1
        leaf(1, 0, true),         // 6 "c" of input 0, depth 2 ...
        leaf(1, 1),               // 7 ... and of input 1
    };
    load();
    std::vector<Occurrence> ac = search("ac", 0);
    ASSERT_EQ(ac.size(), 2u);
    EXPECT_EQ(ac[0].input, 0);
    EXPECT_EQ(ac[0].position, 0);
    EXPECT_EQ(ac[1].input, 1);
    EXPECT_EQ(ac[1].position, 0);
    // "a" ends at the head: the chain's own leaf and both longer suffixes below it.
    std::vector<Occurrence> a = search("a", 0);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[2].input, 2);
    // "g" within distance 1 is every one-character window: all five suffixes.
    EXPECT_EQ(search("g", 1).size(), 5u);
    // A suffix shorter than the pattern is never reported ("a" of input 2 for "a*").
    EXPECT_EQ(search("a*", 0).size(), 2u);
}

TEST_F(HandTree, MismatchInsideAnEdgeIsChargedByTheConfirmation) {
    writeInput(0, "acgt");
    // One leaf per suffix hanging from the root would need branching; a single suffix
    // tree of the whole input: root -> leaf "acgt" (edge 8) is enough for the check.
    nodes = {interior(0, 1, 0), leaf(8, 0)};
    load();
    EXPECT_TRUE(search("aggt", 0).empty());
    EXPECT_EQ(search("aggt", 1).size(), 1u);
    EXPECT_TRUE(search("tggt", 1).empty());  // the first character also differs
    EXPECT_EQ(search("tggt", 2).size(), 1u);
}

using HandTreeDeath = HandTree;

TEST_F(HandTreeDeath, CorruptTreesStopWithAClearMessage) {
    writeInput(0, "aaaaaaaa");
    nodes = {interior(0, 1, 7), leaf(16, 0)};  // 1-child beyond the tree
    load();
    EXPECT_EXIT(search("t", 0), ::testing::ExitedWithCode(1), "corrupt suffix tree file .*record index 7");

    nodes = {interior(0, 1, 0), interior(2, 1, 0)};  // record 1 is its own 0-child
    load();
    EXPECT_EXIT(search("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 0), ::testing::ExitedWithCode(1),
                "corrupt suffix tree file");

    nodes = {interior(0, 1, 0), interior(2, 3, 0, true), interior(2, 0, 0), leaf(2, 0)};  // interior in a chain
    load();
    EXPECT_EXIT(search("a", 0), ::testing::ExitedWithCode(1), "corrupt suffix tree file");

    nodes = {interior(0, 1, 0), leaf(20, 0)};  // leaf deeper than its input
    load();
    EXPECT_EXIT(search("a", 0), ::testing::ExitedWithCode(1), "corrupt suffix tree file");

    nodes = {interior(0, 1, 0), interior(4, 0, 0)};  // candidate with no leaf below
    load();
    EXPECT_EXIT(search("a", 0), ::testing::ExitedWithCode(1), "problem in confirmMatch");
}

TEST_F(HandTreeDeath, UnreadableTextStopsWithAFailureStatus) {
    writeInput(0, "acgtacgt");
    nodes = {interior(0, 1, 0), leaf(16, 0)};
    load();
    bitLengths[0] = 40;  // the catalogue claims more text than the file holds
    nodes[1].edge = 8;     // so the leaf's suffix starts at 16, past the file's end
    // The Hamming search's failures go to standard output, with status 255.
    testsupport::Captured c = testsupport::runInChild([&] { search("acgt", 0); });
    EXPECT_EQ(c.status, 255);
    EXPECT_TRUE(std::regex_search(c.out, std::regex("Problem reading file .*h_0.stdna to confirm a match"))) << c.out;
    unlink((dir + "/h.ST/h_0.stdna").c_str());
    closeTexts(q.texts);
    c = testsupport::runInChild([&] { search("acgt", 0); });
    EXPECT_EQ(c.status, 255);
    EXPECT_NE(c.out.find("h_0.stdna"), std::string::npos) << c.out;
}

}  // namespace
