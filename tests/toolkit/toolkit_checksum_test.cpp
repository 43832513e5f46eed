// Block checksums: what a writer records is what a reader verifies, a damaged byte is
// caught in the block that holds it and only there, and a damaged checksum file or a
// file of another size is refused. Files written under a temporary name never appear
// under their real name unless committed.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/run.h"
#include "tests/support/temp_dir.h"
#include "toolkit/checksum.h"
#include "toolkit/file_io.h"

namespace {

using testsupport::TempDir;
using testsupport::writeFile;

struct Folder : TempDir {
    Folder() : TempDir("checksum-test") {}
};

void writeBytes(const std::string& path, const std::string& bytes) { writeFile(path, bytes); }

std::string pseudoRandom(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = (char)((i * 2654435761u + seed) >> 11);
    return s;
}

// Writes files of the given sizes and their checksum file; returns the folder's files.
std::vector<std::string> coveredSet(const Folder& folder, const std::vector<size_t>& sizes) {
    std::vector<std::string> paths;
    std::vector<ChecksumEntry> entries;
    for (size_t i = 0; i < sizes.size(); i++) {
        paths.push_back(folder.path + "f_" + std::to_string(i) + ".stree");
        writeBytes(paths.back(), pseudoRandom(sizes[i], (unsigned)i));
        entries.push_back(hashFile(paths.back()));
    }
    writeChecksumFile(folder.path + "f.streesum", entries);
    return paths;
}

void verifyAll(const ChecksumFile& sums, const std::string& path, bool mapped) {
    int64_t bytes = fileSizeByStat(path.c_str());
    FileDescriptor fd(openFile(path.c_str(), 0));
    std::string content(bytes, '\0');
    if (mapped) readFully(fd.fd, content.data(), content.size(), path.c_str());
    VerifiedFile file;
    file.attach(&sums, path, bytes);
    file.check(0, (uint64_t)bytes, mapped ? content.data() : nullptr, fd.fd);
}

TEST(Checksums, EveryBlockOfEverySizeVerifiesReadOrMapped) {
    Folder folder;
    std::vector<size_t> sizes = {0, 1, kChecksumBlock - 1, kChecksumBlock, kChecksumBlock + 1, 5 * kChecksumBlock + 7};
    std::vector<std::string> paths = coveredSet(folder, sizes);
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(folder.path + "f.streesum"));
    ASSERT_EQ(sums.items.size(), sizes.size());
    for (const std::string& path : paths) {
        verifyAll(sums, path, false);
        verifyAll(sums, path, true);
        EXPECT_EQ(hashFile(path).whole, sums.find(path)->whole);
        EXPECT_EQ(sums.pathOf(*sums.find(path)), path);
    }
    ChecksumFile none;
    EXPECT_FALSE(none.load(folder.path + "absent.streesum"));
    // The data set's prefix is not part of what the checksum file says.
    EXPECT_EQ(sums.items[1].name, "*_1.stree");
    std::vector<ChecksumEntry> renamed;
    for (const std::string& path : paths) renamed.push_back(hashFile(path));
    for (ChecksumEntry& e : renamed) e.name[0] = 'g';
    writeChecksumFile(folder.path + "g.streesum", renamed);
    EXPECT_EQ(testsupport::readFile(folder.path + "g.streesum"), testsupport::readFile(folder.path + "f.streesum"));
}

// A writer hashes as it writes, in pieces of any size: the entry must be the one a
// read-back gives, or every file it writes would fail to verify.
TEST(Checksums, HashingWhileWritingMatchesReadingBack) {
    Folder folder;
    BlockHasher hasher;
    for (size_t size : {size_t(0), size_t(5), size_t(kChecksumBlock), size_t(3 * kChecksumBlock + 11)}) {
        std::string bytes = pseudoRandom(size, 7);
        std::string path = folder.path + "f.stbin";
        writeBytes(path, bytes);
        ChecksumEntry read = hashFile(path);
        for (size_t piece : {size_t(1000), size_t(kChecksumBlock - 1), size_t(4 * kChecksumBlock)}) {
            for (size_t at = 0; at < size; at += piece) hasher.add(bytes.data() + at, std::min(piece, size - at));
            ChecksumEntry written = hasher.finish(path);
            EXPECT_EQ(written.name, "f.stbin");
            EXPECT_EQ(written.bytes, read.bytes) << size << " " << piece;
            EXPECT_EQ(written.blocks, read.blocks) << size << " " << piece;
            EXPECT_EQ(written.whole, read.whole) << size << " " << piece;
        }
    }
}

// A block only partly inside the caller's bytes is read from the file, never from
// beyond the caller's buffer.
TEST(Checksums, PartlyReadBlocksAreReadFromTheFile) {
    Folder folder;
    std::string path = coveredSet(folder, {2 * kChecksumBlock + 50})[0];
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(folder.path + "f.streesum"));
    std::string bytes = testsupport::readFile(path);
    FileDescriptor fd(openFile(path.c_str(), 0));
    VerifiedFile file;
    file.attach(&sums, path, (int64_t)bytes.size());
    std::string head = bytes.substr(100, kChecksumBlock);  // parts of blocks 0 and 1
    file.check(100, head.size(), head.data(), fd.fd);
    EXPECT_EQ(file.verified, (std::vector<uint8_t>{1, 1, 0}));
    EXPECT_EQ(firstFault(sums, sums.items[0], path), "");
    std::string damaged = bytes;
    damaged[kChecksumBlock + 3] ^= 4;
    writeBytes(path, damaged);
    const std::string block1 = "block 1 (bytes " + std::to_string(kChecksumBlock) + " to " +
                               std::to_string(2 * kChecksumBlock - 1) + ")";
    EXPECT_NE(firstFault(sums, sums.items[0], path).find(block1), std::string::npos);
    writeBytes(path, bytes.substr(1));
    EXPECT_EQ(firstFault(sums, sums.items[0], path), "holds " + std::to_string(bytes.size() - 1) +
                                                         " bytes, its checksum says " + std::to_string(bytes.size()));
    std::remove(path.c_str());
    EXPECT_EQ(firstFault(sums, sums.items[0], path), "missing");
}

// Threads that share marks hash a block once between them, and a damaged block is
// marked for none of them.
TEST(Checksums, SharedMarksSpareTheOtherThreadsTheHashButNeverVouchForDamage) {
    Folder folder;
    std::string path = coveredSet(folder, {2 * kChecksumBlock})[0];
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(folder.path + "f.streesum"));
    const std::string bytes = testsupport::readFile(path);
    std::string damaged = bytes;
    damaged[3] ^= 1;
    damaged[kChecksumBlock + 3] ^= 1;
    FileDescriptor fd(openFile(path.c_str(), 0));
    SharedMarks marks;
    VerifiedFile one, two;
    WorkerStatus oneFault, twoFault;
    one.fault = &oneFault;
    two.fault = &twoFault;
    for (VerifiedFile* file : {&one, &two}) {
        file->attach(&sums, path, (int64_t)bytes.size());
        file->shareMarks(marks, 0);
    }
    one.check(0, kChecksumBlock, bytes.data(), fd.fd);
    two.check(0, 2 * kChecksumBlock, damaged.data(), fd.fd);  // block 0 on one's word
    EXPECT_EQ(two.verified, (std::vector<uint8_t>{1, 0}));
    EXPECT_NE(twoFault.message.find("block 1 "), std::string::npos) << twoFault.message;
    one.check(kChecksumBlock, kChecksumBlock, damaged.data() + kChecksumBlock, fd.fd);
    EXPECT_NE(oneFault.message.find("block 1 "), std::string::npos) << oneFault.message;
    EXPECT_EQ(marks.forFile(0, 3), nullptr);  // another number of blocks shares nothing
}

TEST(ChecksumsDeathTest, DamageIsCaughtInItsBlockOnly) {
    Folder folder;
    std::string path = coveredSet(folder, {3 * kChecksumBlock + 100})[0];
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(folder.path + "f.streesum"));
    std::string bytes = pseudoRandom(3 * kChecksumBlock + 100, 0);
    bytes[2 * kChecksumBlock + 5] ^= 1;
    writeBytes(path, bytes);
    FileDescriptor fd(openFile(path.c_str(), 0));
    VerifiedFile file;
    file.attach(&sums, path, (int64_t)bytes.size());
    file.check(0, 2 * kChecksumBlock, nullptr, fd.fd);       // blocks 0 and 1: intact
    file.check(3 * kChecksumBlock, 100, bytes.data() + 3 * kChecksumBlock, fd.fd);  // block 3: intact
    EXPECT_DEATH(file.check(2 * kChecksumBlock + 5, 1, nullptr, fd.fd),
                 "## ERROR: .*f_0.stree is damaged: block 2 \\(bytes " + std::to_string(2 * kChecksumBlock) + " to " +
                     std::to_string(3 * kChecksumBlock - 1) + "\\) has checksum [0-9a-f]{16}, expected [0-9a-f]{16}");
    EXPECT_DEATH(file.check(0, bytes.size(), bytes.data(), fd.fd), "f_0.stree is damaged: block 2 ");
}

TEST(ChecksumsDeathTest, DamagedChecksumFilesAndOtherSizesAreRefused) {
    Folder folder;
    std::string path = coveredSet(folder, {kChecksumBlock * 2})[0];
    std::string sumPath = folder.path + "f.streesum";
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(sumPath));
    EXPECT_DEATH(VerifiedFile().attach(&sums, path, kChecksumBlock),
                 "holds " + std::to_string(kChecksumBlock) + " bytes, its checksum file .* says " +
                     std::to_string(2 * kChecksumBlock));
    EXPECT_DEATH(VerifiedFile().attach(&sums, folder.path + "other.stree", 1), "other.stree is not listed in checksum file");

    FILE* f = fopen(sumPath.c_str(), "r+b");
    std::string original(200, '\0');
    original.resize(fread(original.data(), 1, original.size(), f));
    fclose(f);
    for (size_t at : {size_t(0), size_t(9), size_t(20), original.size() - 9, original.size() - 1}) {
        std::string damaged = original;
        damaged[at] ^= 0x10;
        writeBytes(sumPath, damaged);
        if (at < original.size() - 16) {
            EXPECT_DEATH(ChecksumFile().load(sumPath), "checksum file .*f.streesum is damaged") << at;
        } else {  // inside the block table: found when the covered file is opened
            ChecksumFile loaded;
            ASSERT_TRUE(loaded.load(sumPath));
            EXPECT_DEATH(VerifiedFile().attach(&loaded, path, 2 * kChecksumBlock), "block table of f_0.stree differs") << at;
        }
    }
    writeBytes(sumPath, original.substr(0, 30));
    EXPECT_DEATH(ChecksumFile().load(sumPath), "is damaged");
}

TEST(ChecksumsDeathTest, LongDirectoriesAreReadWholeAndDamageInThemIsRefused) {
    // Thousands of listed files, the real one last.
    Folder folder;
    const std::string real = folder.path + "f_last.stree";
    writeBytes(real, pseudoRandom(3 * kChecksumBlock + 5, 7));
    std::vector<ChecksumEntry> entries(3000);
    for (size_t i = 0; i < entries.size(); i++) {
        entries[i].name = "f_" + std::to_string(i) + std::string(60, 'x') + ".stree";
        entries[i].bytes = 1;
        entries[i].blocks = {i};
    }
    entries.push_back(hashFile(real));
    const std::string sumPath = folder.path + "f.streesum";
    writeChecksumFile(sumPath, entries);
    ChecksumFile sums;
    ASSERT_TRUE(sums.load(sumPath));
    ASSERT_EQ(sums.items.size(), entries.size());
    ASSERT_NE(sums.find(real), nullptr);
    verifyAll(sums, real, false);

    const std::string original = testsupport::readFile(sumPath);
    std::string damaged = original;
    damaged[150 * 1024] ^= 0x10;  // in the directory (about 310 KiB long)
    writeBytes(sumPath, damaged);
    EXPECT_DEATH(ChecksumFile().load(sumPath), "checksum file .*f.streesum is damaged");
    writeBytes(sumPath, original.substr(0, 100 * 1024));  // cut inside the directory
    EXPECT_DEATH(ChecksumFile().load(sumPath), "checksum file .*f.streesum is damaged");
}

TEST(AtomicFiles, OnlyCommittedFilesTakeTheirNames) {
    Folder folder;
    std::string done = folder.path + "done.stree", failed = folder.path + "failed.stree";
    const testsupport::Captured child = testsupport::runInChild([&] {
        if (openTemporary(folder.path + "no/such/folder.stree") >= 0) exit(2);
        int fd = openTemporary(done);
        writeOrDie(fd, "abc", 3, done.c_str());
        closeFile(fd);
        commitFile(done);
        fd = openTemporary(failed);
        writeOrDie(fd, "abc", 3, failed.c_str());
        exit(1);  // a failure before the commit
    });
    EXPECT_EQ(child.status, 1) << "2: a temporary opened in a missing folder\n" << child.err;
    EXPECT_EQ(fileSizeByStat(done.c_str()), 3);
    EXPECT_LT(fileSizeByStat(failed.c_str()), 0);
    EXPECT_LT(fileSizeByStat(temporaryName(failed).c_str()), 0);
    EXPECT_LT(fileSizeByStat(temporaryName(done).c_str()), 0);
}

}  // namespace
