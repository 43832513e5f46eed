// The files of an input read whole: the packed form (.stbin: two bits per base, 16
// bases per 32-bit word, the first base in bits 31-30 of the first word) and the text
// (.stdna: one byte per base, as dnaprep wrote it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ChecksumFile;
struct WorkerStatus;

// Words of the packed form of an input of `bits` bits (two per base).
inline size_t packedWords(int64_t bits) { return bits > 0 ? static_cast<size_t>((bits + 31) / 32) : 0; }

enum class PackedRead { whole, cannotOpen, shortFile, failed };

// The one reader of packed inputs. Reads the packed words of an input of `bits` bits
// from `path` into `words` (packedWords(bits) words) and clears the bits past its last
// base, whatever the file holds there: the comparisons and prefix words rely on zeros.
// `bytesRead` receives the bytes read (short only when the file is). A failed read
// stops with an error naming the file; an open that fails or a file too short is left
// to the caller. With `sums` (the data set's .stinsum, may be null or empty) the words
// read are verified first: a damaged block stops with an error naming the file and
// the block. With `fault`, a failed read or a damaged file is recorded there instead
// (the first failure only) and the result is `failed`: for readers on worker threads.
PackedRead readPackedInput(const char* path, uint32_t* words, int64_t bits, size_t* bytesRead,
                           const ChecksumFile* sums = nullptr, WorkerStatus* fault = nullptr);

// The one reader of the start of an input's file: the first `bytes` bytes of `path`
// into `buffer` (a longer file gives only those), with the open, short-file, read and
// verification outcomes of readPackedInput.
PackedRead readInputStart(const char* path, void* buffer, size_t bytes, size_t* bytesRead,
                          const ChecksumFile* sums = nullptr, WorkerStatus* fault = nullptr);
// The first `bases` bases of an input's text.
inline PackedRead readText(const char* path, char* bases, size_t count, size_t* bytesRead,
                           const ChecksumFile* sums = nullptr, WorkerStatus* fault = nullptr) {
    return readInputStart(path, bases, count, bytesRead, sums, fault);
}
