// The suffix sorter: groups consecutive inputs into runs, sorts each run's suffixes
// with divsufsort and writes the prefixed suffix array (.stpsa), optionally the LCP
// array (.stlcp), and at the end the partitions catalogue (.stplengths).
#pragma once

#include <cstdint>

#include <string>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/records.h"

// Everything the command line sets; zero means "the built-in default".
struct SortSettings {
    int maxSALen = 0;              // -r: upper limit of a run text (default 200,000,000)
    int outSize = 0;               // -m: output buffer size in PSA records (default 65536)
    const char* jOption = nullptr; // -J: accepted and echoed, no effect
    int all = 0;                   // -A: every input in one run
    int single = 0;                // -S: every input a run of its own
    int noSuffixes = 0;            // -N: no .stpsa output
    int manzini = 0;               // -Z: compute and write the LCP array
    int mori = 0;                  // -M: no effect, warns
    int zeroOrigin = 0;            // -z: input numbers counted from each run's first input
    const char* inputDir = nullptr;
    const char* prefix = nullptr;
};

constexpr int kDefaultOutSize = 65536;
constexpr int kDefaultRunSize = 200000000;
constexpr int kRunSizeCap = 500000000;
constexpr int kLcpChunk = 65536;


// The data set's inputs as the catalogues describe them, and the checksum file that
// vouches for them (empty for a data set written without one: read unverified).
struct InputCatalogue {
    ChecksumFile sums;
    std::vector<int32_t> lengths;     // bases per input
    std::vector<int32_t> bitLengths;  // 2 x lengths
    std::vector<int32_t> words;       // 32-bit words of each input's .stbin
    int count = 0;
    int maxLen = 0;
    double sumLen = 0;
};

// Paths of one data set: base is "<dir><prefix>.ST/<prefix>".
struct DataSetPaths {
    std::string base;
    std::string lengths;
    std::string bitLengths;
    std::string partitions;
};

// Working memory, sized once from maxSize and reused by every run.
struct RunBuffers {
    int64_t maxSize = 0;            // bytes of a run text, separators included; every run stays below
    uint8_t* text = nullptr;        // maxSize bytes
    int32_t* suffixes = nullptr;    // maxSize entries; slot 0 is the empty suffix, 1..count sorted
    uint32_t* map = nullptr;        // maxSize entries: LCP values first, then the position map
    uint32_t* lcpChunk = nullptr;   // kLcpChunk values on their way to the .stlcp file (-Z)
    PsaRecord* out = nullptr;       // outSize records (none with -N)
    int outSize = 0;
    uint32_t* packed = nullptr;     // packed inputs of the run, each followed by two zero words
    int64_t packedWords = 0;
    const uint32_t** inputWords = nullptr;  // per input: its start within `packed` (loaded inputs only)
    ~RunBuffers();
};

// What all runs add up to, for the closing line.
struct SortTotals {
    double suffixes = 0;
    int flushes = 0;
    std::vector<int32_t> runInputs;  // the partitions catalogue, one entry per run
    std::vector<ChecksumEntry> sums; // of every file written, for the .strunsum file
    int referenceMs = 0;             // end of the previous run, for its "real" time
};

// options.cpp
int printRunarrayUsage(const char* program);
// Scans argv; returns false when a main parameter is missing.
bool scanOptions(int argc, char** argv, SortSettings& settings);
void echoOptions(const SortSettings& settings);

// runs.cpp
DataSetPaths buildPaths(const SortSettings& settings);
InputCatalogue readInputCatalogue(const DataSetPaths& paths);
int64_t computeMaxSize(const SortSettings& settings, const InputCatalogue& inputs);
void allocateBuffers(RunBuffers& buffers, const SortSettings& settings, const InputCatalogue& inputs);
void deleteStaleOutputs(const DataSetPaths& paths);
void sortAllRuns(const SortSettings& settings, const DataSetPaths& paths, const InputCatalogue& inputs,
                 RunBuffers& buffers, SortTotals& totals);
void writePartitions(const DataSetPaths& paths, const std::vector<int32_t>& runInputs,
                     std::vector<ChecksumEntry>& sums);
// Written last, once every file it covers is in place.
void writeRunChecksums(const DataSetPaths& paths, const std::vector<ChecksumEntry>& sums);
// Slot p+1 holds the offset of run-text position p within its input, and the slot
// before each input's first offset holds the input's number.
void fillPositionMap(uint32_t* map, const int32_t* lengths, int first, int end);

// psa_writer.cpp
void loadPackedInputs(const DataSetPaths& paths, const InputCatalogue& inputs, int first, int end,
                      RunBuffers& buffers);
// The record of the suffix at `offset` of an input whose packed words start at `words`
// (followed by two zero words); `number` goes into bits 31-2 of word 0.
PsaRecord makePsaRecord(const uint32_t* words, uint32_t number, uint32_t offset);
// Writes the records of suffix-array slots len+1 .. count to the run's .stpsa file;
// returns the number of records written.
int64_t writeRunSuffixes(const std::string& path, const SortSettings& settings, const InputCatalogue& inputs,
                         int first, int end, int count, RunBuffers& buffers, SortTotals& totals);

// lcp.cpp
// LCP values of a run text of n bytes whose inputs each end in a 0 byte, its suffixes
// sorted in slots 1..n: values[p] (n slots) becomes the value of the suffix at text
// position p against the suffix before it in the order.
void computeLcp(const uint8_t* text, const int32_t* suffixes, uint32_t* values, int n);
// Writes the values of ranks len+1 .. n (the run's real suffixes) in suffix order,
// through `chunk` (chunkSize values); the file's checksums join `sums`.
void writeLcpFile(const std::string& path, const uint32_t* values, const int32_t* suffixes, int len, int n,
                  uint32_t* chunk, int chunkSize, std::vector<ChecksumEntry>& sums);
