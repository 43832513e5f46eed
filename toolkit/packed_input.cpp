// The one reader of packed inputs and of whole texts; see packed_input.h. Time: one
// read of the bytes asked for (and one hash of each block when verified); extra
// memory none.
#include "toolkit/packed_input.h"

#include <cerrno>
#include <cstring>

#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

PackedRead readInputStart(const char* path, void* buffer, size_t bytes, size_t* bytesRead, const ChecksumFile* sums,
                          WorkerStatus* fault) {
    *bytesRead = 0;
    FileDescriptor file(openFile(path, 0));
    if (!file.ok()) return PackedRead::cannotOpen;
    VerifiedFile verified;
    verified.fault = fault;
    verified.attach(sums, path, fileSizeByStat(path));
    if (verified.failed()) return PackedRead::failed;
    ssize_t got = readAll(file.fd, buffer, bytes);
    if (got < 0) {
        if (!fault) fatal("can't read %s: %s\n", path, strerror(errno));
        failWorker(*fault, "can't read %s: %s\n", path, strerror(errno));
        return PackedRead::failed;
    }
    *bytesRead = (size_t)got;
    if (*bytesRead < bytes) return PackedRead::shortFile;
    verified.check(0, bytes, buffer, file.fd);
    return verified.failed() ? PackedRead::failed : PackedRead::whole;
}

PackedRead readPackedInput(const char* path, uint32_t* words, int64_t bits, size_t* bytesRead,
                           const ChecksumFile* sums, WorkerStatus* fault) {
    const size_t count = packedWords(bits);
    PackedRead result = readInputStart(path, words, count * sizeof(uint32_t), bytesRead, sums, fault);
    if (result == PackedRead::whole && (bits & 31)) words[count - 1] &= ~0u << (32 - (bits & 31));
    return result;
}
