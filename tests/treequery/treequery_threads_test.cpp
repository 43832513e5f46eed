// Pattern searches on two to four threads print what one thread prints: on random
// genomes cut into many small trees, with patterns drawn from their text (short ones
// select many trees, long ones one or two, some occur nowhere), the rows of -F on both
// strands and the tables, read and mapped (-U), with -m below the counts, -c and -v,
// give the same standard output and the same report lines for every -j. A damaged tree
// that stops a search within the Hamming distance midway through a thread's share of
// patterns stops every -j after the same rows, and so does a bad pattern in a later
// batch of the file, read while the batch before it is searched.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/output.h"
#include "tests/support/run.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"
#include "treequery/user_terms.h"

namespace {

using namespace testsupport;

// Report lines that differ between thread counts by design: the command and options
// echo, the version, and the addresses of mappings (which thread maps a tree, and how
// often, depends on how the trees are shared out).
std::string comparableReport(const std::string& err) {
    return maskReport(err, {"# Command(", "# Version", "# search options", "mmap ", "munmap "});
}

// Runs `query` with -j 2 to 4: each prints what `one` (its run with -j 1) printed and
// ends with its status.
void expectSameOnThreads(const std::string& query, const Captured& one) {
    for (int j = 2; j <= 4; j++) {
        SCOPED_TRACE("-j " + std::to_string(j));
        const Captured many = runProgram("treequery", query + " -j " + std::to_string(j));
        EXPECT_EQ(many.status, one.status);
        EXPECT_EQ(many.out, one.out);
        EXPECT_EQ(comparableReport(many.err), comparableReport(one.err));
    }
}

std::string randomGenome(std::mt19937& random, std::vector<std::string>& texts) {
    std::string fasta;
    const int sequences = 2 + (int)(random() % 4);
    for (int s = 0; s < sequences; s++) {
        std::string text;
        const int length = 100 + (int)(random() % 400);
        while ((int)text.size() < length) {
            if (random() % 10 == 0 && text.size() > 30)
                text += text.substr(random() % text.size(), 1 + random() % 40);  // repeats: one word in many trees
            else
                text += "acgt"[random() % 4];
        }
        texts.push_back(text);
        fasta += ">s" + std::to_string(s) + "\n" + text + "\n";
    }
    return fasta;
}

TEST(TreequeryThreads, EveryThreadCountGivesTheRowsAndTablesOfOne) {
    seededRounds(2207, 4, [&](SeededRound& round) {
        std::mt19937& random = round.rng;
        TempDir dir("treequery-threads");
        const std::string d = dir.path;
        std::vector<std::string> texts;
        writeFile(d + "g.fa", randomGenome(random, texts));
        const int treeNodes = 20 + (int)(random() % 60);
        SCOPED_TRACE("treebuild -n " + std::to_string(treeNodes));
        ASSERT_TRUE(buildWithStages(d, "ds", "g.fa", treeNodes));
        std::string patterns;
        for (int k = 0; k < 150; k++) {
            const std::string& text = texts[random() % texts.size()];
            const size_t m = 1 + random() % (k % 3 == 0 ? 4 : 20);
            std::string word = text.substr(random() % (text.size() - m), m);
            if (random() % 4 == 0) word[random() % m] = "acgt"[random() % 4];
            patterns += ">p" + std::to_string(k) + "\n" + word + "\n";
        }
        writeFile(d + "p.fa", patterns);
        for (const char* options : {" -F tsv -B", " -F tsv -B -U", " -F bed -B -m 3", " -F tsv -c -U -v", "", " -U",
                                    " -m 2 -v", " -U -m 2 -v", " -c -C"}) {
            SCOPED_TRACE(options);
            const std::string query = d + " ds -f " + d + "p.fa" + options;
            const Captured one = runProgram("treequery", query + " -j 1");
            ASSERT_TRUE(succeeded(one));
            expectSameOnThreads(query, one);
        }
    });
}

TEST(TreequeryThreads, DamageMidwayThroughAShareStopsEveryThreadCountAfterTheSameRows) {
    seededRounds(2301, 3, [&](SeededRound& round) {
        std::mt19937& random = round.rng;
        TempDir dir("treequery-threads");
        const std::string d = dir.path;
        std::vector<std::string> texts;
        writeFile(d + "g.fa", randomGenome(random, texts));
        ASSERT_TRUE(buildWithStages(d, "ds", "g.fa", 40));
        // The last tree (keys of t) damaged: exact words that begin with a or c never
        // reach it, the pattern tt*t at the end of the list does (as tttt).
        int trees = 0;
        while (exists(d + "ds.ST/ds_" + std::to_string(trees) + ".stree")) trees++;
        ASSERT_GT(trees, 2);
        const std::string last = d + "ds.ST/ds_" + std::to_string(trees - 1) + ".stree";
        std::string bytes = readFile(last);
        bytes[5] ^= 0x10;  // the root record, which every walk reads
        writeFile(last, bytes);
        std::string patterns;
        for (int k = 0; k < 39; k++) {
            std::string word(1, "ac"[random() % 2]);
            for (int b = 0; b < 3; b++) word += "acgt"[random() % 4];
            patterns += word + "\n";
        }
        writeFile(d + "p.txt", patterns + "tt*t\n");
        for (const char* options : {" -F tsv", " -F tsv -U"}) {
            SCOPED_TRACE(options);
            const std::string query = d + " ds -q -f " + d + "p.txt" + options;
            const Captured one = runProgram("treequery", query + " -j 1");
            ASSERT_NE(one.status, 0) << one.out;
            ASSERT_NE(one.err.find("damaged"), std::string::npos) << one.err;
            ASSERT_GT(lines(one.out).size(), 30u);
            expectSameOnThreads(query, one);
        }
    });
}

TEST(TreequeryThreads, ABadPatternInALaterBatchStopsEveryThreadCountAfterTheSameRows) {
    TempDir dir("treequery-threads");
    const std::string d = dir.path;
    std::mt19937 random(2411);
    std::vector<std::string> texts;
    writeFile(d + "g.fa", randomGenome(random, texts));
    ASSERT_TRUE(buildWithStages(d, "ds", "g.fa", 40));
    // The bad pattern is the second batch's first or the third batch's last, so the
    // batch before it has rows to put out first.
    std::vector<std::string> words;
    for (size_t k = 0; k < 3 * kPatternBatch; k++) words.push_back(texts[0].substr(random() % (texts[0].size() - 8), 8));
    for (size_t bad : {kPatternBatch, words.size() - 1}) {
        SCOPED_TRACE(bad);
        std::string patterns;
        for (size_t k = 0; k < words.size(); k++) patterns += (k == bad ? std::string("acgx") : words[k]) + "\n";
        writeFile(d + "p.txt", patterns);
        const std::string query = d + " ds -q -U -f " + d + "p.txt -F tsv -B";
        const Captured one = runProgram("treequery", query + " -j 1");
        ASSERT_NE(one.status, 0);
        ASSERT_NE(one.err.find("is not a base"), std::string::npos) << one.err;
        ASSERT_GT(lines(one.out).size(), 10240u);
        expectSameOnThreads(query, one);
    }
}

}  // namespace
