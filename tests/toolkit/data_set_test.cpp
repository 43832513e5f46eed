// The table of file kinds: in the order of its enum, paths formed as the programs
// have always named them, and every kind in the README's file table.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "toolkit/data_set.h"

namespace {

TEST(DataSetKinds, TableOrderPathsAndCoverage) {
    for (int k = 0; k < kFileKindCount; k++) {
        const FileKindRow& row = kFileKinds[k];
        EXPECT_EQ(static_cast<int>(row.kind), k) << row.extension;
        EXPECT_TRUE(isChecksumFile(fileKind(row.coveredBy).kind)) << row.extension << " is covered by a checksum file";
        EXPECT_STREQ(fileKind(row.coveredBy).writer, row.writer) << row.extension << ": its writer's checksum file";
    }
    EXPECT_EQ(dataSetFolder("d/", "p"), "d/p.ST/");
    EXPECT_EQ(dataSetBase("d/", "p"), "d/p.ST/p");
    EXPECT_EQ(dataSetBase("", "runs", "p"), "runs.ST/p");
    EXPECT_EQ(dataSetPath("d/p.ST/p", FileKind::texts, 3), "d/p.ST/p_3.stdna");
    EXPECT_EQ(dataSetPath("d/p.ST/p", FileKind::dividers), "d/p.ST/p.stdiv");
    EXPECT_EQ(dataSetPath("p.ST/p", FileKind::inputSums), "p.ST/p.stinsum");
}

// The README's disk-use table names every kind (in backquotes, in its first column).
TEST(DataSetKinds, ReadmeTableListsEveryKind) {
    std::ifstream in(std::string(SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(in) << "README.md not found";
    std::string table, line;
    while (std::getline(in, line))
        if (line.rfind("| `", 0) == 0) table += line.substr(0, line.find(" | ", 2)) + "\n";
    for (const FileKindRow& row : kFileKinds)
        EXPECT_NE(table.find(std::string("`") + row.extension + "`"), std::string::npos)
            << row.extension << " (" << row.what << ") is missing from the README's file table";
}

}  // namespace
