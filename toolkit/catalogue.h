// The three catalogues of a data set: flat little-endian int32 arrays, one entry per
// input (.stlengths bases, .stblengths bits) or per run (.stplengths inputs per run).
#pragma once

#include <cstdint>

#include "toolkit/checksum.h"

// Reads `count` entries of the lengths and bit-lengths catalogues and up to `count`
// entries of the partitions catalogue; a null buffer skips its file.
void readCatalogues(const char* lengthsPath, const char* bitLengthsPath, const char* partitionsPath,
                    int32_t* lengths, int32_t* bitLengths, int32_t* partitions, int count);

// Reads "<base>.stlengths" and "<base>.stblengths" into tracked arrays and returns the
// input count (the lengths file size / 4).
int readLengthCatalogues(const char* base, int32_t** lengths, int32_t** bitLengths);

// Writes `count` entries to `path`, under its temporary name until complete; a failed
// open stops with `openMessage` (one %s for the path), a short write with a message
// naming the path. Returns the file's checksums.
ChecksumEntry writeCatalogue(const char* path, const int32_t* entries, int count, const char* openMessage);
