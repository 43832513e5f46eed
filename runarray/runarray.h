// The suffix sorter: groups consecutive inputs into runs, sorts each run's suffixes
// with divsufsort and writes the prefixed suffix array (.stpsa), optionally the LCP
// array (.stlcp), and at the end the partitions catalogue (.stplengths).
#pragma once

#include <cstdint>

#include <string>
#include <thread>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/records.h"

// Everything the command line sets; zero means "the built-in default".
struct SortSettings {
    int maxSALen = 0;              // -r: upper limit of a run text (default 200,000,000)
    int outSize = 0;               // -m: output buffer size in PSA records (default 65536)
    int all = 0;                   // -A: every input in one run
    int single = 0;                // -S: every input a run of its own
    int noSuffixes = 0;            // -N: no .stpsa output
    int manzini = 0;               // -Z: compute and write the LCP array
    int zeroOrigin = 0;            // -z: input numbers counted from each run's first input
    const char* threadsText = nullptr;  // -j: threads (0 = every core); absent = one, as always
    int threads = 1;               // -j resolved
    int printPlan = 0;             // -P: print the run plan and sort nothing
    const char* onlyRuns = nullptr;  // -O: sort only runs i..j of the plan ("i-j" or "i")
    int joinRuns = 0;              // -G: the partitions and checksum files of runs sorted apart
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
    std::string partitions;
};

// One run: inputs first .. end-1, whose text (separators included) is `count` bytes.
// Runs depend only on the catalogue, so all of them are known before any is sorted.
struct RunPlan {
    int first = 0;
    int end = 0;
    int count = 0;
};

// Working memory of one run at a time, sized once from maxSize and reused by every run
// that goes through it; `helpers` threads share each run's work after its sort.
struct RunBuffers {
    int64_t maxSize = 0;            // bytes of a run text, separators included; every run stays below
    uint8_t* text = nullptr;        // maxSize bytes
    int32_t* suffixes = nullptr;    // maxSize entries; slot 0 is the empty suffix, 1..count sorted
    uint32_t* map = nullptr;        // maxSize entries: LCP values first, then the position map
    uint32_t* lcpChunk = nullptr;   // kLcpChunk values per helper on their way to the .stlcp file (-Z)
    PsaRecord* out = nullptr;       // outSize records per helper (none with -N)
    int outSize = 0;
    int helpers = 1;
    uint32_t* packed = nullptr;     // packed inputs of the run, each followed by two zero words
    int64_t packedWords = 0;
    const uint32_t** inputWords = nullptr;  // per input: its start within `packed` (loaded inputs only)
    ~RunBuffers();
};

// What one run did: its line on standard error and its counters, or the failure that
// stopped it. Threads fill their own report; the main thread reads it once the run is
// over, and prints the line so far and then the failure, as one thread would.
struct RunReport {
    bool live = false;        // pieces go to standard error at once (runs one after another)
    std::string line;         // the run's line up to its real time
    WorkerStatus status;      // the failure that stopped the run, if one did
    int64_t suffixes = 0;     // suffixes of the run (count - inputs), for the progress line
    int64_t written = 0;      // records written
    int flushes = 0;
    int finishedMs = 0;
    bool madeLcp = false, madePsa = false;  // files of this run that exist now
    std::vector<ChecksumEntry> sums;        // of the run's files, in the order they were written
};

// What all runs add up to, for the closing line.
struct SortTotals {
    double suffixes = 0;
    int flushes = 0;
    std::vector<int32_t> runInputs;  // the partitions catalogue, one entry per run
    std::vector<int> runSums;        // entries of `sums` that each run added, in run order
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
// The bases of a data set: the first base of the first input with any decides the case.
struct BaseTable;
const BaseTable* peekBaseTable(const DataSetPaths& paths, const InputCatalogue& inputs);
InputCatalogue readInputCatalogue(const DataSetPaths& paths);
int64_t computeMaxSize(const SortSettings& settings, const InputCatalogue& inputs);
// Bytes that one run's buffers take with `helpers` threads; with `textBytes`, the
// bytes they touch for a run text of that size.
int64_t runMemory(const SortSettings& settings, const InputCatalogue& inputs, int helpers, int64_t textBytes = 0);
// `talk` prints the sizing line (once, for the first buffers).
void allocateBuffers(RunBuffers& buffers, const SortSettings& settings, const InputCatalogue& inputs, int helpers,
                     bool talk);
void deleteStaleOutputs(const DataSetPaths& paths);
std::vector<RunPlan> planRuns(const SortSettings& settings, const InputCatalogue& inputs, int64_t maxSize);
// Reads, sorts and writes run `run`; returns false with report.status set when it failed.
bool sortRun(int run, const RunPlan& plan, const SortSettings& settings, const DataSetPaths& paths,
             const InputCatalogue& inputs, const BaseTable* bases, RunBuffers& buffers, RunReport& report);
// Appends a piece of the run's line (and prints it at once when the report is live).
void say(RunReport& report, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Renames a run file written under its temporary name into place and adds its
// checksums to the report: from `hash` when its pieces went through it in order
// (`hashed`), else read back from the finished file. False with report.status set.
bool commitRunFile(const std::string& path, BlockHasher& hash, bool hashed, RunReport& report);
void writePartitions(const DataSetPaths& paths, const std::vector<int32_t>& runInputs,
                     std::vector<ChecksumEntry>& sums);
// Written last, once every file it covers is in place.
void writeRunChecksums(const DataSetPaths& paths, const std::vector<ChecksumEntry>& sums);
// Slot p+1 holds the offset of run-text position p within its input, and the slot
// before each input's first offset holds the input's number.
void fillPositionMap(uint32_t* map, const int32_t* lengths, int first, int end);

// run_plan.cpp (-P, -O, -G): the runs of one plan sorted by separate processes.
// Runs first .. end-1 of the plan.
struct RunSpan {
    int first = 0;
    int end = 0;
};
// The runs -O selects from a plan of `runs` runs (all of them without -O); fatal
// when -O names runs the plan does not have.
RunSpan selectedRuns(const SortSettings& settings, int runs);
// -P: one line per run on standard output: inputs, suffixes and buffer bytes.
void printRunPlan(const SortSettings& settings, const InputCatalogue& inputs);
// The checksum file of run r's own files, written when runs are sorted apart.
std::string runPieceSums(const DataSetPaths& paths, int run);
// -O: each sorted run's checksums in a file of its own, for -G.
void writeRunPieces(const SortSettings& settings, const DataSetPaths& paths, const InputCatalogue& inputs,
                    const SortTotals& totals);
// Removes the checksum files of runs sorted apart, from run `from` to the first run
// without one: a whole sort or a join replaces them.
void removeRunPieces(const DataSetPaths& paths, int from);
// -G: once every run of the plan is sorted, the partitions catalogue and the runs'
// checksum file, as one process writes them.
void joinRunPieces(const SortSettings& settings, const DataSetPaths& paths, const InputCatalogue& inputs);

// schedule.cpp
// How many runs go at once: at most `threads` and the number of runs, and only as many
// as physical memory holds (`memory` bytes; 0 = not known).
int runsAtOnce(int threads, int runs, int64_t perRun, uint64_t memory);
void sortAllRuns(const SortSettings& settings, const DataSetPaths& paths, const InputCatalogue& inputs,
                 SortTotals& totals);

// Runs body(t) for t = 0 .. threads-1, t = 0 on the calling thread, and waits for all.
template <class Body>
void shareWork(int threads, Body body) {
    if (threads <= 1) {
        body(0);
        return;
    }
    std::vector<std::thread> others;
    for (int t = 1; t < threads; t++) others.emplace_back(body, t);
    body(0);
    for (std::thread& other : others) other.join();
}

// psa_writer.cpp
bool loadPackedInputs(const DataSetPaths& paths, const InputCatalogue& inputs, int first, int end,
                      RunBuffers& buffers, RunReport& report);
// The record of the suffix at `offset` of an input whose packed words start at `words`
// (followed by two zero words); `number` goes into bits 31-2 of word 0.
PsaRecord makePsaRecord(const uint32_t* words, uint32_t number, uint32_t offset);
// Writes the records of suffix-array slots len+1 .. count to the run's .stpsa file,
// in pieces of outSize records shared by the helpers; report.written gets the records
// written. False when the file could not be written.
bool writeRunSuffixes(const std::string& path, const SortSettings& settings, const InputCatalogue& inputs,
                      int first, int end, int count, RunBuffers& buffers, RunReport& report);

// lcp.cpp
// LCP values of a run text of n bytes whose inputs each end in a 0 byte, its suffixes
// sorted in slots 1..n: values[p] (n slots) becomes the value of the suffix at text
// position p against the suffix before it in the order.
// `threads` threads share the work, each a part of the text.
void computeLcp(const uint8_t* text, const int32_t* suffixes, uint32_t* values, int n, int threads = 1);
// Writes the values of ranks len+1 .. n (the run's real suffixes) in suffix order,
// through `chunk` (chunkSize values per thread, `threads` threads); its checksums join
// report.sums. False when the file could not be written.
bool writeLcpFile(const std::string& path, const uint32_t* values, const int32_t* suffixes, int len, int n,
                  uint32_t* chunk, int chunkSize, int threads, RunReport& report);
