// The three catalogues of a data set: flat little-endian int32 arrays, one entry per
// input (.stlengths bases, .stblengths bits) or per run (.stplengths inputs per run).
// Their one reader and one writer: sizing, verification against the checksum file,
// the read and the checks of every entry happen here, for every program.
// Time: one read of each catalogue (and one hash of it when verified); extra memory none.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/checksum.h"

// Every record of a run or a tree carries its input number in 30 bits.
constexpr int64_t kMaxInputs = int64_t(1) << 30;

// Entries of the catalogue at `path` by its size (a stray tail of fewer than four bytes
// is no entry), or -1 when it cannot be stat'ed.
int64_t catalogueEntries(const std::string& path);

// Reads up to `count` entries of the catalogue at `path` into `entries`: the entries
// read, fewer only when the file is shorter, or -1 when it cannot be opened. A failed
// read stops with an error naming the file.
int64_t readCatalogueEntries(const std::string& path, int32_t* entries, int64_t count);

// The lengths and bit-lengths catalogues of the data set at one base, found and sized.
struct InputCatalogues {
    std::string lengthsPath, bitLengthsPath;
    int inputs = 0;          // entries of each
    int32_t longest = 0;     // the longest input's bases, once read
    double totalBases = 0;   // the bases of all inputs read
};

// Finds both catalogues at `base` ("<dir><prefix>.ST/<prefix>"): stops when either is
// missing, when they list more than kMaxInputs inputs, or when they list different
// numbers of inputs (catalogues of different data sets, or of an interrupted dnaprep).
InputCatalogues findInputCatalogues(const std::string& base);

// Reads the first `count` entries (at most c.inputs) of both catalogues into `lengths`
// and `bitLengths`, whole files verified against `sums` first (when it is loaded; null:
// unverified), and checks every entry: no negative length, bits twice the bases. Stops
// with an error naming the file on any fault. Sets c.longest and c.totalBases.
void readInputCatalogues(InputCatalogues& c, int count, int32_t* lengths, int32_t* bitLengths,
                         const ChecksumFile* sums);

// What is wrong with input k of the two catalogues, "" when nothing (no newline).
std::string inputEntryProblem(const InputCatalogues& c, int k, int32_t length, int32_t bits);

// What is wrong with the `runs` entries of the partitions catalogue at `path`, which
// must split `inputs` inputs into runs in order: "" when nothing (no newline).
std::string partitionsProblem(const std::string& path, const int32_t* partitions, int64_t runs, int64_t inputs);

// Reads `runs` entries of the partitions catalogue at `path` into `partitions`, whole
// file verified against `sums` when it lists it, and checks that they split `inputs`
// inputs: stops with an error naming the file on any fault.
void readPartitions(const std::string& path, int runs, int32_t* partitions, int inputs, const ChecksumFile* sums);

// Writes `count` entries to `path`, under its temporary name until complete; a failed
// open stops with `openMessage` (one %s for the path), a short write with a message
// naming the path. Returns the file's checksums.
ChecksumEntry writeCatalogue(const char* path, const int32_t* entries, int count, const char* openMessage);
