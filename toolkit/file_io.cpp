#include "toolkit/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "toolkit/run.h"

namespace {
constexpr size_t kWritePiece = 2 << 20;
}  // namespace

std::string formatPath(size_t limit, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string path = formatText(fmt, args);
    va_end(args);
    if (path.size() + 1 > limit)
        fatal("path too long (%zu bytes, at most %zu): %s\n", path.size(), limit - 1, path.c_str());
    return path;
}

int openFile(const char* path, int forWrite) {
    if (forWrite) return open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return open(path, O_RDONLY);
}

int closeFile(int fd) { return close(fd); }

int64_t fileSizeByStat(const char* path) {
    struct stat64 record;
    int result = stat64(path, &record);
    if (result < 0) return result;
    return (int64_t)record.st_size;
}

ssize_t readAll(int fd, void* buffer, size_t size, int64_t offset) {
    const int t0 = msClock();
    char* at = static_cast<char*>(buffer);
    size_t done = 0;
    ssize_t result = 0;
    while (done < size) {
        ssize_t got = offset < 0 ? read(fd, at + done, size - done)
                                 : pread64(fd, at + done, size - done, offset + (int64_t)done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            result = -1;
            break;
        }
        if (got == 0) break;
        done += (size_t)got;
    }
    addReadTime(msClock() - t0);
    return result < 0 ? result : (ssize_t)done;
}

int64_t writeAll(int fd, const void* buffer, size_t length, int64_t offset) {
    const int t0 = msClock();
    const char* at = static_cast<const char*>(buffer);
    size_t done = 0;
    bool failed = false;
    while (done < length) {
        const size_t piece = std::min(length - done, kWritePiece);
        ssize_t put = offset < 0 ? write(fd, at + done, piece) : pwrite64(fd, at + done, piece, offset + (int64_t)done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            failed = true;
            break;
        }
        done += (size_t)put;
    }
    addWriteTime(msClock() - t0);
    return failed && done == 0 ? -1 : (int64_t)done;
}

void writeOrDie(int fd, const void* buffer, size_t length, const char* path) {
    errno = 0;
    int64_t written = writeAll(fd, buffer, length);
    if (written != (int64_t)length)
        fatal("can't write %zu bytes to %s - only %lld written%s%s\n", length, path, (long long)written,
              errno ? ": " : "", errno ? strerror(errno) : "");
}

size_t readFully(int fd, void* buffer, size_t size, const char* path) {
    ssize_t got = readAll(fd, buffer, size);
    if (got < 0) fatal("can't read %s: %s\n", path, strerror(errno));
    return (size_t)got;
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& o) noexcept {
    if (this != &o) {
        reset(o.fd);
        o.fd = -1;
    }
    return *this;
}

FileDescriptor::~FileDescriptor() { reset(); }

void FileDescriptor::reset(int d) {
    if (fd >= 0) close(fd);
    fd = d;
}

void* mapFileReadOnly(int fd, size_t bytes) {
    void* address = mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) return address;
    madvise(address, bytes, MADV_HUGEPAGE);  // a hint: refused, the pages stay small
    return address;
}

// Pieces of 2 MiB with no page in the cache, each run of them read in with one
// MADV_POPULATE_READ (a hint: when it is refused the pages come in as they are reached).
void readInMissingPieces(void* address, size_t bytes) {
#ifdef MADV_POPULATE_READ
    const size_t page = (size_t)sysconf(_SC_PAGESIZE), pages = (bytes + page - 1) / page;
    const size_t perPiece = kWritePiece / page;
    if (perPiece == 0 || pages == 0) return;
    std::vector<unsigned char> resident(pages);
    if (mincore(address, bytes, resident.data()) != 0) return;
    char* base = static_cast<char*>(address);
    const size_t pieces = (pages + perPiece - 1) / perPiece;
    size_t coldFrom = pages;  // the first page of the run of cold pieces being gathered
    for (size_t k = 0; k <= pieces; k++) {  // piece `pieces` ends the last run
        const size_t first = k * perPiece, end = std::min(pages, first + perPiece);
        bool cold = k < pieces;
        for (size_t p = first; cold && p < end; p++) cold = !(resident[p] & 1);
        if (cold && coldFrom == pages) coldFrom = first;
        if (!cold && coldFrom < pages) {
            const size_t from = coldFrom * page, to = std::min(bytes, first * page);
            madvise(base + from, to - from, MADV_POPULATE_READ);
            coldFrom = pages;
        }
    }
#else
    (void)address;
    (void)bytes;
#endif
}

