// The sorter with threads: -j 2 and -j 3 leave every file and every run line as one
// thread leaves them, whether the threads take runs of their own or share one run; a
// failed run, or a damaged input, stops with the message one thread prints and leaves
// no later run behind; the LCP walk split into stretches gives the same values.
#include <gtest/gtest.h>

#include <divsufsort.h>

#include <filesystem>
#include <random>

#include "runarray/runarray.h"
#include "tests/runarray/runarray_dataset.h"
#include "tests/support/checksums.h"
#include "tests/support/output.h"

using namespace runarray_test;

namespace {

// Inputs of random lengths (some empty, some repetitive) from `seed`.
std::vector<std::string> randomInputs(unsigned seed, int count, int maxLength) {
    std::mt19937 rng(seed);
    std::vector<std::string> inputs;
    for (int k = 0; k < count; k++) {
        size_t length = rng() % 5 == 0 ? 0 : rng() % (unsigned)maxLength;
        std::string bases = randomBases(rng, length, k % 3 == 0 ? 2 : 4);
        inputs.push_back(bases);
    }
    return inputs;
}

class RunarrayThreads : public ::testing::Test {
protected:
    TempDir temp{"runarray_threads"};
    const std::string dir = temp.path;

    struct Outcome {
        int status = 0;
        std::string err;                           // times masked
        std::map<std::string, std::string> files;  // every run file, the catalogue, the checksums, temporaries
    };

    // Sorts data set "ds" with `options` and collects what it left.
    Outcome sort(const std::string& options) {
        Outcome o;
        const Captured c = runProgram("runarray", dir + " ds " + options);
        o.status = c.status;
        // Times differ from one run to the next; the echo of -j is the one line that may differ.
        o.err = maskReport(c.err, {"# Command", "# Version", "# sort: ", "# threads "});
        for (const auto& [name, bytes] : filesOf(dir + "ds.ST"))
            for (const char* kind : {".stpsa", ".stlcp", ".stplengths", ".strunsum", ".tmp"})
                if (name.size() > strlen(kind) && name.ends_with(kind)) o.files[name] = bytes;
        // Each outcome starts from no run files at all.
        for (auto& [name, bytes] : o.files) std::filesystem::remove(dir + "ds.ST/" + name);
        return o;
    }

    void expectSameAsOneThread(const std::string& options) {
        SCOPED_TRACE(options);
        Outcome one = sort(options);
        ASSERT_EQ(one.status, 0) << one.err;
        EXPECT_EQ(sort(options + " -j 1").files, one.files);
        for (const char* j : {" -j 2", " -j 3"}) {
            Outcome many = sort(options + j);
            EXPECT_EQ(many.status, 0) << j;
            EXPECT_EQ(many.err, one.err) << j;
            EXPECT_EQ(many.files.size(), one.files.size()) << j;
            EXPECT_TRUE(many.files == one.files) << j;
        }
    }
};

TEST_F(RunarrayThreads, ManyRunsAndSharedRunsMatchOneThread) {
    unsigned seed = firstSeed(1601);
    SCOPED_TRACE(seedNote(seed));
    makeDataSet(dir, "ds", randomInputs(seed, 40, 700));
    // Many runs at once (with and without LCP, input numbers from each run, runs of one,
    // two and more inputs), and one run whose output pieces and LCP stretches the threads
    // share, with pieces small enough that every thread writes many.
    for (const char* options : {"-r 1500 -m 64 -Z", "-S -z -m 50", "-r 4000 -N -Z", "-A -m 97 -Z", "-A -m 65536"})
        expectSameAsOneThread(options);
}

TEST_F(RunarrayThreads, FailedRunStopsAsOneThreadWouldAndLeavesNoLaterRun) {
    std::vector<std::string> inputs = randomInputs(firstSeed(1602), 12, 400);
    for (auto& s : inputs) s += "acgt";  // no empty inputs: every run reads its .stbin
    makeDataSet(dir, "ds", inputs);
    const std::string base = dir + "ds.ST/ds";
    // Input 4 (its own run with -S) has no packed form, input 9 a byte that is no base:
    // one thread stops at input 4's run, which is written as far as it got.
    std::filesystem::rename(base + "_4.stbin", base + "_4.stbin.away");
    writeFile(base + "_9.stdna", "acgn" + inputs[9].substr(4));
    for (const char* j : {"", " -j 2", " -j 3"}) {
        SCOPED_TRACE(j);
        Outcome o = sort(std::string("-S -Z") + j);
        EXPECT_NE(o.status, 0);
        EXPECT_NE(o.err.find("## ERROR: bad open: can't open " + base + "_4.stbin\n"), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find("DNA file"), std::string::npos) << o.err;
        EXPECT_EQ(o.files.count("ds.stplengths"), 0u);
        for (int run = 0; run < 12; run++) {
            std::string psa = "ds_" + std::to_string(run) + ".stpsa", lcp = "ds_" + std::to_string(run) + ".stlcp";
            EXPECT_EQ(o.files.count(psa), run < 4 ? 1u : 0u) << psa;
            EXPECT_EQ(o.files.count(lcp), run <= 4 ? 1u : 0u) << lcp;
        }
    }
    // With input 4 mended, the bad byte of input 9 is the first fault.
    std::filesystem::rename(base + "_4.stbin.away", base + "_4.stbin");
    for (const char* j : {"", " -j 3"}) {
        Outcome o = sort(std::string("-S -q") + j);
        EXPECT_NE(o.err.find("## ERROR: DNA file " + base + "_9.stdna: byte 'n' at offset 3"), std::string::npos)
            << j << o.err;
        EXPECT_EQ(o.files.size(), 9u) << j;  // runs 0 .. 8
    }
}

TEST_F(RunarrayThreads, DamagedInputStopsAsOneThreadWould) {
    std::vector<std::string> inputs = randomInputs(firstSeed(1604), 12, 9000);
    for (auto& s : inputs) s += "acgt";
    makeDataSet(dir, "ds", inputs);
    const std::string base = dir + "ds.ST/ds";
    testsupport::writeChecksums(base);
    // Still bases, so only the checksums can tell: input 6's text in its second block
    // when it has one, then (input 6 mended) input 9's packed form, read after its run's
    // LCP file is written.
    std::string dna6 = base + "_6.stdna", text6 = readFile(dna6), bin9 = base + "_9.stbin";
    std::string damaged = text6, packed = readFile(bin9);
    size_t at = damaged.size() > 5000 ? 5000 : 1;
    damaged[at] = damaged[at] == 'a' ? 'c' : 'a';
    packed[0] = (char)(packed[0] ^ 0x40);
    writeFile(dna6, damaged);
    for (int round = 0; round < 2; round++) {
        if (round == 1) {
            writeFile(dna6, text6);
            writeFile(bin9, packed);
        }
        const std::string fault = round == 0 ? dna6 : bin9;
        Outcome one = sort("-S -Z");
        EXPECT_NE(one.status, 0);
        EXPECT_NE(one.err.find("## ERROR: " + fault + " is damaged: block "), std::string::npos) << one.err;
        EXPECT_EQ(one.files.count("ds.strunsum"), 0u);
        for (const char* j : {" -j 2", " -j 3"}) {
            Outcome many = sort(std::string("-S -Z") + j);
            EXPECT_EQ(many.status, one.status) << j;
            EXPECT_EQ(many.err, one.err) << j;
            EXPECT_TRUE(many.files == one.files) << j;
        }
    }
}

TEST(RunarrayThreadsLcp, StretchesGiveTheValuesOfOneWalk) {
    unsigned seed = firstSeed(1603);
    SCOPED_TRACE(seedNote(seed));
    std::mt19937 rng(seed);
    for (int round = 0; round < 30; round++) {
        // Repetitive texts keep h large across the stretch borders.
        std::string text;
        int inputs = 1 + (int)(rng() % 4);
        std::string unit = randomBases(rng, 1 + rng() % 9, 4);
        for (int k = 0; k < inputs; k++) {
            std::string s = round % 2 ? randomBases(rng, rng() % 300, 2) : "";
            while (round % 2 == 0 && s.size() < 200) s += unit;
            text += s;
            text.push_back('\0');
        }
        int n = (int)text.size();
        std::vector<int32_t> suffixes(n + 1);
        ASSERT_EQ(divsufsort(reinterpret_cast<const uint8_t*>(text.data()), suffixes.data() + 1, n), 0);
        std::vector<uint32_t> one(n + 1, 7);
        computeLcp(reinterpret_cast<const uint8_t*>(text.data()), suffixes.data(), one.data(), n, 1);
        for (int threads : {2, 3, 5}) {
            std::vector<uint32_t> many(n + 1, 7);
            computeLcp(reinterpret_cast<const uint8_t*>(text.data()), suffixes.data(), many.data(), n, threads);
            EXPECT_EQ(many, one) << "round " << round << ", " << threads << " threads";
        }
    }
}

TEST(RunarrayThreadsMemory, FewerRunsAtOnceWhenTheyDoNotFit) {
    EXPECT_EQ(runsAtOnce(4, 10, 1000, 1 << 20), 4);
    EXPECT_EQ(runsAtOnce(4, 2, 1000, 1 << 20), 2);    // no more than there are runs
    EXPECT_EQ(runsAtOnce(4, 10, 1000, 2500), 2);      // memory for two
    EXPECT_EQ(runsAtOnce(4, 10, 1000, 500), 1);       // one always goes
    EXPECT_EQ(runsAtOnce(4, 10, 1000, 0), 4);         // memory not known
}

}  // namespace
