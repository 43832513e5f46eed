// The input stream: plain, gzip and multi-member gzip give the same bytes, whatever the
// piece size; truncated, corrupt or trailing gzip data stops.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "tests/support/temp_dir.h"
#include "toolkit/input_stream.h"

namespace {

using testsupport::TempDir;

// Everything the stream gives for `path`, read in pieces of `piece` bytes.
std::string readStream(const std::string& path, size_t piece) {
    InputStream in;
    if (!openInputStream(in, path)) return "(cannot open)";
    std::string out(piece, 0), all;
    for (;;) {
        const size_t got = readInputStream(in, reinterpret_cast<uint8_t*>(out.data()), piece);
        all.append(out, 0, got);
        if (got < piece) return all;
    }
}

TEST(InputStream, PlainGzipAndMultiMemberGiveTheSameBytes) {
    TempDir dir("input-stream-test");
    std::mt19937 rng(7);
    std::string text;
    for (int i = 0; i < 300000; ++i) text += "acgtN\n"[rng() % 6];
    std::ofstream(dir.path + "t.fa", std::ios::binary) << text.substr(0, 1000) << text.substr(1000);
    std::ofstream(dir.path + "a.fa", std::ios::binary) << text.substr(0, 1000);
    std::ofstream(dir.path + "b.fa", std::ios::binary) << text.substr(1000);
    const std::string d = dir.path;
    ASSERT_EQ(system(("gzip -c " + d + "t.fa > " + d + "t.dat && gzip -c " + d + "a.fa > " + d + "two.gz && gzip -c " +
                      d + "b.fa >> " + d + "two.gz")
                         .c_str()),
              0);
    for (size_t piece : {size_t{1} << 20, size_t{4096}, size_t{7}}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(readStream(d + "t.fa", piece), text);
        EXPECT_EQ(readStream(d + "t.dat", piece), text);  // recognised by its bytes, not its name
        EXPECT_EQ(readStream(d + "two.gz", piece), text);
    }
    std::ifstream in(d + "two.gz", std::ios::binary);
    const std::string gz((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(d + "cut.gz", std::ios::binary) << gz.substr(0, gz.size() / 2);
    EXPECT_EXIT(readStream(d + "cut.gz", 4096), ::testing::ExitedWithCode(1), "gzip data in .*cut.gz is truncated");
    std::string flipped = gz;
    flipped[gz.size() - 6] ^= 0x40;  // the last member's checksum
    std::ofstream(d + "bad.gz", std::ios::binary) << flipped;
    EXPECT_EXIT(readStream(d + "bad.gz", 4096), ::testing::ExitedWithCode(1), "gzip data in .*bad.gz is corrupt");
    std::ofstream(d + "tail.gz", std::ios::binary) << gz << "junk";
    EXPECT_EXIT(readStream(d + "tail.gz", 4096), ::testing::ExitedWithCode(1), "bytes after its gzip data");
    EXPECT_EQ(readStream(d + "missing.fa", 10), "(cannot open)");
}

}  // namespace
