// The dividers file's reader and writer: records written one at a time and read back
// verified, the checks of their numbers, keys and node counts, and damage.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "toolkit/checksum.h"
#include "toolkit/dividers.h"
#include "toolkit/file_io.h"

namespace {

using testsupport::TempDir;
using testsupport::writeFile;
using Ints = std::vector<int32_t>;

TEST(Dividers, WrittenARecordAtATimeThenReadVerified) {
    TempDir dir("dividers-test");
    const std::string path = dir.path + "x.stdiv";
    writeFile(path, Ints{1});  // an earlier build's file goes when the writer opens
    DividersWriter out;
    out.open(path);
    EXPECT_NE(fileSizeByStat(temporaryName(path).c_str()), -1);
    EXPECT_EQ(fileSizeByStat(path.c_str()), -1);
    std::vector<TreeDivider> written = {{5, 1, 0, 3, 2, {}}, {9, 5, 1, 7, 4, {}}};
    WorkerStatus status;
    for (const TreeDivider& d : written) EXPECT_TRUE(out.append(d, status));
    writeChecksumFile(dir.path + "x.streesum", {out.finish()});
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(dir.path + "x.streesum"));
    std::vector<TreeDivider> read;
    ASSERT_TRUE(readDividerFile(path, read, &sums));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].to, 9u);
    EXPECT_EQ(read[1].nodes, 7);
    EXPECT_EQ(dividersProblem(path, read.data(), 2, -1), "");
    EXPECT_EQ(dividersProblem(path, read.data(), 2, 6), "");  // 3 + 7 records hold 2-2 and 4-6 suffixes
    EXPECT_NE(dividersProblem(path, read.data(), 2, 9).find("hold between 6 and 8 suffixes"), std::string::npos);
    read[1].from = 4;
    EXPECT_NE(dividersProblem(path, read.data(), 2, -1).find("divider 1 has its first key below the last key"),
              std::string::npos);

    // Damage is fatal, or kept for a verifier; so is a size that holds no whole records.
    FILE* f = fopen(path.c_str(), "r+b");
    fputc(0x77, f);
    fclose(f);
    EXPECT_EXIT(readDividerFile(path, read, &sums), testing::ExitedWithCode(1), "x.stdiv is damaged: block 0");
    WorkerStatus fault;
    EXPECT_FALSE(readDividerFile(path, read, &sums, &fault));
    EXPECT_NE(fault.message.find("is damaged: block 0"), std::string::npos) << fault.message;
    writeFile(path, Ints{1, 2, 3});
    fault = WorkerStatus();
    EXPECT_FALSE(readDividerFile(path, read, nullptr, &fault));
    EXPECT_NE(fault.message.find("has 12 bytes, not a whole number of 24-byte dividers"), std::string::npos)
        << fault.message;
}

}  // namespace
