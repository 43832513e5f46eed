#include "toolkit/catalogue.h"

#include <cstdio>

#include "toolkit/checksum.h"
#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

namespace {

// Reads `count` entries of one catalogue; fewer read is fatal with `shortMessage`
// unless `mayBeShort` (the partitions catalogue has one entry per run, not per input).
void readOne(const char* path, int32_t* entries, int count, const char* openMessage, const char* shortMessage,
             bool mayBeShort) {
    FILE* file = fopen(path, "rb");
    if (!file) fatal(openMessage, path);
    size_t got = count > 0 ? fread(entries, sizeof(int32_t), (size_t)count, file) : 0;
    fclose(file);
    if (!mayBeShort && got < (size_t)(count > 0 ? count : 0)) fatal("%s", shortMessage);
}

}  // namespace

void readCatalogues(const char* lengthsPath, const char* bitLengthsPath, const char* partitionsPath,
                    int32_t* lengths, int32_t* bitLengths, int32_t* partitions, int count) {
    if (lengths)
        readOne(lengthsPath, lengths, count, "could not open lengths file \"%s\"\n",
                "Reading lengths of partitions - error \n", false);
    if (bitLengths)
        readOne(bitLengthsPath, bitLengths, count, "Could not open binary lengths file \"%s\"\n",
                "Reading binary lengths of partitions - error \n", false);
    if (partitions)
        readOne(partitionsPath, partitions, count, "Could not open partitions file \"%s\"\n", "", true);
}

namespace {

int32_t* readWhole(const char* path, long bytes, int count, const char* openMessage, const char* shortMessage) {
    FILE* file = fopen(path, "rb");
    if (!file) fatal(openMessage, path);
    int32_t* entries = static_cast<int32_t*>(trackedMalloc(bytes > 0 ? (size_t)bytes : 1));
    if (!entries) fatal("can't allocate %ld bytes for catalogue %s\n", bytes, path);
    size_t got = fread(entries, sizeof(int32_t), (size_t)count, file);
    fclose(file);
    if (got < (size_t)count) fatal(shortMessage, path);
    return entries;
}

}  // namespace

int readLengthCatalogues(const char* base, int32_t** lengths, int32_t** bitLengths) {
    std::string path = dataSetPath(base, FileKind::lengths);
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) fatal("can't open lengths file \"%s\"\n", path.c_str());
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fclose(file);
    if (size < 0) fatal("problem reading lengths file \"%s\"\n", path.c_str());
    if (size / 4 > 0x7fffffffL) fatal("lengths file \"%s\" is too large (%ld bytes)\n", path.c_str(), size);
    int count = (int)(size / 4);
    long bytes = (long)count * 4;
    *lengths = readWhole(path.c_str(), bytes, count, "can't open lengths file \"%s\"\n",
                         "problem reading lengths file \"%s\"\n");
    path = dataSetPath(base, FileKind::bitLengths);
    *bitLengths = readWhole(path.c_str(), bytes, count, "can't open binary lengths file \"%s\"\n",
                            "problem reading binary lengths file \"%s\"\n");
    return count;
}

ChecksumEntry writeCatalogue(const char* path, const int32_t* entries, int count, const char* openMessage) {
    FileDescriptor out(openTemporary(path));
    if (!out.ok()) fatal(openMessage, path);
    size_t bytes = (size_t)(count > 0 ? count : 0) * sizeof(int32_t);
    writeOrDie(out.fd, entries, bytes, path);
    if (closeFile(out.fd) != 0) fatal("can't close %s after writing it\n", path);
    out.fd = -1;
    commitFile(path);
    BlockHasher hash;
    hash.add(entries, bytes);
    return hash.finish(path);
}
