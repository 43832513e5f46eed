// Block checksums of data-set files, so that a data set can tell when a file is no
// longer what its writer left: XXH3-64 of every 4 KiB block of a file and of the
// whole file (the hash of its size and block hashes), kept in one checksum file per
// writing program beside the files it covers. Writers hash as they write (one pass
// over the bytes, no read-back); a reader keeps one "verified" bit per block and
// hashes each block at most once, so a search pays only for the blocks it touches.
// Extra memory: 8 bytes per block of each covered file plus one bit-sized flag, and
// one byte more per block where threads share their marks (SharedMarks).
//
// Checksum file (little-endian):
//   magic "DTSUM\1\0\0", uint32 block size, uint32 file count
//   per file: uint32 name length, name (the file's name in the checksum file's folder,
//             its leading data-set prefix, the checksum file's own name without its
//             extension, written "*": "*_0.stdna" beside "<prefix>.stinsum", so that
//             the same files give the same checksum file under any prefix),
//             uint64 bytes, uint64 whole-file hash, uint64 offset of its block table
//             in this file, uint64 hash of that block table
//   uint64 hash of everything above (the header protects itself)
//   the block tables: one uint64 per block, ceil(bytes / block size) per file
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "toolkit/run.h"

// 4 KiB: a search that reaches a few records in many places hashes one page for each
// (measured in bench/verify_cost.sh: 64 KiB blocks cost a short search several times
// its own time; below 4 KiB the tables grow with no gain).
constexpr uint32_t kChecksumBlock = 4096;

// The checksum files, one per writing program, are kinds of data_set.h: .stinsum,
// .strunsum and .streesum.

// XXH3-64 of a byte range.
uint64_t blockHash(const void* data, size_t size);

// One covered file as the writer saw it.
struct ChecksumEntry {
    std::string name;  // file name, no folder
    uint64_t bytes = 0;
    uint64_t whole = 0;
    std::vector<uint64_t> blocks;
};

// Hashes the bytes of a file as they are written, block by block.
struct BlockHasher {
    BlockHasher();
    ~BlockHasher();
    BlockHasher(const BlockHasher&) = delete;
    BlockHasher& operator=(const BlockHasher&) = delete;
    BlockHasher(BlockHasher&&) noexcept;
    BlockHasher& operator=(BlockHasher&&) noexcept;
    void add(const void* data, size_t size);
    // The entry of the bytes added so far, named after `path`; starts afresh.
    ChecksumEntry finish(const std::string& path);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Hashes a finished file block by block (reading it back); a read error is fatal, or,
// with `fault`, recorded there for a worker whose owner ends the run.
ChecksumEntry hashFile(const std::string& path, WorkerStatus* fault = nullptr);

// The name under which the checksum file at `checksumPath` lists `filePath`.
std::string checksumName(const std::string& checksumPath, const std::string& filePath);

// Writes the checksum file at `path` atomically (temporary name, then rename).
void writeChecksumFile(const std::string& path, const std::vector<ChecksumEntry>& entries);

// A checksum file's bytes as a reader holds them: mapped read-only (read whole when it
// cannot be mapped), for as long as any reader of its block tables needs them.
struct ChecksumBytes {
    const char* data = nullptr;
    size_t size = 0;
    bool mapped = false;
    std::string copy;  // the bytes when not mapped
    ChecksumBytes() = default;
    ChecksumBytes(const ChecksumBytes&) = delete;
    ChecksumBytes& operator=(const ChecksumBytes&) = delete;
    ~ChecksumBytes();
};

// A checksum file as a reader sees it: the directory is checked at load; a block
// table is checked when its covered file is opened.
struct ChecksumFile {
    std::string path;  // empty when the data set has none
    uint32_t blockSize = kChecksumBlock;
    // The file's bytes (shared by the copies of this object and the VerifiedFiles that
    // use its tables): a data set's trees attach one table each, and a copy of each
    // into memory of its own cost more than the search of a short pattern.
    std::shared_ptr<const ChecksumBytes> bytes;
    struct Item {
        std::string name;
        uint64_t bytes, whole, tableOffset, tableHash;
    };
    std::vector<Item> items;
    // Item by name, the first of a name (filled by read()): a data set of thousands of
    // inputs and trees attaches every file it opens, and a scan of the list per file
    // made opening them quadratic.
    std::unordered_map<std::string, size_t> byName;

    // Reads `path`: "" when it is whole, "missing" when it does not exist, else what
    // is wrong with it (the object is then left empty).
    std::string read(const std::string& checksumPath);
    // Reads `path`; returns false when it does not exist, and stops with an error
    // naming it when it exists but is damaged.
    bool load(const std::string& checksumPath);
    // The item of the file at `filePath` (its folder is not compared), or null.
    const Item* find(const std::string& filePath) const;
    // The path of an item's file: beside the checksum file, its prefix filled in.
    std::string pathOf(const Item& item) const;
    // Copies the block table of `item` into `table`: "" when it matches its hash, else
    // what is wrong.
    std::string readBlockTable(const Item& item, std::vector<uint64_t>& table) const;
    // The block table of `item`, checked against its hash (fatal on mismatch, or
    // recorded in `fault` when given).
    std::vector<uint64_t> blockTable(const Item& item, WorkerStatus* fault = nullptr) const;
    // The block table of `item` where it lies in `bytes`, checked against its hash:
    // null (and `problem` set) when it differs.
    const char* tableInPlace(const Item& item, std::string& problem) const;
};

// The entry of a listed file as its writer made it (block table read and checked;
// fatal when damaged), named after `path`: for files that a join moves under another
// checksum file unchanged, with no read of their bytes.
ChecksumEntry listedEntry(const ChecksumFile& sums, const ChecksumFile::Item& item, const std::string& path);

// Loads the checksum file of a data set's files for a reader. Without one, the files
// are read unverified, and -v says so in one line naming `what`.
bool loadChecksums(ChecksumFile& sums, const std::string& path, const char* what);
// Says once a run, also when quiet, that files are read unverified because the
// checksum files `missing` (a list) are not there: damage then goes unnoticed.
void noteUnverified(const std::string& missing);

// Verified marks of files that several threads read, each through a VerifiedFile of
// its own: a block that one thread hashed is not hashed again by the others. A mark
// is set only once its block matched; every thread reads the same file, so a set
// mark vouches for the block as the thread's own mark would.
struct SharedMarks {
    // The marks of file `index` of `blocks` blocks, made by the first call; null when
    // an earlier call gave the file another number of blocks.
    std::atomic<uint8_t>* forFile(size_t index, size_t blocks);

private:
    std::mutex lock_;
    std::vector<std::unique_ptr<std::atomic<uint8_t>[]>> marks_;
    std::vector<size_t> blocks_;
};

// One covered file being read: verifies each block the first time any part of it is
// used. Without a checksum entry it verifies nothing.
struct VerifiedFile {
    std::string path;
    uint64_t bytes = 0;
    uint32_t blockSize = kChecksumBlock;
    // The block hashes: 8 little-endian bytes per block, in the checksum file's bytes
    // kept alive by `tableOwner`.
    const char* table = nullptr;
    std::shared_ptr<const ChecksumBytes> tableOwner;
    std::vector<uint8_t> verified;
    // The marks this file shares with the other threads' VerifiedFiles of it, or null.
    std::atomic<uint8_t>* shared = nullptr;
    uint64_t expected(uint64_t b) const {
        uint64_t hash;
        memcpy(&hash, table + b * sizeof(uint64_t), sizeof hash);
        return hash;
    }
    bool covered = false;
    // When set, a fault is recorded here (the first one only, as fatal() would print
    // it) instead of stopping the program: for files read by worker threads that
    // return their status. Once one is recorded, nothing more is verified.
    WorkerStatus* fault = nullptr;
    bool failed() const { return fault && fault->failed(); }

    // Looks the file up by its name in `sums` (may be null or empty). A file that is
    // not listed, or whose size differs from the checksum's, is an error.
    void attach(const ChecksumFile* sums, const std::string& filePath, int64_t fileBytes);
    // Verifies every not yet verified block that overlaps [offset, offset + length).
    // `data`, when given, holds the bytes of that range (read or mapped): blocks wholly
    // inside it are hashed from there, the others read with pread from `fd`. A
    // mismatch is an error naming the file, the block and the expected checksum.
    void check(uint64_t offset, uint64_t length, const void* data, int fd) {
        if (!covered || length == 0) return;
        uint64_t first = offset / blockSize, last = (offset + length - 1) / blockSize;
        for (uint64_t b = first; b <= last && !failed(); b++)
            if (b < verified.size() && !verified[b]) verifyBlock(b, offset, length, data, fd);
    }
    void verifyBlock(uint64_t block, uint64_t offset, uint64_t length, const void* data, int fd);

    // Verification on use, for files whose records and bases are reached a few at a
    // time (trees, texts): each block is hashed the first time any byte of it is
    // used, and never again in the run. Time: one hash of each block touched,
    // O(block size); a read that meets unverified blocks widens itself to whole
    // blocks in the same single read. Extra memory: the widened read. A damaged
    // block ends the run as the calling thread's damage route says (run.h), whatever
    // `fault` holds.

    // attach() the first time the file is opened (no-op after, or without `sums`).
    void attachOnce(const ChecksumFile& sums, const std::string& filePath, int64_t fileBytes) {
        if (path.empty() && !sums.path.empty()) attach(&sums, filePath, fileBytes);
    }
    // Once attached: shares the marks of file `index` in `marks` from here on.
    void shareMarks(SharedMarks& marks, size_t index) {
        if (covered && !shared) shared = marks.forFile(index, verified.size());
    }
    // Whether every block that overlaps [offset, offset + length) is verified: the
    // check on every record a search reaches, kept inline.
    bool blocksVerified(uint64_t offset, uint64_t length) const {
        if (!covered || length == 0) return true;
        const uint64_t first = offset / blockSize, last = (offset + length - 1) / blockSize;
        for (uint64_t b = first; b <= last && b < verified.size(); b++)
            if (!verified[b]) return false;
        return true;
    }
    // Verifies the not yet verified blocks that overlap [offset, offset + length),
    // hashing them from `fileBytes`, the whole file in memory (read or mapped).
    void verifyInMemory(const void* fileBytes, uint64_t offset, uint64_t length) {
        if (!blocksVerified(offset, length)) verifyInMemorySlow(fileBytes, offset, length);
    }
    void verifyInMemorySlow(const void* fileBytes, uint64_t offset, uint64_t length);
    // A read of `length` bytes at `offset` of `fd` into `buffer`: the bytes read, fewer
    // only at the end of the file, or -1 (errno set) when the read fails. Blocks the
    // range overlaps that are not yet verified are read whole in the same read and
    // verified before any byte is handed out.
    ssize_t readVerified(int fd, int64_t offset, char* buffer, size_t length);

private:
    // Checks block b, whose bytes start at `bytes`, and marks it verified.
    void verifyOnUse(uint64_t b, const char* bytes);
    // Whether another thread verified block b (it is then marked here too).
    bool sharedVerified(uint64_t b) {
        if (!shared || !shared[b].load(std::memory_order_acquire)) return false;
        verified[b] = 1;
        return true;
    }
    void markVerified(uint64_t b) {
        verified[b] = 1;
        if (shared) shared[b].store(1, std::memory_order_release);
    }
};

// Checks a whole covered file against `item` of `sums`: "" when every block matches,
// else its first fault ("missing", another size, the first damaged block).
std::string firstFault(const ChecksumFile& sums, const ChecksumFile::Item& item, const std::string& path);

// Verifies a whole covered file that is read in one piece (a catalogue): fatal when
// it is damaged; nothing when `sums` is empty.
void verifyWholeFile(const ChecksumFile& sums, const std::string& path);

// Temporary name of a file written atomically: "<path>.tmp".
std::string temporaryName(const std::string& path);
// Creates the temporary file of `path` for writing; returns its descriptor, or a
// negative value (errno set) when it cannot. Until commitFile(path), the temporary
// file is removed when the program exits.
int openTemporary(const std::string& path);
// Renames the temporary file of `path` into place; false (errno set) when it cannot,
// the error then left to the caller.
bool tryCommitFile(const std::string& path);
// tryCommitFile, fatal on failure.
void commitFile(const std::string& path);
