// Damaged trees, dividers and texts of a data set that carries checksum files: every
// query either stops with an error naming the damaged file or, when it never reads the
// damaged block, gives the undamaged answer. A data set without checksum files is
// read unverified and -v says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/checksums.h"
#include "tests/support/run.h"
#include "tests/treequery/treequery_dataset.h"
#include "toolkit/run.h"
#include "treequery/tree_store.h"

namespace {

using namespace testsupport;

using Outcome = Captured;

struct VerifyFixture : ::testing::Test {
    TempDir dir{"treequery-verify"};
    std::string base;
    std::vector<std::string> inputs;
    std::vector<std::vector<std::string>> queries;  // options after "<dir> ds"
    std::vector<Outcome> answers;                   // undamaged

    void SetUp() override {
        std::mt19937 random(firstSeed(20241208));
        auto bases = [&](size_t n) {
            std::string s;
            for (size_t i = 0; i < n; i++) s += "acgt"[random() % 4];
            return s;
        };
        // Input 0 spans many 4 KiB text blocks; the trees span many blocks each.
        inputs = {bases(40000), ""};
        inputs[1] = bases(300) + inputs[0].substr(1000, 200) + bases(300) + inputs[0].substr(30000, 200);
        base = tqdata::writeDataSet(dir.path, "ds", inputs, 30000);
        writeChecksums(base);
        const std::string exact = inputs[0].substr(5000, 20) + "," + inputs[0].substr(35010, 18) + ",acgtacgtacgtac";
        std::string near = inputs[0].substr(20000, 16);
        near[3] = near[3] == 'a' ? 'c' : 'a';
        queries = {{"-p", exact}, {"-U", "-p", exact}, {"-H", "2", "-p", near}, {"-U", "-H", "2", "-p", near},
                   {"-0", "-K", "-1", "-t", "12"}};
        for (const auto& q : queries) answers.push_back(run(q));
        for (size_t k = 0; k < queries.size(); k++) ASSERT_EQ(answers[k].status, 0) << answers[k].err;
    }

    Outcome run(const std::vector<std::string>& options) {
        std::string command = binary("treequery") + " " + dir.path + " ds";
        for (const std::string& o : options) command += " '" + o + "'";
        return runCaptured(command);
    }

    // Flips one byte of `path` at each offset in turn and runs every query; returns
    // how many runs stopped on the damage.
    int damageEach(const std::string& path, const std::vector<size_t>& offsets) {
        const std::string intact = readFile(path);
        int stopped = 0;
        for (size_t at : offsets) {
            std::string damaged = intact;
            damaged[at % damaged.size()] ^= 0x5a;
            writeFile(path, damaged);
            for (size_t k = 0; k < queries.size(); k++) {
                SCOPED_TRACE(path + " byte " + std::to_string(at % damaged.size()) + ", query " + std::to_string(k));
                Outcome o = run(queries[k]);
                if (o.status == 0) {
                    EXPECT_EQ(o.out, answers[k].out) << "a damaged file gave another answer";
                    continue;
                }
                stopped++;
                EXPECT_NE(o.err.find("## ERROR: " + path + " is damaged: block "), std::string::npos) << o.err;
                const bool hamming = queries[k][0] == "-H" || queries[k][1] == "-H";
                if (hamming && o.err.find(".stdiv") == std::string::npos) {
                    EXPECT_EQ(o.status, 255);
                    EXPECT_NE(o.out.find("ERROR: " + path + " is damaged"), std::string::npos) << o.out;
                } else {
                    EXPECT_EQ(o.status, 1);
                }
            }
        }
        writeFile(path, intact);
        return stopped;
    }
};

TEST_F(VerifyFixture, DamagedTreesStopEveryQueryThatReadsTheBlock) {
    int runs = 0, stopped = 0;
    for (int t = 0; exists(base + "_" + std::to_string(t) + ".stree"); t++) {
        const std::string path = base + "_" + std::to_string(t) + ".stree";
        const size_t size = readFile(path).size();
        // The root's block, blocks in the middle, the last byte. The traversal reads
        // every block, so each damage stops at least that query.
        const int here = damageEach(path, {0, 5, size / 3, size / 2 + 7, size - 1});
        EXPECT_GE(here, 5);
        stopped += here;
        runs += 5 * (int)queries.size();
    }
    // The searches read the blocks on their paths only: some damage is never met.
    EXPECT_LT(stopped, runs);
}

// Read mode's store of tree 0, its records read on demand in pages of the file.
struct RecordPages {
    QueryCatalogue catalogue;
    std::vector<int32_t> lengths, bitLengths;
    TreeStore store;
    RecordPages(const std::string& base, const std::vector<std::string>& inputs) {
        for (const std::string& input : inputs) {
            lengths.push_back((int32_t)input.size());
            bitLengths.push_back(2 * (int32_t)input.size());
        }
        catalogue.inputs = (int)inputs.size();
        catalogue.lengths = lengths.data();
        catalogue.bitLengths = bitLengths.data();
        store.treeBase = base;
        store.catalogue = &catalogue;
        gRun.quiet = 1;
        EXPECT_TRUE(loadTreeSums(store));
        readDividers(store);
        openTreeRecords(store, 0);
    }
    ~RecordPages() {
        closeTreeRecords(store);
        free(store.treeBuffer);
    }
};

TEST_F(VerifyFixture, ReadModeRecordsAreTheFileBytesAndComeFromVerifiedPages) {
    const std::string path = base + "_0.stree";
    const std::string intact = readFile(path);
    const uint32_t records = (uint32_t)(intact.size() / sizeof(Node));
    ASSERT_GT(records, 3 * kChecksumBlock / sizeof(Node));
    {
        // Every record, in an order that reads the pages out of order: records that
        // begin in one page and end in the next are whole.
        RecordPages pages(base, inputs);
        std::vector<uint32_t> order(records);
        for (uint32_t i = 0; i < records; i++) order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(firstSeed(7)));
        for (uint32_t i : order)
            ASSERT_EQ(memcmp(&treeRecord(pages.store, i), intact.data() + (size_t)i * sizeof(Node), sizeof(Node)), 0)
                << "record " << i;
    }
    // Damage in the part of a straddling record that lies in the next page, which no
    // other record has brought in: the record is refused, not handed out. Record 341
    // ends 8 bytes into page 1, record 682 4 bytes into page 2.
    for (uint32_t r : {341u, 682u}) {
        SCOPED_TRACE("record " + std::to_string(r));
        const size_t nextPage = ((size_t)r * sizeof(Node) / kChecksumBlock + 1) * kChecksumBlock;
        ASSERT_LT(nextPage, ((size_t)r + 1) * sizeof(Node));
        std::string damaged = intact;
        damaged[nextPage + 1] ^= 0x5a;
        writeFile(path, damaged);
        EXPECT_DEATH(
            {
                RecordPages pages(base, inputs);
                treeRecord(pages.store, r);
            },
            path + " is damaged: block " + std::to_string(nextPage / kChecksumBlock));
    }
    writeFile(path, intact);
}

TEST_F(VerifyFixture, DamagedDividersStopEveryQuery) {
    const std::string path = base + ".stdiv";
    const size_t size = readFile(path).size();
    EXPECT_EQ(damageEach(path, {0, size / 2, size - 1}), 3 * (int)queries.size());
}

TEST_F(VerifyFixture, DamagedCataloguesStopEveryQuery) {
    // Catalogues that agree with each other but not with their checksums: read
    // unverified, input 1 would be one base longer (its length column, its bounds).
    const std::string lengths = base + ".stlengths", bits = base + ".stblengths";
    const std::string intactLengths = readFile(lengths), intactBits = readFile(bits);
    std::vector<int32_t> l = readRecords<int32_t>(lengths), b = readRecords<int32_t>(bits);
    l[1] += 1;
    b[1] += 2;
    writeFile(lengths, l);
    writeFile(bits, b);
    for (const auto& q : queries) {
        Outcome o = run(q);
        EXPECT_EQ(o.status, 1) << o.out;
        EXPECT_NE(o.err.find("## ERROR: " + lengths + " is damaged"), std::string::npos) << o.err;
    }
    writeFile(lengths, intactLengths);
    writeFile(bits, intactBits);
}

TEST_F(VerifyFixture, DamagedTextsStopTheQueriesThatReadThem) {
    // The exact searches check their patterns against the text at 5000 and 35010 (found
    // only there); the traversal prints text of its repeats, the Hamming search compares
    // its candidates. Damage elsewhere may never be read.
    const std::string text0 = base + "_0.stdna";
    EXPECT_GE(damageEach(text0, {5005, 35015}), 2 * 2);
    damageEach(text0, {12000, 39999});
    damageEach(base + "_1.stdna", {0, 450, 999});
}

TEST_F(VerifyFixture, WithoutChecksumFilesTheDataSetIsReadUnverified) {
    std::remove((base + ".streesum").c_str());
    std::remove((base + ".stinsum").c_str());
    for (size_t k = 0; k < queries.size(); k++) {
        std::vector<std::string> verbose = queries[k];
        verbose.push_back("-v");
        Outcome o = run(verbose);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_NE(o.err.find("# Reading unverified data: no checksum file " + base + ".streesum, " + base + ".stinsum\n"),
                  std::string::npos)
            << o.err;
        EXPECT_EQ(run(queries[k]).out, answers[k].out);
    }
    // With them, -v has nothing to say about it.
    writeChecksums(base);
    EXPECT_EQ(run({"-v", "-p", "acgtacgt"}).err.find("unverified"), std::string::npos);
}

}  // namespace
