// Verification on use: every block of a covered tree, dividers or text file is
// hashed and compared with its checksum the first time a record or base in it is
// used, and never again in the run (one "verified" flag per block). Time: one hash
// of each block touched, O(block size); a read that meets unverified blocks widens
// itself to whole blocks in the same single read. Extra memory: the widened read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "toolkit/checksum.h"

// How a damaged block ends the run: "## ERROR: " and status 1, or the Hamming
// search's way (the message on standard output as well, status 255).
enum DamageReport { kDamageStops = 0, kDamageStopsHamming = 1 };

// Attaches `file` to its entry in `sums` the first time it is opened (no-op after).
void attachOnce(VerifiedFile& file, const ChecksumFile& sums, const std::string& path, int64_t bytes);

// Verifies the not yet verified blocks of `file` that overlap [offset, offset +
// length), hashing them from `fileBytes`, the whole file in memory (read or mapped).
void verifyBlocksSlow(VerifiedFile& file, const void* fileBytes, uint64_t offset, uint64_t length,
                      DamageReport report);

inline bool blocksVerified(const VerifiedFile& file, uint64_t offset, uint64_t length) {
    if (!file.covered || length == 0) return true;
    const uint64_t first = offset / file.blockSize, last = (offset + length - 1) / file.blockSize;
    for (uint64_t b = first; b <= last && b < file.verified.size(); b++)
        if (!file.verified[b]) return false;
    return true;
}

inline void verifyBlocks(VerifiedFile& file, const void* fileBytes, uint64_t offset, uint64_t length,
                         DamageReport report) {
    if (!blocksVerified(file, offset, length)) verifyBlocksSlow(file, fileBytes, offset, length, report);
}

// A read of `length` bytes at `offset` into `buffer`: the bytes read, fewer only at
// the end of the file, or -1 (errno set) when the read fails. Blocks of `file` that
// the range overlaps and that are not yet verified are read whole in the same read
// and verified before any byte is handed out.
ssize_t readVerified(VerifiedFile& file, int fd, int64_t offset, char* buffer, size_t length, DamageReport report);
