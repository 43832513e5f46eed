#include "toolkit/file_io.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "toolkit/run.h"

namespace {
constexpr size_t kWritePiece = 262144;
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

ssize_t timedRead(int fd, void* buffer, size_t size) {
    int t0 = msClock();
    ssize_t result = read(fd, buffer, size);
    addReadTime(msClock() - t0);
    return result;
}

ssize_t timedPread64(int fd, void* buffer, size_t size, int64_t offset) {
    int t0 = msClock();
    ssize_t result = pread64(fd, buffer, size, offset);
    addReadTime(msClock() - t0);
    return result;
}

int64_t timedWriteChunked(int fd, const void* buffer, size_t length) {
    int t0 = msClock();
    const char* position = static_cast<const char*>(buffer);
    int64_t sum = 0;
    while (length > kWritePiece) {
        sum += write(fd, position, kWritePiece);
        position += kWritePiece;
        length -= kWritePiece;
    }
    sum += write(fd, position, length);
    addWriteTime(msClock() - t0);
    return sum;
}

void writeOrDie(int fd, const void* buffer, size_t length, const char* path) {
    int64_t written = timedWriteChunked(fd, buffer, length);
    if (written != (int64_t)length)
        fatal("can't write %zu bytes to %s - only %lld written%s%s\n", length, path, (long long)written,
              errno ? ": " : "", errno ? strerror(errno) : "");
}

size_t readFully(int fd, void* buffer, size_t size, const char* path) {
    char* position = static_cast<char*>(buffer);
    size_t total = 0;
    while (total < size) {
        ssize_t got = timedRead(fd, position + total, size - total);
        if (got < 0) {
            if (errno == EINTR) continue;
            fatal("can't read %s: %s\n", path, strerror(errno));
        }
        if (got == 0) break;
        total += (size_t)got;
    }
    return total;
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

