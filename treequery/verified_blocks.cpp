// Verification on use of the trees, dividers and texts that treequery reads.
#include "treequery/verified_blocks.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/file_io.h"
#include "toolkit/run.h"

namespace {

// Bytes read and hashed at a time when whole blocks are read: small enough to stay in
// the cache between the read and the hash.
constexpr size_t kHotPiece = 256 * 1024;

[[noreturn]] void reportDamage(DamageReport report, const std::string& message) {
    if (report == kDamageStopsHamming) {
        // Seen by a script on either stream, as the Hamming search's other failures are.
        errorLine("## ERROR: %s", message.c_str());
        fflush(stderr);
        fatalTo(stdout, 255, "ERROR: %s", message.c_str());
    }
    fatal("%s", message.c_str());
}

// Checks block b, whose bytes start at `bytes`, and marks it verified.
void verifyOne(VerifiedFile& file, uint64_t b, const char* bytes, DamageReport report) {
    const uint64_t offset = b * file.blockSize;
    const size_t size = (size_t)std::min<uint64_t>(file.blockSize, file.bytes - offset);
    const uint64_t found = blockHash(bytes, size);
    if (found != file.blocks[b])
        reportDamage(report, formatString("%s is damaged: block %llu (bytes %llu to %llu) has checksum %016llx, "
                                      "expected %016llx\n",
                                      file.path.c_str(), (unsigned long long)b, (unsigned long long)offset,
                                      (unsigned long long)(offset + size - 1), (unsigned long long)found,
                                      (unsigned long long)file.blocks[b]));
    file.verified[b] = 1;
}

}  // namespace

void attachOnce(VerifiedFile& file, const ChecksumFile& sums, const std::string& path, int64_t bytes) {
    if (!file.path.empty() || sums.path.empty()) return;
    file.attach(&sums, path, bytes);
}

void verifyBlocksSlow(VerifiedFile& file, const void* fileBytes, uint64_t offset, uint64_t length,
                      DamageReport report) {
    const uint64_t first = offset / file.blockSize, last = (offset + length - 1) / file.blockSize;
    const char* bytes = static_cast<const char*>(fileBytes);
    for (uint64_t b = first; b <= last && b < file.verified.size(); b++)
        if (!file.verified[b]) verifyOne(file, b, bytes + b * file.blockSize, report);
}

ssize_t readVerified(VerifiedFile& file, int fd, int64_t offset, char* buffer, size_t length, DamageReport report) {
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    if ((uint64_t)offset >= file.bytes || blocksVerified(file, (uint64_t)offset, length))
        return readAll(fd, buffer, length, offset);
    const uint64_t end = std::min<uint64_t>((uint64_t)offset + length, file.bytes);
    if ((uint64_t)offset % file.blockSize == 0 && (end % file.blockSize == 0 || end == file.bytes)) {
        // Whole blocks (a whole tree): verified where they were read to, a piece at a
        // time while the piece is still in the cache.
        const size_t piece = (size_t)file.blockSize * std::max<size_t>(1, kHotPiece / file.blockSize);
        size_t done = 0;
        while (done < length) {
            const size_t want = std::min(piece, length - done);
            const uint64_t at = (uint64_t)offset + done;
            ssize_t got = readAll(fd, buffer + done, want, (int64_t)at);
            if (got < 0) return got;
            for (uint64_t b = at / file.blockSize;
                 b < file.verified.size() && std::min<uint64_t>((b + 1) * file.blockSize, file.bytes) <= at + (uint64_t)got;
                 b++)
                if (!file.verified[b]) verifyOne(file, b, buffer + (b * file.blockSize - (uint64_t)offset), report);
            done += (size_t)got;
            if ((size_t)got < want) break;
        }
        return (ssize_t)done;
    }
    // Whole blocks from the first to the last the range overlaps, in one read.
    const uint64_t spanStart = (uint64_t)offset / file.blockSize * file.blockSize;
    const uint64_t spanEnd = std::min<uint64_t>((end + file.blockSize - 1) / file.blockSize * file.blockSize, file.bytes);
    std::vector<char> span(spanEnd - spanStart);
    ssize_t got = readAll(fd, span.data(), span.size(), (int64_t)spanStart);
    if (got < 0) return got;
    if ((uint64_t)got < span.size())
        reportDamage(report, formatString("%s holds fewer bytes than its checksum file says (%llu)\n", file.path.c_str(),
                                      (unsigned long long)file.bytes));
    for (uint64_t b = spanStart / file.blockSize; b * file.blockSize < spanEnd; b++)
        if (!file.verified[b]) verifyOne(file, b, span.data() + (b * file.blockSize - spanStart), report);
    const size_t handed = (size_t)(end - (uint64_t)offset);
    memcpy(buffer, span.data() + ((uint64_t)offset - spanStart), handed);
    // Bytes asked for beyond the file's end are the caller's short read, as without checks.
    return (ssize_t)handed;
}
