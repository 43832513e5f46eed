// treebuild: merges the runs' sorted suffix arrays into one order of all suffixes and
// builds the suffix trees from it (or writes the merged arrays with -a).
//
// A run passes its state as parameters: the settings from the command line
// (BuildSettings) and the run (BuildState: catalogues, packed inputs, paths and the
// counters of the closing totals), plus the state of each part, owned by the driver:
// the streams (SuffixStreams), the merge (MergeState), and its output, the tree being
// built (TreeState, tree_state.h) or the merged arrays (ArrayOutput). The merge
// (merge.cpp) feeds the tree builder (suffix_tree.h) or the array output.
//
// Notes for the tree builder (kept stable; changes are announced here):
//  - build.bitLengths[i] and build.packed[i] describe input i (its packed words,
//    followed by one zero word); inputBit() reads bit k of an input's packed form.
//  - build.dividers is open for writing during the merge; build.outputBase is the
//    base of the tree files; build.maxNodes is the tree buffer's size in records.
//  - Per-tree counters go into build.current; writeTree calls addCurrentToTotals()
//    once per tree written and raises build.totals.trees by one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/dividers.h"
#include "toolkit/file_io.h"
#include "toolkit/records.h"
#include "toolkit/threads.h"

// An LCP value: bit LCP x 2 + continuation bit (1 when the two suffixes differ at a
// bit inside both of them).
inline uint32_t lcpValue(uint32_t bitLcp, uint32_t continuation) { return (bitLcp << 1) | continuation; }
inline uint32_t lcpBits(uint32_t value) { return value >> 1; }
inline uint32_t lcpContinuation(uint32_t value) { return value & 1u; }

// Settings of one treebuild run. Strings point into argv; numbers are the values as
// given (0 = default), before any default is applied.
struct BuildSettings {
    const char* inputDir = nullptr;
    const char* prefix = nullptr;
    const char* outputDir = nullptr;     // -o odir
    const char* outputPrefix = nullptr;  // -p opfx
    const char* suffixDir = nullptr;     // -S sdir
    const char* suffixPrefix = nullptr;  // -s spfx
    int verbose = 0;                     // -v (no effect)
    int arrayOutput = 0;                 // -a merged .stpsa/.stlcp instead of trees
    int noPrefix = 0;                    // -X comparisons ignore the prefix words
    int heap = 0;                        // -H heap merge
    int useFPs = 0;                      // -f (useFPs) one descriptor per stream for the whole run
    int compact = 0;                     // -C compaction statistics
    int zeroOrigin = 0;                  // -z input numbers counted from each stream's first input
    int manzini = 0;                     // -Z LCP values from the .stlcp files (the sorter's)
    int maxNodes = 0;                    // -n node records per tree (records per block with -a)
    unsigned maxSAMem = 0;               // -m bytes for all stream buffers together
    int sBuffSize = 0;                   // -M bytes per stream buffer
    int nmerge = 0;                      // -N merge only the first N inputs
    int threads = -1;                    // -j threads (0: every core); -1 when not given
    int removeRuns = 0;                  // -R remove the runs' .stpsa/.stlcp once the build is complete
    const char* keyRange = nullptr;      // -K build only the suffixes whose first bases lie in this range
    const char* partName = nullptr;      // -P the part that -K writes its trees and dividers under
    int rangeCount = 0;                  // -Q print this many key ranges of similar size
    const char* joinParts = nullptr;     // -G join these parts into the data set's trees
};

// Counters that are kept per tree (or per array flush) and then added to the run
// totals. Doubles because a run over a genome passes 2^32 comparisons.
struct MergeCounters {
    double suffixes;             // records taken from the streams
    double listSteps;            // tlcmp: elements of the sorted list passed or placed against
    double comparisons;          // tncmp: list and heap comparisons
    double longComparisons;      // tnpc: list comparisons with bit LCP >= 65
    double resumedComparisons;   // tnrc: list comparisons with bit LCP > known + 64
    double firstWordDecisions;   // tnp1: comparisons decided by the first prefix word
    double prefixDecisions;      // tnp2: comparisons decided by either prefix word
    double packedWords;          // tngpf: packed word pairs compared
    double lcpSum;               // bit LCPs used by the tree builder
    double lcpCount;             // tnlcp: LCPs used by the tree builder
};

// Run-wide figures of the "Merge done" lines besides the added counters.
struct RunTotals {
    MergeCounters sums;
    int trees;           // trees written
    int maxPathHeight;   // maxp: most entries on the builder's path stack
    uint32_t maxLcp;     // largest bit LCP
    int lcpsOver255;     // bit LCPs above 255
    int lcpsOver65535;   // bit LCPs above 65535
};

// The run: catalogues, packed inputs, paths and counters (zero at start).
struct BuildState {
    // Catalogues
    int numInputs = 0;        // N (after -N)
    int numParts = 0;         // P: entries of the partitions catalogue, 0 when missing
    int numStreams = 0;       // S: one per run (per input without a partitions catalogue)
    int32_t* lengths = nullptr;     // bases per input
    int32_t* bitLengths = nullptr;  // bits per input
    int32_t* partitions = nullptr;  // inputs per run (numParts entries)
    int32_t* streamFirstInput = nullptr;  // first input of each stream (S entries)
    int32_t* streamInputCount = nullptr;  // inputs of each stream (S entries)
    double totalLength = 0;
    int maxLength = 0;

    // Packed inputs: packed[i] holds input i's words and one zero word after them.
    uint32_t** packed = nullptr;

    // Paths
    std::string inputBase;     // <inputdir><prefix>.ST/<prefix>
    std::string lengthsPath, partitionsPath;
    std::string suffixBase;    // <sdir><spfx>.ST/<spfx>
    std::string outputDir;     // <odir><opfx>.ST/
    std::string outputBase;    // <odir><opfx>.ST/<opfx>
    std::string dividersPath;

    // Checksums: of the inputs and catalogues (.stinsum) and of the runs (.strunsum)
    // that the build reads, empty when the data set has none (read unverified); and
    // of every file it writes, for the .streesum file written last.
    ChecksumFile inputSums, runSums;
    std::vector<ChecksumEntry> sums;

    DividersWriter dividers;   // open during the merge
    int threads = 1;           // -j resolved: above 1, a writer thread stores each finished tree
    ProgressLine progress;     // the merge's line on a terminal
    int maxNodes = 0;          // tree buffer records (array buffer records with -a)
    uint32_t bufferRecords = 0;  // B: records per stream buffer

    int startMs = 0, startCpuMs = 0;  // start values of the closing statistics
    double lcpNs = 0;          // time spent on the LCPs of consecutive suffixes

    MergeCounters current{};   // the tree (or array block) being built
    RunTotals totals{};
};

// Adds build.current to build.totals.sums and clears it.
void addCurrentToTotals(BuildState& build);

// Bit k (0 = the first bit) of input i's packed form; bits past its end read 0 up to
// the extra zero word.
inline int inputBit(const BuildState& build, int input, uint32_t k) {
    return static_cast<int>((build.packed[input][k >> 5] >> (31 - (k & 31))) & 1u);
}

// Remaining length in bits of a record's suffix.
inline uint32_t remainingBits(const BuildState& build, const PsaRecord& r) {
    return static_cast<uint32_t>(build.bitLengths[recordInput(r)]) - 2u * r.offset;
}

// One buffered stream over a run's .stpsa file (and its .stlcp file with -Z).
struct Stream {
    std::string psaPath;
    std::string lcpPath;
    PsaRecord* records = nullptr;  // capacity records
    uint32_t capacity = 0;         // B, or fewer when the file or a block needs fewer
    uint32_t held = 0;             // records in the buffer
    uint32_t index = 0;            // next record to hand out
    int64_t consumed = 0;          // records read from the file so far
    int64_t total = 0;             // records in the file
    FileDescriptor file;           // -f: open for the whole run
    uint32_t inputOffset = 0;      // -z: added to every input number
    uint32_t firstInput = 0;       // inputs this stream may hold
    uint32_t inputCount = 0;
    uint32_t* lcps = nullptr;      // -Z, lcpCapacity values
    uint32_t lcpCapacity = 0;
    uint32_t lcpHeld = 0;
    uint32_t lcpIndex = 0;
    int64_t lcpConsumed = 0;
    PsaRecord current{};           // the record handed out last, input number adjusted
    VerifiedFile psaCheck, lcpCheck;  // each block verified when first read
};

// The streams of a run, one per run of the sorter.
struct SuffixStreams {
    std::vector<Stream> streams;
    bool noPrefix = false;  // -X: every comparison reads the packed words, so prefetch them always
};

// The merge's state: the streams' current suffixes in a sorted list (default) or a heap (-H).
struct MergeState {
    std::vector<const PsaRecord*> current;  // per stream, null once exhausted
    // Sorted list
    int head = -1;
    std::vector<int> next;                  // per stream: the stream after it in the list, -1 at the end
    std::vector<uint32_t> lcpv;             // per stream: LCP value against the element before it
    int size = 0;
    // Heap of stream numbers
    std::vector<int> heap;
    int heapSize = 0;
    uint32_t lcpTick = 0;                   // LCPs delivered, for the sampling of their time
};

// -a: the merged arrays on their way to the .stpsa and .stlcp files.
struct ArrayOutput {
    PsaRecord* records = nullptr;
    uint32_t* lcps = nullptr;
    int held = 0;  // records in the buffer ("nbuff" in the flush lines)
    int flushes = 0;
    int lastCpuMs = 0;
    FileDescriptor psa;
    FileDescriptor lcp;
    std::string psaPath;
    std::string lcpPath;
    BlockHasher psaHash;
    BlockHasher lcpHash;
};

struct TreeState;  // tree_state.h

// options.cpp: command line, echo, paths and sizes
void parseOptions(int argc, char** argv, BuildSettings& settings);  // usage and exit 1 when too few arguments
void echoOptions(const BuildSettings& settings);
// Applies the defaults of the output and suffix folders and prefixes; also creates
// the output directory.
void buildPaths(BuildSettings& settings, BuildState& build);
void readInputCatalogues(const BuildSettings& settings, BuildState& build);  // N, P, S, lengths, bit lengths, partitions
void sizeBuffers(const BuildSettings& settings, BuildState& build);          // B and maxNodes
void printClosingStatistics(const BuildState& build);

// suffix_stream.cpp: packed inputs and buffered streams over the .stpsa/.stlcp files
void loadPackedInputs(BuildState& build);
void openStreamFiles(const BuildState& build, SuffixStreams& streams);  // -f: one descriptor per stream for the whole run
void closeStreamFiles(SuffixStreams& streams);                           // after the merge
// -R, once the trees (or arrays) and the dividers are in place: removes every merged
// run's .stpsa and .stlcp file, and the runs' checksum file, which would describe them.
void removeRunFiles(const BuildState& build, const SuffixStreams& streams);
void openStreams(const BuildSettings& settings, const BuildState& build, SuffixStreams& streams);
// Next record of stream s, or null when the stream is exhausted. The record stays
// valid until the next call for the same stream.
const PsaRecord* nextRecord(SuffixStreams& streams, const BuildState& build, int s);
// Stops the run naming stream s's file: its last record handed out sorts before the
// one handed out before it.
[[noreturn]] void streamOutOfOrder(const SuffixStreams& streams, int s);
uint32_t nextLcp(SuffixStreams& streams, int s);  // -Z

// compare.h: compareSuffixes, the order of all suffixes.

// merge.cpp: set-up (the output, and the first record of every stream), then the
// merge to its end, with the "Merge done" lines.
void setUpMerge(const BuildSettings& settings, BuildState& build, SuffixStreams& streams, MergeState& merge,
                TreeState& tree, ArrayOutput& array);
void runMerge(const BuildSettings& settings, BuildState& build, SuffixStreams& streams, MergeState& merge,
              TreeState& tree, ArrayOutput& array);

// key_range.cpp (-K, -P, -Q): one range of the global suffix order.
// Suffixes whose first `bases` bases, read as a 2-bit-per-base number, lie in
// [low, high); the records of a sorted run are in order of that number, so a range is
// one contiguous slice of every run.
struct KeyRange {
    int bases = 0;      // 1 .. 16
    uint64_t low = 0;   // 0 when the range starts at the first key
    uint64_t high = 0;  // 4^bases when the range ends at the last key
};
// Reads "<from>:<to>" (base letters, either end empty, both ends of one length);
// fatal when it is not such a range.
KeyRange parseKeyRange(const char* text);
// The key of a record under a range of `bases` bases.
inline uint64_t recordKey(const PsaRecord& r, int bases) { return static_cast<uint64_t>(r.prefix1) >> (32 - 2 * bases); }
// The base of a part's files: "<output base>.part-<name>".
std::string partBase(const std::string& outputBase, const std::string& name);
// -P: the trees, dividers and checksum file go under the part's base.
void usePartPaths(const BuildSettings& settings, BuildState& build);
// -K: narrows every stream to the records of the range, found by binary search.
void sliceStreams(const KeyRange& range, const BuildSettings& settings, SuffixStreams& streams);
// Cut points of `count` ranges holding about as many suffixes each, from the keys of
// `samples` sorted keys of 16 bases (fewer ranges when the keys do not allow them).
std::vector<KeyRange> splitKeys(std::vector<uint64_t> samples, int count);
// "<from>:<to>" of a range, as parseKeyRange reads it.
std::string formatKeyRange(const KeyRange& range);
// -Q: samples the runs and prints one range a line to standard output.
void printKeyRanges(const BuildSettings& settings, SuffixStreams& streams);

// join.cpp (-G): the parts' trees renamed into one numbering in key order, one
// dividers file and one checksum file.
void joinParts(const BuildSettings& settings, BuildState& build);

// array_output.cpp (-a)
void allocateArrayBuffers(const BuildState& build, ArrayOutput& array);
void addToArray(BuildState& build, ArrayOutput& array, const PsaRecord& record, uint32_t lcp);
void flushArray(BuildState& build, ArrayOutput& array, bool final);
