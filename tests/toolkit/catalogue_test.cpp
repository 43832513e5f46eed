// The catalogue reader and writer: the two length catalogues found, sized, read and
// summed, verified against their checksums, the partitions, and every fault named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "toolkit/catalogue.h"
#include "toolkit/checksum.h"
#include "toolkit/file_io.h"

namespace {

using testsupport::bytesOf;
using testsupport::writeFile;
using testsupport::TempDir;
using Ints = std::vector<int32_t>;

TEST(Catalogues, FoundSizedReadAndSummed) {
    TempDir dir("catalogue-test");
    const std::string base = dir.path + "x";
    writeFile(base + ".stlengths", bytesOf(Ints{5, 0, 17}) + "\x55\x55");  // two stray bytes are no entry
    writeFile(base + ".stblengths", Ints{10, 0, 34});
    InputCatalogues c = findInputCatalogues(base);
    EXPECT_EQ(c.inputs, 3);
    int32_t lengths[3], bits[3];
    readInputCatalogues(c, 3, lengths, bits, nullptr);
    EXPECT_EQ(lengths[2], 17);
    EXPECT_EQ(bits[2], 34);
    EXPECT_EQ(c.longest, 17);
    EXPECT_EQ(c.totalBases, 22);
    // The first entries only (treebuild -N): the sums cover only those.
    readInputCatalogues(c, 2, lengths, bits, nullptr);
    EXPECT_EQ(c.longest, 5);
    EXPECT_EQ(c.totalBases, 5);
}

TEST(Catalogues, EveryFaultStopsNamingTheFile) {
    TempDir dir("catalogue-test");
    const std::string base = dir.path + "x";
    EXPECT_EXIT(findInputCatalogues(base), testing::ExitedWithCode(1),
                "could not open lengths file \"" + base + ".stlengths\"");
    writeFile(base + ".stlengths", Ints{5, 2});
    EXPECT_EXIT(findInputCatalogues(base), testing::ExitedWithCode(1),
                "Could not open binary lengths file \"" + base + ".stblengths\"");
    writeFile(base + ".stblengths", Ints{10});
    EXPECT_EXIT(findInputCatalogues(base), testing::ExitedWithCode(1), "catalogues differ in length: .* has 2 entries, .* has 1");
    int32_t lengths[2], bits[2];
    writeFile(base + ".stblengths", Ints{10, 5});
    InputCatalogues c = findInputCatalogues(base);
    EXPECT_EXIT(readInputCatalogues(c, 2, lengths, bits, nullptr), testing::ExitedWithCode(1),
                "bad lengths: input 1 has 2 bases but 5 bits in \"" + base + ".stblengths\"");
    writeFile(base + ".stlengths", Ints{5, -2});
    writeFile(base + ".stblengths", Ints{10, -4});
    EXPECT_EXIT(readInputCatalogues(c, 2, lengths, bits, nullptr), testing::ExitedWithCode(1),
                "input 1 has the negative length -2 in \"" + base + ".stlengths\"");
    // A catalogue that shrank between sizing and reading.
    writeFile(base + ".stlengths", Ints{5});
    EXPECT_EXIT(readInputCatalogues(c, 2, lengths, bits, nullptr), testing::ExitedWithCode(1),
                "catalogue .*x.stlengths\" holds 1 entries, 2 expected");
}

TEST(Catalogues, VerifiedAgainstTheirChecksums) {
    TempDir dir("catalogue-test");
    const std::string base = dir.path + "x";
    writeFile(base + ".stlengths", Ints{5, 2});
    writeFile(base + ".stblengths", Ints{10, 4});
    writeChecksumFile(base + ".stinsum", {hashFile(base + ".stlengths"), hashFile(base + ".stblengths")});
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(base + ".stinsum"));
    InputCatalogues c = findInputCatalogues(base);
    int32_t lengths[2], bits[2];
    readInputCatalogues(c, 2, lengths, bits, &sums);
    // Consistent entries, but not the ones the checksums vouch for.
    writeFile(base + ".stlengths", Ints{6, 2});
    writeFile(base + ".stblengths", Ints{12, 4});
    EXPECT_EXIT(readInputCatalogues(c, 2, lengths, bits, &sums), testing::ExitedWithCode(1), "x.stlengths is damaged");
}

TEST(Catalogues, PartitionsSplitTheInputs) {
    TempDir dir("catalogue-test");
    const std::string p = dir.path + "x.stplengths";
    writeFile(p, Ints{2, 1});
    EXPECT_EQ(catalogueEntries(p), 2);
    EXPECT_EQ(catalogueEntries(dir.path + "none"), -1);
    int32_t parts[2];
    readPartitions(p, 2, parts, 3, nullptr);
    EXPECT_EQ(parts[0], 2);
    EXPECT_EQ(parts[1], 1);
    EXPECT_EXIT(readPartitions(p, 2, parts, 4, nullptr), testing::ExitedWithCode(1),
                "its runs hold 3 inputs, the data set has 4");
    EXPECT_EXIT(readPartitions(p, 2, parts, 2, nullptr), testing::ExitedWithCode(1),
                "run 1 holds 1 inputs, beyond the 2 inputs");
    writeFile(p, Ints{-1, 4});
    EXPECT_EXIT(readPartitions(p, 2, parts, 3, nullptr), testing::ExitedWithCode(1), "run 0 holds -1 inputs");
    EXPECT_EXIT(readPartitions(dir.path + "none", 1, parts, 3, nullptr), testing::ExitedWithCode(1),
                "Could not open partitions file");
}

TEST(Catalogues, WriteThenRead) {
    TempDir dir("catalogue-test");
    std::string path = dir.path + "w.stlengths";
    int32_t entries[3] = {1, 2, 3};
    writeCatalogue(path.c_str(), entries, 3, "can't open lengths file %s\n");
    EXPECT_EQ(fileSizeByStat(path.c_str()), 12);
    EXPECT_EXIT(writeCatalogue((dir.path + "no/such").c_str(), entries, 3, "can't open lengths file %s\n"),
                testing::ExitedWithCode(1), "can't open lengths file .*no/such");
}

}  // namespace
