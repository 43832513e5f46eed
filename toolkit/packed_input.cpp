#include "toolkit/packed_input.h"

#include "toolkit/checksum.h"
#include "toolkit/file_io.h"

PackedRead readPackedInput(const char* path, uint32_t* words, int64_t bits, size_t* bytesRead,
                           const ChecksumFile* sums) {
    *bytesRead = 0;
    FileDescriptor file(openFile(path, 0));
    if (!file.ok()) return PackedRead::cannotOpen;
    VerifiedFile verified;
    verified.attach(sums, path, fileSizeByStat(path));
    const size_t count = packedWords(bits);
    const size_t wanted = count * sizeof(uint32_t);
    *bytesRead = readFully(file.fd, words, wanted, path);
    if (*bytesRead < wanted) return PackedRead::shortFile;
    verified.check(0, wanted, words, file.fd);
    if (bits & 31) words[count - 1] &= ~0u << (32 - (bits & 31));
    return PackedRead::whole;
}
