// Timed file I/O, file sizes and the path limit (data-set paths: data_set.h).
#pragma once

#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

static_assert(std::endian::native == std::endian::little,
              "data-set files are little-endian and read and written as they lie in memory");

// One limit for every path the four programs form, terminator included: the system's
// own, so that any data set one stage can write the next stages can open.
constexpr size_t kPathLimit = PATH_MAX;

// Formats a path; a path that would not fit in `limit` bytes (terminator included)
// is a fatal error naming it.
std::string formatPath(size_t limit, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Read-only (forWrite == 0) or write-only, created with mode 0644 and truncated.
// Returns the descriptor or a negative value.
int openFile(const char* path, int forWrite);
int closeFile(int fd);

// Size of a file in bytes, or a negative value when it cannot be stat'ed.
int64_t fileSizeByStat(const char* path);

// The one read loop and the one write loop of the programs: `size` bytes at `offset`
// (at the file position when offset < 0), again after an interrupted or short read
// or write, so that a caller sees only "all of it", "the file ended" or a failure.
// Both add their time to the run's read or write total.
//
// readAll returns the bytes read (fewer only at the end of the file), or -1 with errno
// set when a read fails.
ssize_t readAll(int fd, void* buffer, size_t size, int64_t offset = -1);

// writeAll writes in pieces of 2 MiB and returns the bytes written: fewer only when a
// write fails (errno set), and -1 when it fails before the first byte. A piece of 2 MiB
// lets the page cache keep the file in huge pages where the system can (see
// mapFileReadOnly).
int64_t writeAll(int fd, const void* buffer, size_t length, int64_t offset = -1);

// Maps the first `bytes` bytes of a file read-only and shared; MAP_FAILED when the
// mapping fails. The mapping asks for huge pages: a search that jumps between the
// records of hundreds of megabytes of trees otherwise pays a TLB miss at nearly every
// record. They are used when the page cache holds the file in 2 MiB pieces: written so
// by writeAll, or read in by readInMissingPieces().
void* mapFileReadOnly(int fd, size_t bytes);

// Reads in, in file order, every 2 MiB piece of a fresh mapping of which the page cache
// holds no page yet. Read so, the cache keeps each such piece as one huge page; faulted
// in by a search, in the order the search jumps, most pieces come in as small pages and
// stay so (528 MB of trees: a search's first pass over them took 285 ms in small pages
// and 54 ms in huge ones, both in the cache). A piece already partly in the cache is
// left to the faults. For files a search reaches nearly everywhere once it reaches
// them at all: the trees, not the texts that a search reads at a few places.
void readInMissingPieces(void* address, size_t bytes);

// writeAll that stops with "## ERROR: can't write <n> bytes to <path> ..."
// when fewer bytes than asked were written (a full disk must never pass as success).
void writeOrDie(int fd, const void* buffer, size_t length, const char* path);

// readAll that stops with "## ERROR: can't read <path>: ..." when a read fails.
// Returns the bytes read (short only at the end of the file).
size_t readFully(int fd, void* buffer, size_t size, const char* path);

// Owns one descriptor; closes it on scope exit.
struct FileDescriptor {
    int fd = -1;
    FileDescriptor() = default;
    explicit FileDescriptor(int d) : fd(d) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& o) noexcept : fd(o.fd) { o.fd = -1; }
    FileDescriptor& operator=(FileDescriptor&& o) noexcept;
    ~FileDescriptor();
    void reset(int d = -1);
    bool ok() const { return fd >= 0; }
};
