// treequery on damaged and unusual data sets: dividers and tree files that lie,
// corrupt records, out-of-range inputs, letter case, mapped trees; and the substring
// fetch in-process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/run.h"
#include "tests/treequery/treequery_dataset.h"
#include "treequery/input_text.h"

namespace {

struct Result {
    int status;
    std::string output;  // stdout and stderr together
};

Result run(const std::string& args) {
    const testsupport::Captured c = testsupport::runProgram("treequery", args + " 2>&1");
    return {c.status, c.out};
}

const std::vector<std::string> kInputs = {"acgtacgtaacctgacgtagg", "ttgacgtaccgattacgt", "gacgtagacgt"};

class Store : public testing::Test {
  protected:
    void SetUp() override { base = tqdata::writeDataSet(dir, "ds", kInputs, 12); }
    static void writeBytes(const std::string& path, const std::string& bytes) { tqdata::writeFile(path, bytes); }
    static std::string readBytes(const std::string& path) { return tqdata::readFile(path); }
    void patchWord(const std::string& path, size_t offset, uint32_t value) {
        std::string bytes = readBytes(path);
        memcpy(&bytes[offset], &value, 4);
        writeBytes(path, bytes);
    }
    std::string query(const std::string& options) { return dir + " ds " + options; }
    // Names catalogue and coordinate map of inputs without removed stretches, so that
    // rows (-F) can be asked for.
    void writeCoordinates() {
        std::string names = "name\tfile\tfasta_length\tfiltered_length\n";
        std::string map = "STMAP01\n";
        for (size_t i = 0; i < kInputs.size(); i++) {
            const std::string length = std::to_string(kInputs[i].size());
            names.append("s").append(std::to_string(i)).append("\tg.fa\t");
            names.append(length).append("\t").append(length).append("\n");
            map += '\0';                       // no removed stretch
            map += (char)kInputs[i].size();    // kept (below 128: one varint byte)
            map += '\0';                       // chopped
        }
        const uint64_t inputs = kInputs.size();
        map.append(reinterpret_cast<const char*>(&inputs), 8).append("STMAPEND");
        writeBytes(base + ".stnames", names);
        writeBytes(base + ".stmap", map);
    }
    std::vector<tqdata::Divider> readDividers() {
        std::string bytes = readBytes(base + ".stdiv");
        std::vector<tqdata::Divider> d(bytes.size() / sizeof(tqdata::Divider));
        memcpy(d.data(), bytes.data(), d.size() * sizeof(tqdata::Divider));
        return d;
    }
    void writeDividers(const std::vector<tqdata::Divider>& d) { tqdata::writeFile(base + ".stdiv", d); }
    // Runs treequery with `options` and expects status 1 and "## ERROR: " followed by `message`.
    void expectError(const std::string& options, const std::string& message) {
        Result r = run(query(options));
        EXPECT_EQ(r.status, 1) << options << "\n" << r.output;
        EXPECT_NE(r.output.find("## ERROR: " + message), std::string::npos) << options << "\n" << r.output;
    }
    tqdata::TempDir temp{"tqstore"};
    const std::string dir = temp.path;
    std::string base;
};

TEST_F(Store, DividerFilesThatCannotBeTrusted) {
    std::string divs = base + ".stdiv";
    std::string good = readBytes(divs);
    ASSERT_GE(good.size(), 48u);

    writeBytes(divs, good + "x");
    Result r = run(query("-p acgt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("## ERROR: ST dividers file \"" + divs + "\" has " + std::to_string(good.size() + 1) +
                            " bytes, not a whole number of 24-byte dividers"),
              std::string::npos)
        << r.output;

    writeBytes(divs, "");
    r = run(query("-p acgt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("## ERROR: ST dividers file \"" + divs + "\" is empty"), std::string::npos) << r.output;

    for (uint32_t nodes : {0u, 0xfffffffbu, 0x7fffffffu}) {
        writeBytes(divs, good);
        patchWord(divs, 24 + 12, nodes);
        r = run(query("-0"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("divider 1 has an impossible node count " + std::to_string((int32_t)nodes)),
                  std::string::npos)
            << r.output;
    }

    unlink(divs.c_str());
    r = run(query("-p acgt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("## ERROR: can't open ST dividers file \"" + divs + "\""), std::string::npos);
}

TEST_F(Store, TreeFileOfAnotherSizeThanItsDivider) {
    // Tree 0 holds the suffixes that begin with a: every search below loads it.
    std::string tree = base + "_0.stree";
    std::string bytes = readBytes(tree);
    writeBytes(tree, bytes.substr(0, bytes.size() - 12));
    for (const char* search : {"-p a", "-p acgt -H 1"}) {
        expectError(search, "problem loading tree from file \"" + tree + "\"");
        expectError(std::string(search) + " -U", "problem with mmap: suffix tree file \"" + tree + "\" is shorter");
    }
    expectError("-0", "problem loading tree from file \"" + tree + "\", nb=" + std::to_string(bytes.size()) +
                          ", tn=" + std::to_string(bytes.size() - 12));
    // A record too many: the divider does not describe this tree.
    writeBytes(tree, bytes + bytes.substr(0, 12));
    const std::string longer = "suffix tree file \"" + tree + "\" has " + std::to_string(bytes.size() + 12) +
                               " bytes, but divider 0 of ST dividers file \"" + base + ".stdiv\" gives it";
    for (const char* options : {"-p a", "-p a -U", "-p acgt -H 1", "-p acgt -H 1 -U", "-0", "-0 -U"})
        expectError(options, longer);
}

TEST_F(Store, DamagedDividersAreRefused) {
    const std::vector<tqdata::Divider> good = readDividers();
    ASSERT_GE(good.size(), 4u);
    ASSERT_LT(good[0].from, good[0].to);
    const std::string file = "ST dividers file \"" + base + ".stdiv\": ";
    auto damaged = [&](auto change, const std::string& message) {
        std::vector<tqdata::Divider> d = good;
        change(d);
        writeDividers(d);
        for (const char* options : {"-p acgt", "-p acgt -H 1", "-0"}) expectError(options, file + message);
    };
    damaged([](auto& d) { std::swap(d[1], d[2]); }, "divider 1 names tree 2, not tree 1");
    damaged([](auto& d) { d[1] = d[0], d[1].tree = 1; }, "divider 1 has its first key below the last key of divider 0");
    damaged([](auto& d) { d[2].from = d[2].to + 1; }, "divider 2 has its first key above its last");
    damaged([](auto& d) { d[3].to = d[3 + 1].from + 1; },
            "divider 4 has its first key below the last key of divider 3");
    damaged([](auto& d) { d.resize(1); }, "its 1 trees hold between ");
    damaged([](auto& d) { d.push_back(d[0]), d.back().tree = (int)d.size() - 1, d.back().from = d.back().to = ~0u; },
            "its " + std::to_string(good.size() + 1) + " trees hold between ");

    // Cut at a record boundary: node counts still allow the suffixes, but a traversal
    // of every tree counts the leaves.
    std::vector<tqdata::Divider> cut(good.begin(), good.end() - 1);
    writeDividers(cut);
    long long leaves = 0;
    for (size_t t = 0; t + 1 < good.size(); t++) {
        std::string tree = readBytes(base + "_" + std::to_string(t) + ".stree");
        for (size_t at = 0; at < tree.size(); at += 12) leaves += tree[at + 4] & 1;
    }
    for (const char* options : {"-0", "-0 -U", "-a"})
        expectError(options, file + "its " + std::to_string(cut.size()) + " trees hold " + std::to_string(leaves) +
                                 " suffixes, but the inputs have 50");
    EXPECT_EQ(run(query("-0 -i 2")).status, 0);  // a partial traversal cannot tell

    // A divider whose tree file is not there (one divider too many, or a file lost):
    // the Hamming search says so on standard output (status 255) and standard error.
    writeDividers(good);
    const std::string missing = base + "_" + std::to_string(good.size() - 1) + ".stree";
    ASSERT_EQ(rename(missing.c_str(), (missing + ".away").c_str()), 0);
    Result r = run(query("-q -p ttttt -H 1"));
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.output.find("ERROR: Could not open tree file " + missing + "\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("## ERROR: can't open suffix tree file \"" + missing + "\""), std::string::npos);
}

TEST_F(Store, DataSetWithoutBasesAnswersEmpty) {
    std::string emptyDir = tqdata::tempDir("tqstore");
    tqdata::writeDataSet(emptyDir, "ds", {"", ""}, 12);
    for (const char* options : {"-p acgt", "-p acgt -U", "-p acgt -H 1", "-p ac*t -H 1 -U"}) {
        Result r = run(emptyDir + " ds -q " + options);
        EXPECT_EQ(r.status, 0) << options << "\n" << r.output;
        EXPECT_NE(r.output.find("(0 times"), std::string::npos) << options << "\n" << r.output;
    }
    for (const char* options : {"-0 -K -s 0:1 -1 -2 -k 1 -n 1 -e", "-0 -U", "-a"}) {
        Result r = run(emptyDir + " ds -q " + options);
        EXPECT_EQ(r.status, 0) << options << "\n" << r.output;
        EXPECT_EQ(r.output.find("## ERROR"), std::string::npos) << options << "\n" << r.output;
    }
    EXPECT_NE(run(emptyDir + " ds -q -0 -K -s 0,1:").output.find("Subset 0 1  (0 results total)"), std::string::npos);
    system(("rm -rf " + emptyDir).c_str());
}

TEST_F(Store, CorruptRecordsAreErrorsNotCrashes) {
    std::string tree = base + "_0.stree";
    std::string good = readBytes(tree);
    tqdata::Node root;
    memcpy(&root, good.data(), 12);
    // Root's 0-child far beyond the tree; also in the row searches, whose -U descents
    // go several at a time.
    writeCoordinates();
    patchWord(tree, 4, (root.link0 & 3u) | (999999u << 2));
    for (const char* mode : {"", " -U", " -F tsv -B", " -U -F tsv -B"}) {
        Result r = run(query(std::string("-p a") + mode));
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("corrupt suffix tree file \"" + tree + "\": record index 999999 out of range"),
                  std::string::npos)
            << r.output;
    }
    // Every leaf's input number beyond the catalogue.
    std::string bad = good;
    for (size_t at = 0; at + 12 <= bad.size(); at += 12) {
        uint32_t w1;
        memcpy(&w1, &bad[at + 4], 4);
        if (w1 & 1u) {
            w1 = (w1 & 3u) | (77u << 2);
            memcpy(&bad[at + 4], &w1, 4);
        }
    }
    writeBytes(tree, bad);
    Result r = run(query("-p a"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("input number 77 out of range"), std::string::npos) << r.output;
    // An interior record pointing to itself: a cycle.
    bad = good;
    uint32_t self = 0;
    memcpy(&root, bad.data(), 12);
    self = root.link0 >> 2;
    tqdata::Node child;
    memcpy(&child, &bad[12 * self], 12);
    if (!(child.link0 & 1u)) {
        child.link0 = (child.link0 & 3u) | (self << 2);
        child.link1 = (child.link1 & 3u) | (self << 2);
        child.edge = 0;
        memcpy(&bad[12 * self], &child, 12);
        writeBytes(tree, bad);
        r = run(query("-p a"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("corrupt suffix tree file"), std::string::npos) << r.output;
    }
}

TEST_F(Store, InputsOutsideTheCatalogue) {
    Result r = run(query("-r 3 -0"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("## ERROR: reference input 3 is not one of the 3 inputs"), std::string::npos);
    r = run(query("-r 4 -I -0"));
    EXPECT_NE(r.output.find("## ERROR: reference input 4 is not one of the 3 inputs"), std::string::npos) << r.output;
    r = run(query("-p 3,0,4"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("pattern triple 3,0,4: input 3 is not one of the 3 inputs"), std::string::npos);
    r = run(query("-p 2,8,4"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("pattern triple 2,8,4: offset 8 and length 4 reach beyond input 2 of length 11"),
              std::string::npos)
        << r.output;
    r = run(query("-p 0,0,4 -I"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("input 0 is not one of the 3 inputs (numbered from 1)"), std::string::npos) << r.output;
    r = run(query("-p acgt -o " + dir + "no/such/dir/out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("## ERROR: can't open file " + dir + "no/such/dir/out for output"), std::string::npos);
}

TEST_F(Store, AbsentByTreeLocationIsNoError) {
    // Below the smallest and above the greatest suffix: no divider admits them.
    Result r = run(query("-p aaaa,acgt,tttt"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("# Pattern not found (tree location)\n# Search finished, 0 trees (of "),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("(0 times in 0 files, length=4)   \"tttt\""), std::string::npos);
    EXPECT_NE(r.output.find("(7 times in 3 files, length=4)   \"acgt\""), std::string::npos) << r.output;
}

TEST_F(Store, LetterCaseOfPatternAndTextDoesNotMatter) {
    Result lower = run(query("-q -p acgt"));
    Result upper = run(query("-q -p ACGT"));
    EXPECT_NE(lower.output.find("(7 times in 3 files"), std::string::npos) << lower.output;
    auto rows = [](const std::string& out) { return out.substr(out.find("#cols:")); };
    EXPECT_EQ(rows(lower.output), rows(upper.output));
    tqdata::TempDir upperTemp("tqstore");
    const std::string upperDir = upperTemp.path;
    tqdata::writeDataSet(upperDir, "ds", kInputs, 12, true);
    Result stored = run(upperDir + " ds -q -p acgt,AcGt");
    EXPECT_EQ(stored.status, 0);
    size_t first = stored.output.find("(7 times in 3 files");
    EXPECT_NE(first, std::string::npos) << stored.output;
    EXPECT_NE(stored.output.find("(7 times in 3 files", first + 1), std::string::npos) << stored.output;
}

TEST_F(Store, MappedTreesAreKeptAcrossPatternsAndReleasedAtTheEnd) {
    // The second "acgt" finds its trees mapped already; every mapping is released
    // before the closing statistics.
    Result r = run(query("-U -p acgt,g,tttt,acgt"));
    EXPECT_EQ(r.status, 0);
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = r.output.find(what); at != std::string::npos; at = r.output.find(what, at + 1)) n++;
        return n;
    };
    Result once = run(query("-U -p acgt,g,tttt"));
    EXPECT_GT(count("# mmap "), 2u);
    EXPECT_EQ(count("# mmap "), count("# munmap ")) << r.output;
    EXPECT_NE(once.output.find("# mmap "), std::string::npos);
    size_t mapsOnce = 0;
    for (size_t at = once.output.find("# mmap "); at != std::string::npos; at = once.output.find("# mmap ", at + 1))
        mapsOnce++;
    EXPECT_EQ(count("# mmap "), mapsOnce);
    EXPECT_GT(r.output.find("# munmap "), r.output.rfind("Search finished"));
    EXPECT_LT(r.output.rfind("# munmap "), r.output.find("# treequery: mem"));
}

TEST_F(Store, SubstringFetch) {
    InputTexts texts;
    texts.inputBase = base;
    texts.inputs = (int)kInputs.size();
    char buffer[32] = "untouched";
    fetchSubstring(texts, 1, 3, 5, buffer);
    EXPECT_STREQ(buffer, "acgta");
    strcpy(buffer, "untouched");
    testing::internal::CaptureStderr();
    fetchSubstring(texts, 7, 0, 3, buffer);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(err, "## ERROR: can't read file " + base + "_7.stdna to get substring\n");
    EXPECT_EXIT(fetchSubstring(texts, 2, 8, 5, buffer), testing::ExitedWithCode(1),
                "can't read 5 bytes at offset 8 from file .*_2.stdna; n=3");
}

}  // namespace
