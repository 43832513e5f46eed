// treebuild: merges the runs' sorted suffix arrays into one order of all suffixes and
// builds the suffix trees from it (or writes the merged arrays with -a).
//
// Shared state of one run: the settings from the command line, the catalogues, the
// packed inputs, the paths, and the counters of the closing totals. The merge
// (merge.cpp) feeds the tree builder (suffix_tree.h) and the array output.
//
// Notes for the tree builder (kept stable; changes are announced here):
//  - Settings are in gSettings, the run state in gBuild (both zero at start).
//  - gBuild.bitLengths[i] and gBuild.packed[i] describe input i (its packed words,
//    followed by one zero word); inputBit() reads bit k of an input's packed form.
//  - gBuild.dividersFd is open for writing during the merge; gBuild.outputBase is the
//    base of the tree files; gBuild.maxNodes is the tree buffer's size in records.
//  - Per-tree counters go into gBuild.current; writeTree calls addCurrentToTotals()
//    once per tree written and raises gBuild.totals.trees by one.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/records.h"


// An LCP value: bit LCP x 2 + continuation bit (1 when the two suffixes differ at a
// bit inside both of them).
inline uint32_t lcpValue(uint32_t bitLcp, uint32_t continuation) { return (bitLcp << 1) | continuation; }
inline uint32_t lcpBits(uint32_t value) { return value >> 1; }
inline uint32_t lcpContinuation(uint32_t value) { return value & 1u; }

// Settings of one treebuild run. Strings point into argv; numbers are the values as
// given (0 = default), before any default is applied.
struct BuildSettings {
    const char* inputDir;
    const char* prefix;
    const char* outputDir;     // -o odir
    const char* outputPrefix;  // -p opfx
    const char* suffixDir;     // -S sdir
    const char* suffixPrefix;  // -s spfx
    const char* joption;       // -J (accepted, no effect)
    int check;                 // -c (no effect)
    int verbose;               // -v (no effect)
    int arrayOutput;           // -a merged .stpsa/.stlcp instead of trees
    int lcpArray;              // -l (no effect)
    int calt;                  // -w (deprecated)
    int noPrefix;              // -X comparisons ignore the prefix words
    int noHeap;                // -L (deprecated)
    int heap;                  // -H heap merge
    int bigSuffix;             // -b (no effect)
    int useFPs;                // -f one descriptor per stream for the whole run
    int compact;               // -C compaction statistics
    int useMmap;               // -U (no effect)
    int zeroOrigin;            // -z input numbers counted from each stream's first input
    int manzini;               // -Z LCP values from the .stlcp files
    int maxNodes;              // -n
    unsigned maxSAMem;         // -m
    int sBuffSize;             // -M
    int maxIter;               // -i (no effect)
    int pfxLen;                // -x (no effect)
    int nmerge;                // -N
};
extern BuildSettings gSettings;

// Counters that are kept per tree (or per array flush) and then added to the run
// totals. Doubles because a run over a genome passes 2^32 comparisons.
struct MergeCounters {
    double suffixes;             // records taken from the streams
    double listSteps;            // tlcmp
    double comparisons;          // tncmp: list and heap comparisons
    double longComparisons;      // tnpc: list comparisons with bit LCP >= 65
    double resumedComparisons;   // tnrc: list comparisons with bit LCP > known + 64
    double firstWordDecisions;   // tnp1
    double prefixDecisions;      // tnp2
    double packedWords;          // tngpf: packed word pairs compared
    double lcpSum;               // bit LCPs used by the tree builder
    double lcpCount;             // tnlcp
};

// Run-wide figures of the "Merge done" lines besides the added counters.
struct RunTotals {
    MergeCounters sums;
    int trees;           // trees written
    int maxPathHeight;   // maxp
    uint32_t maxLcp;     // largest bit LCP
    int lcpsOver255;     // bit LCPs above 255
    int lcpsOver65535;   // bit LCPs above 65535
};

struct BuildState {
    // Catalogues
    int numInputs;        // N (after -N)
    int numParts;         // P: entries of the partitions catalogue, 0 when missing
    int numStreams;       // S
    int32_t* lengths;     // bases per input
    int32_t* bitLengths;  // bits per input
    int32_t* partitions;  // inputs per run (numParts entries)
    int32_t* streamFirstInput;  // first input of each stream (S entries)
    int32_t* streamInputCount;  // inputs of each stream (S entries)
    double totalLength;
    int maxLength;

    // Packed inputs: packed[i] holds input i's words and one zero word after them.
    uint32_t** packed;

    // Paths
    std::string inputBase;     // <inputdir><prefix>.ST/<prefix>
    std::string lengthsPath, bitLengthsPath, partitionsPath;
    std::string suffixBase;    // <sdir><spfx>.ST/<spfx>
    std::string outputDir;     // <odir><opfx>.ST/
    std::string outputBase;    // <odir><opfx>.ST/<opfx>
    std::string dividersPath;

    int dividersFd;            // open for writing during the merge
    int maxNodes;              // tree buffer records (array buffer records with -a)
    uint32_t bufferRecords;    // B: records per stream buffer

    int startMs, startCpuMs;   // start values of the closing statistics
    double lcpNs;              // time spent on the LCPs of consecutive suffixes

    MergeCounters current;     // the tree (or array block) being built
    RunTotals totals;
};
extern BuildState gBuild;

// Adds gBuild.current to gBuild.totals.sums and clears it.
void addCurrentToTotals();

// Bit k (0 = the first bit) of input i's packed form; bits past its end read 0 up to
// the extra zero word.
inline int inputBit(int input, uint32_t k) {
    return static_cast<int>((gBuild.packed[input][k >> 5] >> (31 - (k & 31))) & 1u);
}

// Remaining length in bits of a record's suffix.
inline uint32_t remainingBits(const PsaRecord& r) {
    return static_cast<uint32_t>(gBuild.bitLengths[recordInput(r)]) - 2u * r.offset;
}

// options.cpp: command line, echo, paths and sizes
void parseOptions(int argc, char** argv);  // usage and exit 1 when too few arguments
void echoOptions();
void buildPaths();              // also creates the output directory
void readInputCatalogues();     // N, P, S, lengths, bit lengths, partitions
void sizeBuffers();             // B and maxNodes
void openDividersFile();
void printClosingStatistics();

// suffix_stream.cpp: packed inputs and buffered streams over the .stpsa/.stlcp files
void loadPackedInputs();
void openStreamFiles();          // -f: one descriptor per stream for the whole run
void closeStreamFiles();         // after the merge
void openStreams();
// Next record of stream s, or null when the stream is exhausted. The record stays
// valid until the next call for the same stream.
const PsaRecord* nextRecord(int s);
// Stops the run naming stream s's file: its last record handed out sorts before the
// one handed out before it.
[[noreturn]] void streamOutOfOrder(int s);
uint32_t nextLcp(int s);         // -Z

// compare.cpp: the order of all suffixes. Returns whether x sorts after y; with
// wantLcp, *lcp receives their LCP value. `known` leading bits are known to be shared.
bool compareSuffixes(const PsaRecord& x, const PsaRecord& y, uint32_t known, bool wantLcp, uint32_t* lcp);

// merge.cpp
void setUpMerge();
void runMerge();

// array_output.cpp (-a)
void allocateArrayBuffers();
void addToArray(const PsaRecord& record, uint32_t lcp);
void flushArray(bool final);
