// File access: whole reads and writes (with their failures), missing files, short
// writes, paths that must fit their buffer, and read-only mappings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "tests/support/temp_dir.h"
#include "toolkit/file_io.h"

namespace {

using testsupport::TempDir;

// A read or write that fails before the first byte says -1 (the golden case of
// interrupted builds has one that fails later).
TEST(WriteAll, CountsTheBytesBeforeAFailure) {
    std::vector<char> buffer(3 * 262144 + 1);
    EXPECT_EQ(writeAll(-1, buffer.data(), 262144), -1);
    EXPECT_EQ(writeAll(-1, buffer.data(), 3 * 262144 + 1), -1);
    EXPECT_EQ(writeAll(-1, buffer.data(), 0), 0);
    EXPECT_EQ(readAll(-1, buffer.data(), 10), -1);
}

TEST(WriteAll, WritesEveryByteInOrder) {
    TempDir dir("file-io-test");
    std::string path = dir.path + "out";
    std::vector<char> buffer(600000);
    for (size_t i = 0; i < buffer.size(); i++) buffer[i] = (char)(i * 7 + i / 1000);
    FileDescriptor fd(openFile(path.c_str(), 1));
    ASSERT_TRUE(fd.ok());
    EXPECT_EQ(writeAll(fd.fd, buffer.data(), buffer.size()), (int64_t)buffer.size());
    // At an offset, the file position stays where it was.
    EXPECT_EQ(writeAll(fd.fd, buffer.data(), 10, 5), 10);
    EXPECT_EQ(lseek(fd.fd, 0, SEEK_CUR), (off_t)buffer.size());
    const std::vector<char> head(buffer.begin(), buffer.begin() + 10);
    std::copy(head.begin(), head.end(), buffer.begin() + 5);
    fd.reset();
    EXPECT_EQ(fileSizeByStat(path.c_str()), (int64_t)buffer.size());
    std::vector<char> back(buffer.size());
    FileDescriptor in(openFile(path.c_str(), 0));
    EXPECT_EQ(readFully(in.fd, back.data(), back.size() + 10, path.c_str()), buffer.size());
    EXPECT_EQ(back, buffer);
    // Opening for writing empties an existing file.
    fd.reset(openFile(path.c_str(), 1));
    EXPECT_EQ(fileSizeByStat(path.c_str()), 0);
}

// A mapping reads in the pieces of the file the page cache lost, the last, shorter
// one too, and shows the file's bytes.
TEST(MapFileReadOnly, ReadsInTheMissingPieces) {
    TempDir dir("file-io-test");
    const std::string path = dir.path + "mapped";
    std::vector<char> bytes((5 << 20) + 123);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (char)(i * 13 + i / 4096);
    FileDescriptor fd(openFile(path.c_str(), 1));
    ASSERT_EQ(writeAll(fd.fd, bytes.data(), bytes.size()), (int64_t)bytes.size());
    fdatasync(fd.fd);
    fd.reset(openFile(path.c_str(), 0));
    posix_fadvise(fd.fd, 2 << 20, 0, POSIX_FADV_DONTNEED);  // the second piece on
    void* address = mapFileReadOnly(fd.fd, bytes.size());
    ASSERT_NE(address, MAP_FAILED);
    readInMissingPieces(address, bytes.size());
#ifdef MADV_POPULATE_READ
    const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> resident((bytes.size() + page - 1) / page);
    ASSERT_EQ(mincore(address, bytes.size(), resident.data()), 0);
    EXPECT_EQ(std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return (r & 1) == 0; }), 0);
#endif
    EXPECT_EQ(memcmp(address, bytes.data(), bytes.size()), 0);
    munmap(address, bytes.size());
}

TEST(FileIo, MissingFilesAndShortWrites) {
    EXPECT_LT(fileSizeByStat("/nonexistent/file"), 0);
    EXPECT_LT(openFile("/nonexistent/file", 0), 0);
    int fd = open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    char data[16] = {};
    EXPECT_EXIT(writeOrDie(fd, data, sizeof data, "/dev/full"), testing::ExitedWithCode(1),
                "## ERROR: can't write 16 bytes to /dev/full");
    close(fd);
}

TEST(FormatPath, FitsOrStops) {
    EXPECT_EQ(formatPath(kPathLimit, "%s%s%s/%s", "out/", "hg", ".ST", "hg"), "out/hg.ST/hg");
    EXPECT_EQ(formatPath(kPathLimit, "%s_%d%s", "d/hg", 12, ".stdna"), "d/hg_12.stdna");
    std::string longName(kPathLimit, 'x');
    EXPECT_EXIT(formatPath(kPathLimit, "%s", longName.c_str()), testing::ExitedWithCode(1), "path too long");
    EXPECT_EQ(formatPath(kPathLimit, "%s", longName.substr(1).c_str()).size(), kPathLimit - 1);
}

}  // namespace
