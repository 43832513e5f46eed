// Block checksums of data-set files, so that a data set can tell when a file is no
// longer what its writer left: XXH3-64 of every 4 KiB block of a file and of the
// whole file (the hash of its size and block hashes), kept in one checksum file per
// writing program beside the files it covers. Hashing costs one pass over the data;
// a reader keeps one "verified" bit per block and hashes each block at most once.
//
// Checksum file (little-endian):
//   magic "DTSUM\1\0\0", uint32 block size, uint32 file count
//   per file: uint32 name length, name (relative to the checksum file's folder),
//             uint64 bytes, uint64 whole-file hash, uint64 offset of its block table
//             in this file, uint64 hash of that block table
//   uint64 hash of everything above (the header protects itself)
//   the block tables: one uint64 per block, ceil(bytes / block size) per file
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// 4 KiB: a search that reaches a few records in many places hashes one page for each
// (measured in bench/verify_cost.sh: 64 KiB blocks cost a short search several times
// its own time; below 4 KiB the tables grow with no gain).
constexpr uint32_t kChecksumBlock = 4096;

// XXH3-64 of a byte range.
uint64_t blockHash(const void* data, size_t size);

// One covered file as the writer saw it.
struct ChecksumEntry {
    std::string name;  // file name, no folder
    uint64_t bytes = 0;
    uint64_t whole = 0;
    std::vector<uint64_t> blocks;
};

// Hashes a finished file block by block (reading it back); a read error is fatal.
ChecksumEntry hashFile(const std::string& path);

// Writes the checksum file at `path` atomically (temporary name, then rename).
void writeChecksumFile(const std::string& path, const std::vector<ChecksumEntry>& entries);

// A checksum file as a reader sees it: the directory is read and checked at load;
// block tables are read when a covered file is opened.
struct ChecksumFile {
    std::string path;  // empty when the data set has none
    uint32_t blockSize = kChecksumBlock;
    struct Item {
        std::string name;
        uint64_t bytes, whole, tableOffset, tableHash;
    };
    std::vector<Item> items;

    // Reads `path`; returns false when it does not exist, and stops with an error
    // naming it when it exists but is damaged.
    bool load(const std::string& checksumPath);
    const Item* find(const std::string& name) const;
    // The block table of `item`, checked against its hash (fatal on mismatch).
    std::vector<uint64_t> blockTable(const Item& item) const;
};

// One covered file being read: verifies each block the first time any part of it is
// used. Without a checksum entry it verifies nothing.
struct VerifiedFile {
    std::string path;
    const ChecksumFile* sums = nullptr;
    uint64_t bytes = 0;
    uint32_t blockSize = kChecksumBlock;
    std::vector<uint64_t> blocks;
    std::vector<uint8_t> verified;
    bool covered = false;

    // Looks the file up by its name in `sums` (may be null or empty). A file whose size
    // differs from the checksum's is an error naming both sizes.
    void attach(const ChecksumFile* checksums, const std::string& filePath, int64_t fileBytes);
    // Verifies every not yet verified block that overlaps [offset, offset + length):
    // hashed from `mapped` (the whole file mapped at that address) when given, else read
    // with pread from `fd`. A mismatch is an error naming the file, the block and the
    // expected checksum.
    void check(uint64_t offset, uint64_t length, const void* mapped, int fd) {
        if (!covered || length == 0) return;
        uint64_t first = offset / blockSize, last = (offset + length - 1) / blockSize;
        for (uint64_t b = first; b <= last; b++)
            if (b < verified.size() && !verified[b]) verifyBlock(b, mapped, fd);
    }
    void verifyBlock(uint64_t block, const void* mapped, int fd);
};

// Temporary name of a file written atomically: "<path>.tmp".
std::string temporaryName(const std::string& path);
// Creates the temporary file of `path` for writing (fatal when it cannot); until
// commitFile(path), the temporary file is removed when the program exits.
int openTemporary(const std::string& path);
// Renames the temporary file of `path` into place; fatal on failure.
void commitFile(const std::string& path);
