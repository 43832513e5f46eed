// treebuild -j: the writer thread must leave every tree file, the dividers and the
// report lines exactly as one thread does, on data sets cut into many runs and trees,
// and a write that fails must stop the build with one thread's message. -R: the runs'
// arrays go only after a complete build.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "tests/support/output.h"
#include "tests/support/run.h"
#include "tests/treebuild/treebuild_dataset.h"
#include "toolkit/data_set.h"
#include "toolkit/checksum.h"

using namespace tbdata;

namespace {

using Result = Captured;

// The report lines without their times and memory, for comparing runs.
std::string withoutTimes(const std::string& err) { return maskReport(err, {"# Command("}); }

class TreebuildThreads : public ::testing::Test {
protected:
    TempDir temp{"tbthreads"};
    const std::string dir = temp.path;
    std::string base;
    int runs = 0;

    // Seeded inputs over a small alphabet (long repeats, identical inputs and chains),
    // cut into runs of one to four inputs.
    void SetUp() override {
        const unsigned seed = firstSeed(1601);
        SCOPED_TRACE(seedNote(seed));
        std::mt19937 rng(seed);
        std::vector<std::string> inputs;
        for (int i = 0; i < 36; i++) {
            size_t length = 1 + rng() % 200;
            inputs.push_back(i % 9 == 8 ? inputs[static_cast<size_t>(i) - 3]
                                        : randomBases(rng, length, i % 3 == 0 ? 2 : 4));
        }
        base = writeInputs(dir, "ds", inputs);
        std::vector<int> cut = randomRuns(rng, static_cast<int>(inputs.size()), 4);
        runs = static_cast<int>(cut.size());
        writeRuns(base, inputs, cut, false);
    }

    Result treebuild(const std::string& prefix, const std::string& options) {
        return runProgram("treebuild", dir + " ds -p " + prefix + " " + options);
    }
    std::string outputDir(const std::string& prefix) const { return dir + prefix + ".ST/"; }
    std::string runFile(int r, const char* extension) const { return base + "_" + std::to_string(r) + extension; }
};

TEST_F(TreebuildThreads, WriterThreadGivesTheFilesAndLinesOfOneThread) {
    for (const char* options : {"-n 40", "-n 25 -C", "-n 300 -H", "-n 40 -Z -f -M 64"}) {
        SCOPED_TRACE(options);
        std::filesystem::remove_all(outputDir("one"));
        Result one = treebuild("one", options);
        ASSERT_EQ(one.status, 0) << one.err;
        std::map<std::string, std::string> expected = filesOf(outputDir("one"));
        ASSERT_GT(expected.size(), 10u) << "the case needs many trees";
        for (const char* threads : {"-j 2", "-j 3"}) {
            SCOPED_TRACE(threads);
            std::filesystem::remove_all(outputDir("more"));
            Result more = treebuild("more", std::string(options) + " " + threads);
            ASSERT_EQ(more.status, 0) << more.err;
            std::map<std::string, std::string> files = filesOf(outputDir("more"));
            ASSERT_EQ(files.size(), expected.size());
            for (const auto& [name, bytes] : expected) {
                std::string same = name;
                same.replace(0, 3, "more");
                EXPECT_TRUE(files[same] == bytes) << same << " differs from " << name;
            }
            std::string lines = std::regex_replace(withoutTimes(more.err), std::regex("more"), "one");
            EXPECT_EQ(lines, withoutTimes(one.err));
        }
    }
}

TEST_F(TreebuildThreads, FailedTreeWriteStopsWithTheMessageOfOneThread) {
    // Two faults: tree 4's file cannot be created (the builder opens it), and the
    // dividers file passes the file size limit part-way (the writer thread writes it).
    // Either way the build stops with one thread's message, leaves the same trees, no
    // dividers file, and every run. (Quiet, as the limit holds for standard error too.)
    struct Fault {
        const char* limit;
        const char* message;
    };
    for (const Fault& fault : {Fault{"", "## ERROR: cannot open suffix array "},
                               Fault{"trap '' XFSZ; ulimit -f 1; exec ", "## ERROR: could not write current divider element\n"}}) {
        SCOPED_TRACE(fault.message);
        Result reference;
        std::map<std::string, std::string> left;
        for (const char* threads : {"-j 1", "-j 2", "-j 3"}) {
            SCOPED_TRACE(threads);
            std::filesystem::remove_all(outputDir("bad"));
            std::filesystem::create_directories(outputDir("bad") + "bad_4.stree.tmp");
            if (fault.limit[0]) std::filesystem::remove(outputDir("bad") + "bad_4.stree.tmp");
            Result r = runCaptured(std::string(fault.limit) + binary("treebuild") + " " + dir + " ds -p bad -q -n 40 -R " +
                                   threads);
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find(fault.message), std::string::npos) << r.err;
            EXPECT_FALSE(exists(outputDir("bad") + "bad.stdiv"));
            for (int s = 0; s < runs; s++) {
                EXPECT_TRUE(exists(runFile(s, ".stpsa")));
                EXPECT_TRUE(exists(runFile(s, ".stlcp")));
            }
            std::map<std::string, std::string> files = filesOf(outputDir("bad"));
            if (reference.err.empty()) {
                reference = r;
                left = files;
                EXPECT_GE(files.size(), 4u);
            } else {
                EXPECT_EQ(withoutTimes(r.err), withoutTimes(reference.err));
                EXPECT_TRUE(files == left);
            }
        }
    }
}

TEST_F(TreebuildThreads, RemovingRunsComesAfterACompleteBuild) {
    Result kept = treebuild("kept", "-n 40");
    ASSERT_EQ(kept.status, 0) << kept.err;
    // The runs' checksum file would describe arrays that are gone; other files stay.
    std::vector<ChecksumEntry> sums;
    for (int s = 0; s < runs; s++) {
        sums.push_back(hashFile(runFile(s, ".stpsa")));
        sums.push_back(hashFile(runFile(s, ".stlcp")));
    }
    writeChecksumFile(dataSetPath(base, FileKind::runSums), sums);
    Result removed = treebuild("removed", "-n 40 -j 2 -R");
    ASSERT_EQ(removed.status, 0) << removed.err;
    EXPECT_NE(removed.err.find("# removed " + std::to_string(2 * runs + 1) + " run files\n"), std::string::npos)
        << removed.err;
    for (int s = 0; s < runs; s++) {
        EXPECT_FALSE(exists(runFile(s, ".stpsa")));
        EXPECT_FALSE(exists(runFile(s, ".stlcp")));
    }
    EXPECT_FALSE(exists(base + ".strunsum"));
    EXPECT_TRUE(exists(base + ".stplengths"));
    EXPECT_TRUE(exists(base + "_0.stbin"));
    EXPECT_EQ(readFile(outputDir("removed") + "removed.stdiv"), readFile(outputDir("kept") + "kept.stdiv"));
    // Without the runs a second build fails, and says which file it misses.
    Result again = treebuild("again", "-n 40");
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("## ERROR: can't open Suffix file " + runFile(0, ".stpsa")), std::string::npos)
        << again.err;
}

}  // namespace
