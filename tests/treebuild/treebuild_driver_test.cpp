// treebuild's driver and streams end to end: sizing, partial merges, empty streams, the
// array flushes, and the errors for damaged or missing stream files.
#include <gtest/gtest.h>

#include "tests/support/run.h"
#include "tests/treebuild/treebuild_dataset.h"

using namespace tbdata;

namespace {

using Result = Captured;

class TreebuildDriver : public ::testing::Test {
protected:
    TempDir temp{"tbdriver"};
    const std::string dir = temp.path;
    std::string base;
    std::vector<std::string> inputs{"acgtacgtaacc", "ggt", "", "acgtacgtaacc", "tttttttttttttttttttttttttttttttttttgca"};

    void SetUp() override {
        base = writeInputs(dir, "ds", inputs);
        writeRuns(base, inputs, {2, 2, 1}, false);
    }

    Result treebuild(const std::string& options) { return runProgram("treebuild", options); }
    Result merge(const std::string& options) { return treebuild(dir + " ds " + options); }
    std::vector<Record> merged(const std::string& prefix) {
        return readRecords<Record>(dir + prefix + ".ST/" + prefix + ".stpsa");
    }
    std::vector<uint32_t> mergedLcps(const std::string& prefix) {
        return readRecords<uint32_t>(dir + prefix + ".ST/" + prefix + ".stlcp");
    }
    void expectError(const Result& r, const std::string& fragment) {
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("## ERROR: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(fragment), std::string::npos) << "expected '" << fragment << "' in\n" << r.err;
    }
};

size_t totalLength(const std::vector<std::string>& inputs, size_t count) {
    size_t n = 0;
    for (size_t i = 0; i < count; i++) n += inputs[i].size();
    return n;
}

TEST_F(TreebuildDriver, StreamBufferSizing) {
    // Three streams: 1,600,000 bytes share out as 33,333 records each; -M fixes 100 per stream.
    EXPECT_NE(merge("-a -p o -m 1600000").err.find("# in buff: 33333 suffixes, out buff: 38 nodes, SS=16 NS=12,"),
              std::string::npos);
    Result r = merge("-a -p o -M 1600 -m 1600000");
    EXPECT_NE(r.err.find("# in buff: 100 suffixes,"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("# merge options: sarray opfx=o maxSAMem=1600000 sBuffSize=1600 \n"), std::string::npos);
}

TEST_F(TreebuildDriver, BlockSizesAndEmptyStreamsGiveTheSameMerge) {
    ASSERT_EQ(merge("-a -p whole").status, 0);
    std::vector<Record> whole = merged("whole");
    ASSERT_EQ(whole.size(), totalLength(inputs, inputs.size()));
    // Stream 0 holds exactly 15 records: a buffer of 15 (and of 1, 5, 16) must not change anything.
    for (const char* options : {"-M 240", "-M 16", "-M 80", "-M 256 -f", "-M 240 -H"}) {
        ASSERT_EQ(merge(std::string("-a -p part ") + options).status, 0) << options;
        if (std::string(options).find("-H") == std::string::npos) {
            EXPECT_EQ(merged("part"), whole) << options;
        } else {
            EXPECT_EQ(merged("part").size(), whole.size());
        }
    }
    // One stream per input (no partitions catalogue): input 2 is empty, so is its stream.
    writeRuns(base, inputs, {1, 1, 1, 1, 1}, false);
    ASSERT_EQ(merge("-a -p single").status, 0);
    EXPECT_EQ(merged("single").size(), whole.size());
    EXPECT_EQ(mergedLcps("single"), mergedLcps("whole"));
}

TEST_F(TreebuildDriver, ZeroOriginStreamsAreRenumbered) {
    writeRuns(base, inputs, {2, 2, 1}, true);
    ASSERT_EQ(merge("-a -p plain").status, 1);  // files numbered from 0 per run are refused without -z
    writeRuns(base, inputs, {2, 2, 1}, false);
    ASSERT_EQ(merge("-a -p plain").status, 0);
    writeRuns(base, inputs, {2, 2, 1}, true);
    ASSERT_EQ(merge("-a -p zero -z").status, 0);
    EXPECT_EQ(merged("zero"), merged("plain"));
}

TEST_F(TreebuildDriver, NmergeTakesTheFirstInputsOnly) {
    remove((base + ".stplengths").c_str());
    writeRuns(base, inputs, {1, 1, 1, 1, 1}, false);
    remove((base + ".stplengths").c_str());
    Result r = merge("-a -p two -N 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("number of inputs = 2, number of parts = 2"), std::string::npos) << r.err;
    std::vector<Record> records = merged("two");
    EXPECT_EQ(records.size(), totalLength(inputs, 2));
    for (const Record& rec : records) EXPECT_LT(rec.word0 >> 2, 2u);
}

TEST_F(TreebuildDriver, NmergeWithPartitionsIsRefused) {
    expectError(merge("-a -p two -N 2"), ".stplengths");
}

TEST_F(TreebuildDriver, ArrayFlushesInBlocksOfMaxNodes) {
    std::vector<std::string> five{"acgta"};
    std::string b = writeInputs(dir, "five", five);
    writeRuns(b, five, {1}, false);
    Result r = treebuild(dir + " five -a -n 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("# Flush array   0: nbuff=2 t="), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("# Flush array   1: nbuff=2 t="), std::string::npos);
    EXPECT_NE(r.err.find("# Flush array   2: nbuff=1 t="), std::string::npos);
    EXPECT_EQ(r.err.find("# Flush array   3:"), std::string::npos);
    EXPECT_NE(r.err.find("# Merge done: 5, 0 STs, "), std::string::npos);
    EXPECT_NE(r.err.find("#   maxp=0 tnlcp=0 alcp=0 maxlcp=0 nmlcp=0/0  tngpf="), std::string::npos);
    // The dividers file is there and empty, and no tree is written.
    EXPECT_TRUE(exists(dir + "five.ST/five.stdiv"));
    EXPECT_TRUE(readRecords<char>(dir + "five.ST/five.stdiv").empty());
    EXPECT_FALSE(exists(dir + "five.ST/five_0.stree"));
    // A full buffer is written when the next suffix arrives, so a count that is a
    // multiple of maxNodes is written whole by the final flush.
    r = treebuild(dir + " five -a -n 5");
    EXPECT_NE(r.err.find("# Flush array   0: nbuff=5 t="), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("# Flush array   1:"), std::string::npos) << r.err;
    EXPECT_EQ(readRecords<Record>(dir + "five.ST/five.stpsa").size(), 5u);
    EXPECT_EQ(readRecords<uint32_t>(dir + "five.ST/five.stlcp")[0], 0u);
}

TEST_F(TreebuildDriver, OptionsWithoutEffectAreRefused) {
    ASSERT_EQ(merge("-a -p ref").status, 0);
    for (const char* option : {"-c", "-l", "-w", "-L", "-b", "-U", "-x 4", "-i 10", "-J 1-4"}) {
        Result r = merge(std::string("-a -p refused ") + option);
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_NE(r.err.find(std::string("## ERROR: option '") + std::string(option, 2) + "' is refused: "),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("merge options"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(exists(dir + "refused.ST"));
    Result r = merge("-a -p same -v -h");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("# merge options: verbose sarray opfx=same \n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("# \t-C\t# Compact - compress trees using hash sets etc.\n"), std::string::npos);
    EXPECT_EQ(r.err.find("\t-U\t"), std::string::npos) << "the usage lists a refused option";
    EXPECT_EQ(merged("same"), merged("ref"));
    // -q leaves only the command echo and the version.
    r = merge("-a -p quiet -q");
    EXPECT_EQ(r.err.find("merge options"), std::string::npos);
    EXPECT_EQ(r.err.find("Merge done"), std::string::npos);
}

TEST_F(TreebuildDriver, CommandLineErrors) {
    expectError(treebuild(dir + " -a"), "missing main parameters");
    expectError(treebuild(dir + " ds extra"), "main parameters already defined, at option 'extra'");
    expectError(treebuild(dir + " ds -n -a"), "Error: option value pending when reached '-a'");
    expectError(treebuild(dir + " ds -n"), "Error: option value pending when reached end of args");
    expectError(treebuild(dir + " ds -Y"), "Error: unrecognized option '-Y'");
    Result usage = treebuild("x");
    EXPECT_EQ(usage.status, 1);
    EXPECT_NE(usage.err.find("<inputdir> <inputfileprefix> [-options...]"), std::string::npos);
}

TEST_F(TreebuildDriver, DamagedStreamFilesAreNamed) {
    std::string psa1 = base + "_1.stpsa";
    std::vector<Record> good = readRecords<Record>(psa1);

    // A partial record at the end.
    std::vector<char> bytes = readRecords<char>(psa1);
    bytes.push_back(0);
    writeFile(psa1, bytes);
    expectError(merge("-a -p o"), psa1);

    // Input numbers and offsets outside the run's inputs: an error, never a wild read.
    for (int field = 0; field < 3; field++) {
        std::vector<Record> bad = good;
        if (field == 0) bad[1].word0 = 1000u << 2;
        if (field == 1) bad[1].word0 = 0;  // input 0 belongs to run 0
        if (field == 2) bad[1].offset = 12;  // beyond the 12 bases of input 3
        writeFile(psa1, bad);
        for (const char* options : {"-a -p o", "-p o", "-a -p o -H -f"}) {
            expectError(merge(options), psa1);
            EXPECT_NE(merge(options).err.find("corrupt record 1"), std::string::npos);
        }
    }
    writeFile(psa1, good);

    // Missing stream files.
    rename(psa1.c_str(), (psa1 + ".away").c_str());
    expectError(merge("-a -p o"), "can't open Suffix file " + psa1);
    expectError(merge("-a -p o -f"), "can't open Suffix file " + psa1);
    rename((psa1 + ".away").c_str(), psa1.c_str());

    // A stream file that cannot be read is an error, not the end of the stream.
    std::string psa2 = base + "_2.stpsa";
    rename(psa2.c_str(), (psa2 + ".away").c_str());
    mkdir(psa2.c_str(), 0755);
    expectError(merge("-a -p o"), psa2);
    expectError(merge("-a -p o -f"), psa2);
    rmdir(psa2.c_str());
    rename((psa2 + ".away").c_str(), psa2.c_str());

    // LCP files: missing, or shorter than their suffix arrays.
    std::string lcp0 = base + "_0.stlcp";
    std::vector<uint32_t> lcps = readRecords<uint32_t>(lcp0);
    remove(lcp0.c_str());
    expectError(merge("-a -p o -Z"), "can't open LCP file " + lcp0);
    lcps.pop_back();
    writeFile(lcp0, lcps);
    expectError(merge("-a -p o -Z"), lcp0);
    EXPECT_EQ(merge("-a -p o").status, 0);  // without -Z the LCP files are not read
}

TEST_F(TreebuildDriver, RunsOfTheWrongSizeOrOrderAreNamed) {
    std::string psa1 = base + "_1.stpsa";
    std::vector<Record> good = readRecords<Record>(psa1);

    // A record short would lose an occurrence, a record too many repeat one.
    for (int extra : {-1, 1}) {
        std::vector<Record> bad = good;
        if (extra < 0) bad.pop_back();
        else bad.push_back(bad.back());
        writeFile(psa1, bad);
        for (const char* options : {"-a -p o", "-p o -H", "-p o -Z"}) {
            expectError(merge(options), psa1);
            EXPECT_NE(merge(options).err.find("holds " + std::to_string(bad.size()) + " records"), std::string::npos);
        }
    }
    // Without a partitions catalogue every input is a run of its own.
    writeRuns(base, inputs, {1, 1, 1, 1, 1}, false);
    std::string psa3 = base + "_3.stpsa";
    std::vector<Record> single = readRecords<Record>(psa3);
    single.pop_back();
    writeFile(psa3, single);
    expectError(merge("-a -p o"), psa3);
    writeRuns(base, inputs, {2, 2, 1}, false);

    // Two records swapped: wherever the merge compares neighbours of a run.
    std::vector<Record> swapped = good;
    std::swap(swapped[4], swapped[5]);
    writeFile(psa1, swapped);
    for (const char* options : {"-a -p o", "-p o", "-p o -H", "-p o -X -f"}) {
        expectError(merge(options), psa1);
        EXPECT_NE(merge(options).err.find("out of order: record 5 sorts before record 4"), std::string::npos)
            << options;
    }
    writeFile(psa1, good);
    EXPECT_EQ(merge("-p o -H").status, 0);
}

TEST_F(TreebuildDriver, DamagedCataloguesAndInputsAreNamed) {
    std::string bin = base + "_3.stbin";
    std::vector<char> words = readRecords<char>(bin);
    remove(bin.c_str());
    expectError(merge("-a -p o"), "can't open input string binary file " + bin);
    words.resize(2);
    writeFile(bin, words);
    expectError(merge("-a -p o"), "binary string 3 reading error");
    writeFile(bin, packBases(inputs[3]));

    std::vector<int32_t> bits = readRecords<int32_t>(base + ".stblengths");
    bits[1] = 5;
    writeFile(base + ".stblengths", bits);
    expectError(merge("-a -p o"), "bad lengths");
    bits[1] = 6;
    writeFile(base + ".stblengths", bits);

    writeFile(base + ".stplengths", std::vector<int32_t>{2, 2, 2});
    expectError(merge("-a -p o"), ".stplengths");
    writeFile(base + ".stplengths", std::vector<int32_t>{2, 2, 1});
    EXPECT_EQ(merge("-a -p o").status, 0);
}

TEST_F(TreebuildDriver, StoredLcpValuesAreCappedAtTheShorterSuffix) {
    // Upper-case runs get LCP values that claim one bit more than the shorter suffix
    // holds where it ends; such values must not reach the trees or the arrays.
    ASSERT_EQ(merge("-a -p ref").status, 0);
    ASSERT_EQ(merge("-p reftree").status, 0);
    int raised = 0;
    for (int r = 0; r < 3; r++) {
        std::string path = base + "_" + std::to_string(r) + ".stlcp";
        std::vector<uint32_t> lcps = readRecords<uint32_t>(path);
        for (size_t k = 1; k < lcps.size(); k++)
            if ((lcps[k] & 1) == 0) lcps[k] += 2, raised++;
        writeFile(path, lcps);
    }
    ASSERT_GT(raised, 0);
    Result r = merge("-a -p capped -Z");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(mergedLcps("capped"), mergedLcps("ref"));
    r = merge("-p tree -Z");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readRecords<char>(dir + "tree.ST/tree_0.stree"), readRecords<char>(dir + "reftree.ST/reftree_0.stree"));
}

TEST_F(TreebuildDriver, StoppedMergeLeavesNoArraysThatLookComplete) {
    ASSERT_EQ(merge("-a -p o").status, 0);
    ASSERT_TRUE(exists(dir + "o.ST/o.stpsa"));
    std::vector<Record> bad = readRecords<Record>(base + "_2.stpsa");
    bad.back().offset = 999;
    writeFile(base + "_2.stpsa", bad);
    expectError(merge("-a -p o -n 2"), base + "_2.stpsa");
    EXPECT_FALSE(exists(dir + "o.ST/o.stpsa"));
    EXPECT_FALSE(exists(dir + "o.ST/o.stlcp"));
}

}  // namespace
