// The catalogue readers and writer: all three catalogues, the search's own reader of
// the two length catalogues, and their failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "toolkit/catalogue.h"
#include "toolkit/file_io.h"

namespace {

using testsupport::bytesOf;
using testsupport::writeFile;
using Ints = std::vector<int32_t>;

using testsupport::TempDir;

TEST(Catalogues, ReadAllThree) {
    TempDir dir("catalogue-test");
    std::string l = dir.path + "x.stlengths", b = dir.path + "x.stblengths", p = dir.path + "x.stplengths";
    writeFile(l, Ints{5, 0, 17});
    writeFile(b, Ints{10, 0, 34});
    writeFile(p, Ints{2, 1});
    int32_t lengths[3], bits[3], parts[10];
    for (int32_t& x : parts) x = -7;
    readCatalogues(l.c_str(), b.c_str(), p.c_str(), lengths, bits, parts, 3);
    EXPECT_EQ(lengths[2], 17);
    EXPECT_EQ(bits[2], 34);
    // A partitions catalogue fills only its own entries.
    readCatalogues(nullptr, nullptr, p.c_str(), nullptr, nullptr, parts, 10);
    EXPECT_EQ(parts[0], 2);
    EXPECT_EQ(parts[1], 1);
    EXPECT_EQ(parts[2], -7);
}

TEST(Catalogues, ReaderFailures) {
    TempDir dir("catalogue-test");
    std::string l = dir.path + "x.stlengths", b = dir.path + "x.stblengths";
    writeFile(l, Ints{5, 0, 17});
    writeFile(b, Ints{10, 0});
    int32_t lengths[4], bits[4];
    EXPECT_EXIT(readCatalogues(l.c_str(), nullptr, nullptr, lengths, nullptr, nullptr, 4),
                testing::ExitedWithCode(1), "Reading lengths of partitions - error");
    EXPECT_EXIT(readCatalogues(nullptr, b.c_str(), nullptr, nullptr, bits, nullptr, 3),
                testing::ExitedWithCode(1), "Reading binary lengths of partitions - error");
    std::string missing = dir.path + "none.stplengths";
    EXPECT_EXIT(readCatalogues(nullptr, nullptr, missing.c_str(), nullptr, nullptr, bits, 3),
                testing::ExitedWithCode(1), "Could not open partitions file \"" + missing + "\"");
}

TEST(Catalogues, LengthReaderOfTheSearch) {
    TempDir dir("catalogue-test");
    std::string base = dir.path + "x";
    writeFile(base + ".stlengths", bytesOf(Ints{4, 9}) + "\x55\x55");  // two stray bytes are ignored
    writeFile(base + ".stblengths", Ints{8, 18});
    int32_t *lengths = nullptr, *bits = nullptr;
    EXPECT_EQ(readLengthCatalogues(base.c_str(), &lengths, &bits), 2);
    EXPECT_EQ(lengths[1], 9);
    EXPECT_EQ(bits[1], 18);
    free(lengths);
    free(bits);
    writeFile(base + ".stblengths", Ints{8});
    EXPECT_EXIT(readLengthCatalogues(base.c_str(), &lengths, &bits), testing::ExitedWithCode(1),
                "problem reading binary lengths file");
    EXPECT_EXIT(readLengthCatalogues((dir.path + "y").c_str(), &lengths, &bits), testing::ExitedWithCode(1),
                "can't open lengths file");
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
