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
    if (address != MAP_FAILED) madvise(address, bytes, MADV_HUGEPAGE);  // a hint: refused, the pages stay small
    return address;
}
