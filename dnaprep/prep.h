// Settings and run state of dnaprep: FASTA files in, one filtered (.stdna) and one
// packed (.stbin) file per sequence out, plus the two length catalogues.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/file_io.h"

constexpr int kDefaultInputBuffer = 262144;
constexpr int kDefaultDnaBuffer = 2097152;
constexpr int kDefaultKeyBuffer = 256;
constexpr int kDefaultContext = 16;
constexpr int kMaxContext = 255;
// Inputs whose lengths are kept while parsing; more are added at the end of the run.
constexpr int kLengthsEntries = 16384;

// Class table entries that are not base letters (bases hold their letter, 1..127).
constexpr uint8_t kWildcard = 0;
constexpr uint8_t kGarbage = 253;
constexpr uint8_t kLineBreak = 254;
constexpr uint8_t kHeaderStart = 255;

// The options of one run; 0 (or null) means the built-in default or "off".
struct PrepSettings {
    int quietOut = 0;  // -Q: no summary table
    int trmask = 0;    // -t: lower-case a, c, g, t are wildcards
    int ucase = 0;     // -u: write ACGT instead of acgt
    int gcounts = 0;   // -g: count every byte value of the DNA sections
    int fparse = 0;    // -f: only count reads, line breaks and bytes per file
    int sindex = 0;    // -s: first input that gets files
    int nseqs = 0;     // -n: stop after this many inputs from sindex on (0: no limit)
    int buffset = 0;   // -m: input buffer bytes
    int dnabset = 0;   // -d: DNA buffer bytes, a multiple of 16
    int keybset = 0;   // -k: key (header) buffer bytes
    int tailchop = 0;  // -T: cut a tail run of at least this many bases to one base
    int pcontext = kDefaultContext;  // -C: bases of context shown per sequence end
    const char* outname = nullptr;   // -o: summary table file
    const char* inputDir = nullptr;  // text prefix of every FASTA path
    const char* outputDir = nullptr;
    const char* prefix = nullptr;
    int names = 0;     // -N: write the names catalogue and the coordinate map
    int firstFile = 0;  // argv index of the first FASTA file
};

// A sequence name longer than this is an error rather than a line of the catalogue.
constexpr size_t kMaxNameLength = size_t{1} << 20;

// Counters of the sequence in progress; reset by its final flush. 64-bit so that a
// long section of wildcards or garbage cannot wrap before the length check.
struct SequenceCounters {
    int64_t origSize = 0;   // bytes of the DNA section in the FASTA file
    int64_t dnaSize = 0;    // bases flushed to the input's files
    int64_t wildCards = 0;
    int64_t nChunks = 0;    // wildcard sections
    int64_t garbage = 0;
    int64_t passed = 0;     // bases handed on by buffer-full flushes (before any chop)
};

struct PrepRun {
    const PrepSettings* settings = nullptr;
    uint8_t classTable[256] = {};
    // Sixteen-byte checks that stand in for the class table on lines of bases, when
    // the table is one of the plain forms (see setUpVectorBases).
    bool vectorBases = false;
    bool vectorLowerIn = false;  // a, c, g, t are bases (not with -t)
    bool vectorUpperOut = false; // bases are written as A, C, G, T (-u)

    // Working buffers, allocated once (tracked: their sizes make up the memory total).
    int32_t* lengths = nullptr;          // kLengthsEntries entries
    std::vector<int32_t> moreLengths;    // inputs from kLengthsEntries on
    uint8_t* input = nullptr;
    int inputSize = 0;
    uint8_t* dna = nullptr;
    int dnaCapacity = 0;
    int dnaPos = 0;
    uint32_t* packed = nullptr;          // dnaCapacity / 16 words
    char* key = nullptr;
    int keySize = 0;
    int keyPos = 0;
    int contextLength = 0;               // -C capped at kMaxContext

    // Parser state, carried from chunk to chunk.
    int inHeader = 1;
    bool fileStart = false;  // nothing of the current file is parsed yet (the FASTQ check)
    bool wildOpen = false;   // the last non-line-break byte was a wildcard
    int limitReached = 0;

    // The run of equal bases that ends what the buffer-full flushes of the current
    // sequence handed on: held back, not written, until a different base follows or
    // the sequence ends, so that the tail chop and TailLength see the sequence's
    // whole tail run whatever the buffer size.
    uint8_t heldBase = 0;
    int64_t heldRun = 0;
    // Bases written to the .stdna file but not yet packed (fewer than 16).
    uint8_t packCarry[16] = {};
    int carryCount = 0;

    // The sequence's name (the first word of its header line) for the names catalogue.
    std::string seqName;
    int64_t headerBytes = 0;  // bytes of the header line seen so far
    bool nameDone = false;

    // The removed stretch in progress (wildcards and garbage with no base between
    // them) at filtered offset stretchAt; 0 length: none. Stretches that are done go
    // to mapRecord, coded as the coordinate map wants them.
    int64_t stretchAt = 0, stretchLength = 0, lastStretchAt = 0;
    std::string mapRecord;
    FILE* namesOut = nullptr;
    FILE* mapOut = nullptr;
    std::string namesPath, mapPath;  // the catalogues' final names; written as <name>.tmp
    std::string namesFile;           // the FASTA file as the names catalogue gives it
    bool touched = false;   // the data set's files are being replaced
    bool complete = false;  // every file of the data set is written

    // The current input's two files, open from its first flush to its final one:
    // written under their temporary names, hashed as they go, renamed at the close.
    FileDescriptor dnaFile, binFile;
    std::string dnaPath, binPath;
    BlockHasher dnaHash, binHash;
    // Checksums of every file written so far, for the .stinsum file written last.
    std::vector<ChecksumEntry> sums;
    std::string datasetDir;  // "<outputdir><prefix>.ST/"
    std::string base;        // "<outputdir><prefix>.ST/<prefix>": every file's path but its ending
    std::string fileName;   // current FASTA argument without its extension
    std::string fastaPath;  // input directory + FASTA argument

    // The first and the last (up to) contextLength bases written for the sequence.
    char beginContext[kMaxContext + 1] = {};
    char endContext[kMaxContext + 1] = {};
    int beginFill = 0, endFill = 0;

    SequenceCounters seq;
    int inputNumber = 0;  // the next sequence's number

    // Run totals.
    int nflush = 0;
    int nread = 0;
    double totalDna = 0;
    int64_t seqsWithWild = 0, sectionTotal = 0, wildTotal = 0;
    int64_t seqsWithGarbage = 0, garbageTotal = 0;
    uint64_t byteCounts[256] = {};

    FILE* table = nullptr;      // summary table (stdout or -o), null with -Q
    FILE* tableFile = nullptr;  // the -o file, open even with -Q
};

// The current sequence's key as the table and the messages show it: without the
// header line's first character (its '>'), unless the key starts with '"' or is empty.
inline const char* sequenceName(const PrepRun& run) {
    return run.key[0] == '"' || run.key[0] == 0 ? run.key : run.key + 1;
}

// options.cpp
void scanArguments(int argc, char** argv, PrepSettings& settings);
void echoSettings(const PrepSettings& settings);
[[noreturn]] void usageExit(const char* program);
std::string fileNameOf(const char* argument);

// fasta_parser.cpp
void buildClassTable(uint8_t table[256], int ucase, int trmask);
void setUpVectorBases(PrepRun& run);
int parseChunk(PrepRun& run, const uint8_t* buffer, size_t length);
void startFile(PrepRun& run);
void endFile(PrepRun& run);
void readFastaFile(PrepRun& run, const char* argument, int fileNumber);

// dna_output.cpp
void setUpBuffers(PrepRun& run, const PrepSettings& settings);
int flush(PrepRun& run, int endOfSequence);
int packDna(uint32_t* words, const uint8_t* bases, int count);
int tailRunStart(const uint8_t* dna, int n);

// names_output.cpp
void openNamesAndMap(PrepRun& run);
void addNamesAndMapEntry(PrepRun& run, int64_t chopped);
void finishNamesAndMap(PrepRun& run);
void removeIncompleteCatalogues(PrepRun& run);
void closeStretch(PrepRun& run);
// A removed character at filtered offset `at` of the current sequence.
inline void noteRemoved(PrepRun& run, int64_t at) {
    if (run.stretchLength && run.stretchAt == at) {
        ++run.stretchLength;
        return;
    }
    closeStretch(run);
    run.stretchAt = at;
    run.stretchLength = 1;
}

// summary.cpp
void openTable(PrepRun& run);
void printTableHeader(const PrepRun& run);
void printTableLine(const PrepRun& run, int64_t tailLength);
void writeLengthCatalogues(PrepRun& run);
void writeInputChecksums(PrepRun& run);
void closeTable(PrepRun& run);
void printClosingReport(const PrepRun& run, const char* program, long cpuStart, int msStart);

// Bases per input at most: the bit-lengths catalogue holds twice the length in 32 bits.
constexpr int64_t kMaxInputLength = INT32_MAX / 2;
