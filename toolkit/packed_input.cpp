// The one reader of packed inputs; see packed_input.h. Time: one read of the input's
// words (and one hash of each block when verified); extra memory none.
#include "toolkit/packed_input.h"

#include <cerrno>
#include <cstring>

#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

PackedRead readPackedInput(const char* path, uint32_t* words, int64_t bits, size_t* bytesRead,
                           const ChecksumFile* sums, WorkerStatus* fault) {
    *bytesRead = 0;
    FileDescriptor file(openFile(path, 0));
    if (!file.ok()) return PackedRead::cannotOpen;
    VerifiedFile verified;
    verified.fault = fault;
    verified.attach(sums, path, fileSizeByStat(path));
    if (verified.failed()) return PackedRead::failed;
    const size_t count = packedWords(bits);
    const size_t wanted = count * sizeof(uint32_t);
    ssize_t got = readAll(file.fd, words, wanted);
    if (got < 0) {
        if (!fault) fatal("can't read %s: %s\n", path, strerror(errno));
        failWorker(*fault, "can't read %s: %s\n", path, strerror(errno));
        return PackedRead::failed;
    }
    *bytesRead = (size_t)got;
    if (*bytesRead < wanted) return PackedRead::shortFile;
    verified.check(0, wanted, words, file.fd);
    if (verified.failed()) return PackedRead::failed;
    if (bits & 31) words[count - 1] &= ~0u << (32 - (bits & 31));
    return PackedRead::whole;
}
