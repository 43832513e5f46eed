// Damaged data sets: a data set built by dnaprep, runarray and treebuild has one byte
// changed at a time, in every kind of file the checksums cover and at several offsets
// (first byte, last byte, a block boundary, seeded random ones). Every program that
// reads the byte must stop with an error naming the file, or give exactly the
// undamaged output; treequery -V must call the file damaged.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/dna.h"
#include "tests/support/files.h"
#include "tests/support/run.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"
#include "toolkit/checksum.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

// Builds the data set "d" in `dir` (runs with LCP files, several trees) from three
// seeded inputs; returns the programs' exit status.
int build(const std::string& dir, unsigned seed) {
    std::mt19937 rng(seed);
    std::string fasta;
    for (int i = 0; i < 3; i++) fasta += ">s" + std::to_string(i) + "\n" + randomBases(rng, 3000 + rng() % 3000) + "\n";
    writeFile(dir + "in.fa", fasta);
    return runCommand(binary("dnaprep") + " " + dir + " " + dir + " d -q -Q in.fa 2>/dev/null") |
           runCommand(binary("runarray") + " " + dir + " d -q -Z -r 9000 2>/dev/null") |
           runCommand(binary("treebuild") + " " + dir + " d -q -Z -n 8000 2>/dev/null");
}

struct Reader {
    std::string program;  // runarray or treebuild
    std::string options;
    std::vector<std::string> outputs;  // files it writes, compared with the undamaged build's
};

const Reader kRunarray{"runarray", "-Z -r 9000", {"d_0.stpsa", "d_1.stpsa", "d_0.stlcp", "d_1.stlcp", "d.stplengths"}};
const Reader kTreebuild{"treebuild", "-Z -n 8000", {"d.stdiv", "d_0.stree", "d_1.stree", "d_2.stree"}};

struct Case {
    std::string file;             // in d.ST/
    std::vector<Reader> readers;  // the programs that read it
};

// The offsets damaged in a file of `size` bytes.
std::vector<size_t> offsets(size_t size, std::mt19937& rng) {
    std::vector<size_t> at = {0, size - 1};
    if (size > kChecksumBlock) at.push_back(kChecksumBlock);
    for (int k = 0; k < 2; k++) at.push_back(rng() % size);
    return at;
}

TEST(ChecksumDamage, EveryReaderStopsNamingTheFileOrGivesTheUndamagedOutput) {
    const unsigned seed = firstSeed(14);
    SCOPED_TRACE(seedNote(seed));
    TempDir work("checksum-damage");
    const std::string clean = work.path + "clean/";
    fs::create_directories(clean);
    ASSERT_EQ(build(clean, seed), 0);
    const std::string set = clean + "d.ST/";
    for (const char* f : {"d_1.stpsa", "d_2.stree", "d.stinsum", "d.strunsum", "d.streesum"})
        ASSERT_TRUE(exists(set + f)) << f << " (the build should make two runs and three trees)";

    const std::vector<Case> cases = {
        {"d_1.stdna", {kRunarray}},
        {"d_2.stbin", {kRunarray, kTreebuild}},
        {"d.stlengths", {kRunarray, kTreebuild}},
        {"d.stblengths", {kRunarray, kTreebuild}},
        {"d_0.stpsa", {kTreebuild}},
        {"d_1.stlcp", {kTreebuild}},
        {"d.stplengths", {kTreebuild}},
        {"d_1.stree", {}},
        {"d.stdiv", {}},
    };
    std::mt19937 rng(seed);
    const std::string dir = work.path + "damaged/";
    for (const Case& c : cases) {
        const std::string original = readFile(set + c.file);
        ASSERT_FALSE(original.empty()) << c.file;
        for (size_t at : offsets(original.size(), rng)) {
            SCOPED_TRACE(c.file + " byte " + std::to_string(at));
            fs::remove_all(dir);
            fs::copy(clean, dir, fs::copy_options::recursive);
            std::string damaged = original;
            damaged[at] = static_cast<char>(damaged[at] ^ (1 + rng() % 255));
            writeFile(dir + "d.ST/" + c.file, damaged);

            for (const Reader& r : c.readers) {
                const Captured run = runProgram(r.program, dir + " d -q " + r.options);
                if (run.status == 0) {
                    for (const std::string& out : r.outputs)
                        EXPECT_EQ(readFile(dir + "d.ST/" + out), readFile(set + out)) << r.program << " wrote " << out;
                } else {
                    EXPECT_EQ(run.status, 1) << r.program;
                    EXPECT_NE(run.err.find("## ERROR: " + dir + "d.ST/" + c.file + " is damaged"), std::string::npos)
                        << r.program << ": " << run.err;
                }
            }
            const Captured report = runProgram("treequery", dir + " d -V -q");
            EXPECT_EQ(report.status, 1);
            EXPECT_NE(report.out.find(dir + "d.ST/" + c.file + ": damaged"), std::string::npos) << report.out;
        }
    }
}

}  // namespace
