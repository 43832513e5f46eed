// The names catalogue and the coordinate map: offsets and removed stretches against a
// brute force, escaped fields, and damaged or missing files.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"
#include "toolkit/names_map.h"

namespace {

using testsupport::TempDir;

// A sequence layout as text: 'b' a base, 'x' a removed character. The map is coded
// here from the layout, the way the format says, independently of dnaprep's writer.
std::string mapRecordOf(const std::string& layout, int64_t chopped) {
    std::string record;
    int64_t bases = 0, lastAt = 0;
    for (size_t i = 0; i < layout.size();) {
        if (layout[i] == 'b') {
            ++bases, ++i;
            continue;
        }
        size_t j = i;
        while (j < layout.size() && layout[j] == 'x') ++j;
        appendVarint(record, j - i);
        appendVarint(record, static_cast<uint64_t>(bases - lastAt));
        lastAt = bases;
        i = j;
    }
    appendVarint(record, 0);
    appendVarint(record, static_cast<uint64_t>(bases - chopped));
    appendVarint(record, static_cast<uint64_t>(chopped));
    return record;
}

std::string mapFileOf(const std::vector<std::string>& records) {
    std::string file = kMapMagic;
    for (const std::string& r : records) file += r;
    const uint64_t count = records.size();
    file.append(reinterpret_cast<const char*>(&count), 8);
    return file + kMapEnd;
}

TEST(CoordinateMap, OffsetsAndSpansAgreeWithBruteForce) {
    TempDir dir("names-map-test");
    const unsigned seed = testsupport::firstSeed(20261213);
    SCOPED_TRACE(testsupport::seedNote(seed));
    std::mt19937 rng(seed);
    // start, end, adjacent stretches (one base apart), all removed, no stretch, empty
    std::vector<std::string> layouts = {"xxbbxbxbbxx", "bxbxbxb", "xxxx", "bbbb", "", "x", "b", "xbbbbx"};
    for (int k = 0; k < 300; ++k) {
        std::string layout(rng() % 60, 'b');
        for (char& c : layout) c = rng() % 3 == 0 ? 'x' : 'b';
        layouts.push_back(layout);
    }
    std::vector<std::string> records;
    std::vector<int64_t> chops;
    for (const std::string& layout : layouts) {
        const int64_t bases = std::count(layout.begin(), layout.end(), 'b');
        chops.push_back(bases ? static_cast<int64_t>(rng() % (bases + 1)) / 2 : 0);
        records.push_back(mapRecordOf(layout, chops.back()));
    }
    std::ofstream(dir.path + "p.stmap", std::ios::binary) << mapFileOf(records);
    const std::vector<InputMap> maps = readCoordinateMap(dir.path + "p.stmap", ChecksumFile{});
    ASSERT_EQ(maps.size(), layouts.size());

    for (size_t k = 0; k < layouts.size(); ++k) {
        const std::string& layout = layouts[k];
        const InputMap& map = maps[k];
        SCOPED_TRACE(layout);
        std::vector<int64_t> offsets;  // FASTA offset of every base, chopped ones included
        for (size_t i = 0; i < layout.size(); ++i) {
            if (layout[i] == 'b') offsets.push_back(static_cast<int64_t>(i));
        }
        EXPECT_EQ(map.kept + map.chopped, static_cast<int64_t>(offsets.size()));
        EXPECT_EQ(map.chopped, chops[k]);
        EXPECT_EQ(fastaLength(map), static_cast<int64_t>(layout.size()));
        for (size_t i = 0; i < offsets.size(); ++i) EXPECT_EQ(fastaOffset(map, i), offsets[i]) << "base " << i;
        for (size_t a = 0; a < offsets.size(); ++a) {
            for (size_t b = a + 1; b <= offsets.size(); ++b) {
                const bool gap = offsets[b - 1] - offsets[a] != static_cast<int64_t>(b - 1 - a);
                EXPECT_EQ(spansRemoved(map, a, b), gap) << "[" << a << ", " << b << ")";
            }
        }
    }
}

TEST(CoordinateMap, DamageAndAbsenceAreErrors) {
    TempDir dir("names-map-test");
    const std::string good = mapFileOf({mapRecordOf("xbbxb", 1), mapRecordOf("bb", 0)});
    auto readBytes = [&](const std::string& bytes) {
        std::ofstream(dir.path + "m.stmap", std::ios::binary) << bytes;
        readCoordinateMap(dir.path + "m.stmap", ChecksumFile{});
    };
    EXPECT_EXIT(readCoordinateMap(dir.path + "none.stmap", ChecksumFile{}), ::testing::ExitedWithCode(1),
                "## ERROR: coordinate map .*none.stmap is missing: the data set was made without it");
    EXPECT_EXIT(readBytes(good.substr(0, good.size() - 1)), ::testing::ExitedWithCode(1), "incomplete");
    std::string miscounted = good;
    miscounted[miscounted.size() - 16] = 3;
    EXPECT_EXIT(readBytes(miscounted), ::testing::ExitedWithCode(1), "fewer inputs than its trailer counts");
    std::string cut = good;
    cut.erase(9, 1);  // the first record loses a byte
    EXPECT_EXIT(readBytes(cut), ::testing::ExitedWithCode(1), "damaged");
}

TEST(NamesCatalogue, EscapedFieldsRoundTripAndBadLinesStop) {
    TempDir dir("names-map-test");
    const std::string odd = "a\tb\\c\nd\re";
    std::ofstream(dir.path + "p.stnames") << kNamesHeader << "chr1\tin/x.fa\t100\t90\n"
                                          << escapeField(odd) << "\t" << escapeField(odd) << "\t0\t0\n";
    const auto names = readNamesCatalogue(dir.path + "p.stnames", ChecksumFile{});
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].name, "chr1");
    EXPECT_EQ(names[0].file, "in/x.fa");
    EXPECT_EQ(names[0].fastaLength, 100);
    EXPECT_EQ(names[0].filteredLength, 90);
    EXPECT_EQ(names[1].name, odd);
    EXPECT_EQ(names[1].file, odd);

    auto readText = [&](const std::string& text) {
        std::ofstream(dir.path + "n.stnames") << text;
        readNamesCatalogue(dir.path + "n.stnames", ChecksumFile{});
    };
    EXPECT_EXIT(readText("chr1\tx\t1\t1\n"), ::testing::ExitedWithCode(1), "header line");
    EXPECT_EXIT(readText(std::string(kNamesHeader) + "chr1\tx\t1\n"), ::testing::ExitedWithCode(1),
                "line 2: 3 fields instead of 4");
    EXPECT_EXIT(readText(std::string(kNamesHeader) + "chr1\tx\t1\t2\n"), ::testing::ExitedWithCode(1),
                "more bases than FASTA characters");
    EXPECT_EXIT(readText(std::string(kNamesHeader) + "chr1\tx\t1\t-1\n"), ::testing::ExitedWithCode(1),
                "is not a length");
    EXPECT_EXIT(readText(std::string(kNamesHeader) + "chr1\tx\t1\t1"), ::testing::ExitedWithCode(1), "incomplete");
    EXPECT_EXIT(readNamesCatalogue(dir.path + "none.stnames", ChecksumFile{}), ::testing::ExitedWithCode(1),
                "is missing");
}

}  // namespace
