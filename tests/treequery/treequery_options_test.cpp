// treequery's command line, pattern argument and set table, run in-process; errors
// as death tests (exit status 1 and the message).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/run.h"
#include "treequery/treequery.h"

namespace {

struct Args {
    std::vector<std::string> words;
    std::vector<char*> argv;
    explicit Args(std::vector<std::string> w) : words(std::move(w)) {
        words.insert(words.begin(), "treequery");
        for (std::string& s : words) argv.push_back(s.data());
        argv.push_back(nullptr);
    }
    int argc() const { return (int)words.size(); }
};

// The settings and run state of the scan under test, fresh for every scan.
QuerySettings settings;
std::unique_ptr<QueryRun> tq;

void reset() {
    settings = QuerySettings{};
    tq = std::make_unique<QueryRun>();
    tq->settings = &settings;
    gRun = RunState{};
    gRun.quiet = 1;
}

void scan(Args& args) {
    reset();
    scanOptions(args.argc(), args.argv.data(), settings);
    gRun.quiet = 1;
}

// The set table for `inputs` inputs after scanning `words`.
void sets(std::vector<std::string> words, int inputs) {
    static Args* args;  // argv strings must outlive the table
    args = new Args(std::move(words));
    scan(*args);
    tq->catalogue.inputs = inputs;
    applyIndexOrigin(settings);
    buildSetTable(settings, *tq);
}

std::vector<std::vector<int>> members() {
    std::vector<std::vector<int>> all;
    for (int j = 0; j < tq->setCount; j++) {
        const ResultSet& s = tq->sets[j];
        std::vector<int> m;
        if (s.kind == kCustomSet)
            m.assign(s.members, s.members + s.memberCount);
        else
            m = {s.kind == kKSet ? -1 : -2, s.members[0]};
        all.push_back(m);
    }
    return all;
}

TEST(TreequeryOptions, OptionalValuesOfStandardArrays) {
    Args a({"d/", "p", "-0"});
    scan(a);
    EXPECT_EQ(settings.sresults, 100);
    Args b({"d/", "p", "-0", "-q", "-K", "-v"});
    scan(b);
    EXPECT_EQ(settings.sresults, 100);
    EXPECT_EQ(settings.kresults, 200);
    Args c({"d/", "p", "-0", "50", "-K", "2^3"});
    scan(c);
    EXPECT_EQ(settings.sresults, 50);
    EXPECT_EQ(settings.kresults, 8);
    sets({"d/", "p", "-K"}, 5);
    EXPECT_EQ(settings.kresults, 6);
}

TEST(TreequeryOptions, LettersDefaultsAndStrings) {
    Args a({"-verbose", "in/", "-Dx", "pre", "-x", "trees", "-o", "out.txt", "-p", "acgt"});
    scan(a);
    EXPECT_EQ(gRun.verbose, 1);
    EXPECT_EQ(settings.printdivs, 1);
    EXPECT_STREQ(settings.inputDir, "in/");
    EXPECT_STREQ(settings.inputPrefix, "pre");
    EXPECT_STREQ(settings.treePrefix, "trees");
    EXPECT_STREQ(settings.outName, "out.txt");
    EXPECT_EQ(settings.rgenome, -1);
    EXPECT_EQ(settings.hamming, -1);
    EXPECT_EQ(settings.prlength, 100);
    makePaths(settings, *tq);
    EXPECT_EQ(tq->texts.inputBase, "in/pre.ST/pre");
    EXPECT_EQ(tq->texts.treeBase, "in/trees.ST/trees");
    EXPECT_EQ(tq->catalogueBase, "in/pre.ST/pre");
}

TEST(TreequeryOptions, EchoPrintsLongValuesWhole) {
    std::string sets, ks;
    for (int i = 0; i < 150; i++) sets += std::to_string(i % 10) + ":";
    for (int i = 0; i < 300; i++) ks += std::to_string(i % 9 + 1) + ",";
    Args a({"d/", "p", "-s", sets, "-k", ks, "-n", "2,3", "-p", std::string(40, 'a')});
    scan(a);
    gRun.quiet = 0;
    testing::internal::CaptureStderr();
    echoSettings(settings);
    std::string echo = testing::internal::GetCapturedStderr();
    gRun.quiet = 1;
    EXPECT_EQ(echo, "# search options: pattern=" + std::string(30, 'a') + " strsets=" + sets + " kstring=" + ks +
                        " nstring=2,3 prlength=100 \n");
}

TEST(TreequeryOptionsDeath, ScanErrors) {
    Args pendingAtEnd({"d/", "p", "-t", "5", "-m"});
    EXPECT_EXIT(scan(pendingAtEnd), testing::ExitedWithCode(1),
                "## ERROR: command line: option value pending when end of args");
    Args pendingAtOption({"d/", "p", "-r", "-1"});
    EXPECT_EXIT(scan(pendingAtOption), testing::ExitedWithCode(1),
                "command line: option value pending when reached '-1'");
    Args third({"d/", "p", "q"});
    EXPECT_EXIT(scan(third), testing::ExitedWithCode(1), "at option 'q': main parameters already defined");
    Args unknown({"d/", "p", "-z"});
    EXPECT_EXIT(scan(unknown), testing::ExitedWithCode(1), "Error: unrecognized option '-z'");
    Args zeroTakesDir({"-0", "d/", "p"});
    EXPECT_EXIT(scan(zeroTakesDir), testing::ExitedWithCode(1), "no input prefix parameter specified!");
    Args empty({"d/", ""});
    EXPECT_EXIT(scan(empty), testing::ExitedWithCode(1), "empty input prefix parameter specified!");
    for (const char* option : {"-J", "-l", "-X"}) {
        Args refused({"d/", "p", option, "4"});
        EXPECT_EXIT(scan(refused), testing::ExitedWithCode(1),
                    std::string("## ERROR: option '") + option + "' is refused: ");
    }
    Args algorithm({"d/", "p", "-A", "trie"});
    EXPECT_EXIT(scan(algorithm), testing::ExitedWithCode(1), "## ERROR: -A takes walk or pieces, not 'trie'");
}

TEST(TreequeryPatterns, WordsAndTriples) {
    Args words({"d/", "p", "-p", "acg,TT gcat,,"});
    scan(words);
    parsePatterns(settings, *tq);
    ASSERT_EQ(tq->patternCount, 3);
    EXPECT_STREQ(tq->patterns[0], "acg");
    EXPECT_STREQ(tq->patterns[1], "TT");
    EXPECT_STREQ(tq->patterns[2], "gcat");
    EXPECT_EQ(tq->maxPatternLength, 4);
    EXPECT_EQ(settings.maxNum, 100);

    Args triples({"d/", "p", "-m", "7", "-p", "3,100,20 x1:2;30"});
    scan(triples);
    parsePatterns(settings, *tq);
    ASSERT_EQ(tq->patternCount, 2);
    EXPECT_EQ(tq->triples[0].input, 3);
    EXPECT_EQ(tq->triples[0].offset, 100);
    EXPECT_EQ(tq->triples[1].length, 30);
    EXPECT_EQ(tq->maxPatternLength, 30);
    EXPECT_EQ(settings.maxNum, 7);
}

TEST(TreequeryPatternsDeath, BadPatterns) {
    Args pair({"d/", "p", "-p", "3,100"});
    EXPECT_EXIT((scan(pair), parsePatterns(settings, *tq)), testing::ExitedWithCode(1), "bad numeric pattern argument");
    Args huge({"d/", "p", "-p", "0,2147483648,5"});
    EXPECT_EXIT((scan(huge), parsePatterns(settings, *tq)), testing::ExitedWithCode(1), "bad numeric pattern argument");
    Args digit({"d/", "p", "-p", "ACG1"});
    EXPECT_EXIT((scan(digit), parsePatterns(settings, *tq)), testing::ExitedWithCode(1), "bad numeric pattern argument");
    Args empty({"d/", "p", "-p", ""});
    EXPECT_EXIT((scan(empty), parsePatterns(settings, *tq)), testing::ExitedWithCode(1), "bad pattern parameter");
    Args separators({"d/", "p", "-p", ", ,"});
    EXPECT_EXIT((scan(separators), parsePatterns(settings, *tq)), testing::ExitedWithCode(1), "bad pattern parameter");
    Args zeroLength({"d/", "p", "-p", "0,5,0"});
    EXPECT_EXIT((scan(zeroLength), parsePatterns(settings, *tq)), testing::ExitedWithCode(1), "has length 0");
    Args letter({"d/", "p", "-p", "acgt,acnt"});
    EXPECT_EXIT((scan(letter), parsePatterns(settings, *tq), checkExactPatterns(*tq)), testing::ExitedWithCode(1),
                "pattern \"acnt\": character 'n' is not a base");
    // A "*" or -H sends the pattern to the inexact search, which has its own alphabet.
    Args star({"d/", "p", "-p", "ac*t"});
    scan(star);
    parsePatterns(settings, *tq);
    checkExactPatterns(*tq);
}

TEST(TreequerySets, CustomSinglesPairsKAndN) {
    sets({"d/", "p", "-s", "3:4,6:2,3,5"}, 10);
    EXPECT_EQ(members(), (std::vector<std::vector<int>>{{3}, {4, 6}, {2, 3, 5}}));
    EXPECT_EQ(tq->customSetCount, 3);
    EXPECT_EQ(settings.bestnum, 20);
    sets({"d/", "p", "-s", "0:1"}, 2);
    EXPECT_EQ(members(), (std::vector<std::vector<int>>{{0}, {1}}));
    sets({"d/", "p", "-s", "1,2:"}, 3);
    EXPECT_EQ(members(), (std::vector<std::vector<int>>{{1, 2}}));
    sets({"d/", "p", "-s", "0", "-I"}, 3);
    EXPECT_EQ(tq->setCount, 0);
    sets({"d/", "p", "-2", "-r", "2"}, 5);
    EXPECT_EQ(members(), (std::vector<std::vector<int>>{{2, 0}, {2, 1}, {2, 3}, {2, 4}}));
    sets({"d/", "p", "-1", "-r", "2", "-I"}, 5);
    EXPECT_EQ(members(), (std::vector<std::vector<int>>{{1}}));
    sets({"d/", "p", "-s", "1", "-1", "-2", "-k", "2,3", "-n", "4", "-b", "5"}, 3);
    EXPECT_EQ(members(), (std::vector<std::vector<int>>{
                             {1}, {0}, {1}, {2}, {0, 1}, {0, 2}, {1, 2}, {-1, 2}, {-1, 3}, {-2, 4}}));
    EXPECT_EQ(tq->nsets, 7);
    EXPECT_EQ(tq->kSetCount, 2);
    EXPECT_EQ(tq->nSetCount, 1);
    EXPECT_EQ(settings.bestnum, 5);
    EXPECT_NE(tq->sets[9].records, nullptr);
    // Only the first 16 K numbers are kept.
    sets({"d/", "p", "-k", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18"}, 3);
    EXPECT_EQ(tq->kSetCount, 16);
}

TEST(TreequerySetsDeath, RefusedRequests) {
    std::string many;
    for (int i = 0; i < 21; i++) many += std::to_string(i) + ",";
    EXPECT_EXIT(sets({"d/", "p", "-s", many}, 30), testing::ExitedWithCode(1),
                "setspecs: too many set members 21 \\(max 20\\)");
    std::string sets301;
    for (int i = 0; i < 301; i++) sets301 += "1:";
    EXPECT_EXIT(sets({"d/", "p", "-s", sets301}, 30), testing::ExitedWithCode(1),
                "setspecs: too many sets 301 \\(max 300\\)");
    EXPECT_EXIT(sets({"d/", "p", "-2"}, 26), testing::ExitedWithCode(1), "too many sets requested: 325, max is 300");
    // 276 pairs fit, but not with 16 K sets and 16 N sets after them.
    EXPECT_EXIT(sets({"d/", "p", "-2", "-k", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16", "-n",
                      "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16"},
                     24),
                testing::ExitedWithCode(1), "too many sets requested: 308, max is 300");
    EXPECT_EXIT(sets({"d/", "p", "-s", "1:3"}, 3), testing::ExitedWithCode(1),
                "setspecs: set member 3 is not one of the 3 inputs");
    EXPECT_EXIT(sets({"d/", "p", "-s", "4", "-I"}, 3), testing::ExitedWithCode(1),
                "setspecs: set member 4 is not one of the 3 inputs");
    // Numbers past INT_MAX are refused as written, never wrapped or clamped.
    EXPECT_EXIT(sets({"d/", "p", "-s", "1:4294967297"}, 3), testing::ExitedWithCode(1),
                "setspecs: set member 4294967297 is not one of the 3 inputs");
    EXPECT_EXIT(sets({"d/", "p", "-k", "2,2147483648"}, 3), testing::ExitedWithCode(1),
                "-k: 2147483648 is too large a number of inputs");
}

}  // namespace
