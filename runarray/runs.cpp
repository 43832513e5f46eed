// Sizing of the run text, the working buffers, stale outputs, forming runs from
// consecutive inputs and sorting each run, and the partitions catalogue.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <divsufsort.h>
#include <sys/mman.h>
#include <unistd.h>

#include "runarray/runarray.h"
#include "toolkit/data_set.h"
#include "toolkit/catalogue.h"
#include "toolkit/file_io.h"
#include "toolkit/packed_input.h"
#include "toolkit/run.h"

static_assert(sizeof(saidx_t) == sizeof(int32_t), "the suffix array holds 32-bit positions");

// The bytes a .stdna file may hold, as rejection tables: the four bases in the data
// set's case (lower, or upper as dnaprep -u writes them). Any other byte would be
// sorted as if it were a base, and a 0 byte would pass for an input's end.
struct BaseTable {
    uint8_t reject[256];
    const char* letters;
};

namespace {

// A run holding one input of this length still has a count that divsufsort can index.
constexpr int32_t kMaxInputLength = INT32_MAX - 2;

void* allocate(int64_t bytes, const char* what) {
    void* memory = trackedMalloc((size_t)bytes);
    if (!memory && bytes > 0) fatal("can't allocate %lld bytes for %s\n", (long long)bytes, what);
    return memory;
}

// The sort and the LCP walk touch the text, suffix array and map at random: huge pages
// spare most of their TLB misses. Only whole 2 MB pages within the first `used` bytes
// are advised, so that the parts no run reaches stay unbacked. Only a hint.
void adviseHugePages(void* memory, int64_t used) {
    constexpr uintptr_t kHuge = 2 << 20;
    uintptr_t from = ((uintptr_t)memory + kHuge - 1) & ~(kHuge - 1);
    uintptr_t to = ((uintptr_t)memory + (uintptr_t)used) & ~(kHuge - 1);
    if (to > from) madvise((void*)from, to - from, MADV_HUGEPAGE);
}


constexpr BaseTable makeBaseTable(const char* bases, const char* letters) {
    BaseTable table{};
    for (int b = 0; b < 256; b++) table.reject[b] = 1;
    for (int i = 0; i < 4; i++) table.reject[(uint8_t)bases[i]] = 0;
    table.letters = letters;
    return table;
}

constexpr BaseTable kLowerBases = makeBaseTable("acgt", "a, c, g, t");
constexpr BaseTable kUpperBases = makeBaseTable("ACGT", "A, C, G, T");

// The table of a data set whose first base is `first`: a base of the other case is
// refused like any other byte, since the two cases sort apart from their codes.
const BaseTable* tableFor(uint8_t first) { return kUpperBases.reject[first] ? &kLowerBases : &kUpperBases; }

// Checks an input's bases in one table pass.
bool checkBases(const uint8_t* bases, int32_t length, const BaseTable* table, const std::string& path,
                RunReport& report) {
    if (length == 0) return true;
    const uint8_t* reject = table->reject;
    uint8_t bad = 0;
    for (int32_t i = 0; i < length; i++) bad |= reject[bases[i]];
    if (!bad) return true;
    int32_t at = 0;
    while (!reject[bases[at]]) at++;
    uint8_t byte = bases[at];
    char shown[8];
    if (byte > ' ' && byte < 127) snprintf(shown, sizeof shown, "'%c'", byte);
    else snprintf(shown, sizeof shown, "0x%02x", byte);
    return failWorker(report.status, "DNA file %s: byte %s at offset %d is not one of %s (the bases of this data set)\n",
                path.c_str(), shown, at, table->letters);
}

// Reads input k's bases into the run text and checks them.
bool readDna(const DataSetPaths& paths, const InputCatalogue& inputs, int k, int32_t length, uint8_t* place,
             const BaseTable* table, RunReport& report) {
    std::string path = dataSetPath(paths.base, FileKind::texts, k);
    size_t got = 0;
    // A longer file contributes only its catalogue length.
    switch (readText(path.c_str(), (char*)place, (size_t)length, &got, &inputs.sums, &report.status)) {
        case PackedRead::cannotOpen: return failWorker(report.status, "can't open DNA file %d (%s)\n", k, path.c_str());
        case PackedRead::shortFile:
            return failWorker(report.status, "couldn't read %d bytes from DNA input %d\n", length, k);
        case PackedRead::failed: return false;
        case PackedRead::whole: break;
    }
    return checkBases(place, length, table, path, report);
}

// What the buffers of one run take, piece by piece; allocateBuffers and runMemory agree.
struct BufferSizes {
    int64_t maxSize, text, suffixes, map, lcpChunk, out, packedWords, inputTable;
    int outSize;
};

// `textBytes`, when above 0, stands in for the largest run text (the part of the
// buffers that one run touches).
BufferSizes bufferSizes(const SortSettings& settings, const InputCatalogue& inputs, int helpers,
                        int64_t textBytes = 0) {
    BufferSizes b{};
    b.maxSize = textBytes > 0 ? textBytes : computeMaxSize(settings, inputs);
    b.outSize = settings.outSize ? settings.outSize : kDefaultOutSize;
    b.text = b.maxSize;
    b.suffixes = 4 * b.maxSize;
    // Single runs never look up the map; only the LCP values would need it.
    b.map = !settings.single || settings.manzini ? 4 * b.maxSize : 0;
    b.lcpChunk = settings.manzini ? 4 * (int64_t)kLcpChunk * helpers : 0;
    b.out = settings.noSuffixes ? 0 : 16 * (int64_t)b.outSize * helpers;
    b.packedWords = 3 * (int64_t)inputs.count + b.maxSize / 16;
    b.inputTable = (int64_t)sizeof(uint32_t*) * inputs.count;
    return b;
}

}  // namespace

void say(RunReport& report, const char* fmt, ...) {
    if (gRun.quiet) return;
    va_list args;
    va_start(args, fmt);
    std::string piece = formatText(fmt, args);
    va_end(args);
    report.line += piece;
    if (report.live) fputs(piece.c_str(), stderr);
}

bool commitRunFile(const std::string& path, BlockHasher& hash, bool hashed, RunReport& report) {
    if (!tryCommitFile(path))
        return failWorker(report.status, "can't rename %s to %s: %s\n", temporaryName(path).c_str(), path.c_str(),
                          strerror(errno));
    report.sums.push_back(hashed ? hash.finish(path) : hashFile(path, &report.status));
    return !report.status.failed();
}

bool sortRun(int run, const RunPlan& plan, const SortSettings& settings, const DataSetPaths& paths,
             const InputCatalogue& inputs, const BaseTable* bases, RunBuffers& buffers, RunReport& report) {
    const int first = plan.first, end = plan.end, count = plan.count;
    const int len = end - first;
    report.suffixes = count - len;
    int64_t pos = 0;
    for (int k = first; k < end; k++) {
        int32_t length = inputs.lengths[k];
        if (!readDna(paths, inputs, k, length, buffers.text + pos, bases, report)) return false;
        buffers.text[pos + length] = 0;
        pos += length + 1;
    }

    int start = msClock();
    say(report, "# sort %d %d, ", run, count);
    if (len >= 2) say(report, "inputs %d-%d .. ", first, end - 1);
    else say(report, "input %d .. ", first);

    // The empty suffix keeps slot 0, so that rank k sits in slot k.
    if (divsufsort(buffers.text, buffers.suffixes + 1, count) != 0)
        return failWorker(report.status, "problem with Mori suffix sort\n");
    int sorted = msClock();
    say(report, "%d ms", sorted - start);

    if (settings.manzini) {
        computeLcp(buffers.text, buffers.suffixes, buffers.map, count, buffers.helpers);
        int computed = msClock();
        std::string path = dataSetPath(paths.base, FileKind::runLcp, run);
        if (!writeLcpFile(path, buffers.map, buffers.suffixes, len, count, buffers.lcpChunk, kLcpChunk,
                          buffers.helpers, report))
            return false;
        int written = msClock();
        say(report, ", LCP .. %d + %d ms", computed - sorted, written - computed);
        sorted = written;
    }

    // Runs of one or two inputs find input and offset by arithmetic instead.
    if (len >= 3) fillPositionMap(buffers.map, inputs.lengths.data(), first, end);

    if (!settings.noSuffixes) {
        if (!loadPackedInputs(paths, inputs, first, end, buffers, report)) return false;
        std::string path = dataSetPath(paths.base, FileKind::runs, run);
        if (!writeRunSuffixes(path, settings, inputs, first, end, count, buffers, report)) return false;
    }

    report.finishedMs = msClock();
    // Without suffix output there is no writing time to report, only the run's real time.
    if (!settings.noSuffixes) say(report, "%d ms", report.finishedMs - sorted);
    return true;
}

RunBuffers::~RunBuffers() {
    free(text);
    free(suffixes);
    free(map);
    free(lcpChunk);
    free(out);
    free(packed);
    free(inputWords);
}

DataSetPaths buildPaths(const SortSettings& settings) {
    DataSetPaths paths;
    paths.base = dataSetBase(settings.inputDir, settings.prefix);
    paths.partitions = dataSetPath(paths.base, FileKind::partitions);
    return paths;
}

InputCatalogue readInputCatalogue(const DataSetPaths& paths) {
    InputCatalogues found = findInputCatalogues(paths.base);
    InputCatalogue inputs;
    loadChecksums(inputs.sums, dataSetPath(paths.base, FileKind::inputSums), "the inputs");
    inputs.count = found.inputs;
    inputs.lengths.resize(inputs.count);
    inputs.bitLengths.resize(inputs.count);
    inputs.words.resize(inputs.count);
    readInputCatalogues(found, inputs.count, inputs.lengths.data(), inputs.bitLengths.data(), &inputs.sums);
    inputs.maxLen = found.longest;
    inputs.sumLen = found.totalBases;
    for (int k = 0; k < inputs.count; k++) {
        if (inputs.lengths[k] > kMaxInputLength)
            fatal("input %d is too long to sort: %d bases, at most %d\n", k, inputs.lengths[k], kMaxInputLength);
        inputs.words[k] = (int32_t)packedWords(inputs.bitLengths[k]);
    }
    return inputs;
}

int64_t computeMaxSize(const SortSettings& settings, const InputCatalogue& inputs) {
    int64_t maxSize;
    if (settings.all) maxSize = (int64_t)inputs.count + (int64_t)inputs.sumLen + 1;
    else if (settings.single) maxSize = (int64_t)inputs.maxLen + 2;
    else maxSize = settings.maxSALen ? settings.maxSALen : kDefaultRunSize;
    if (maxSize > kRunSizeCap) maxSize = kRunSizeCap;
    // The longest input always fits in a run of its own, even above the cap.
    if ((int64_t)inputs.maxLen + 1 >= maxSize) maxSize = (int64_t)inputs.maxLen + 2;
    return maxSize;
}


int64_t runMemory(const SortSettings& settings, const InputCatalogue& inputs, int helpers, int64_t textBytes) {
    BufferSizes b = bufferSizes(settings, inputs, helpers, textBytes);
    return b.text + b.suffixes + b.map + b.lcpChunk + b.out + 4 * b.packedWords + b.inputTable;
}

void allocateBuffers(RunBuffers& buffers, const SortSettings& settings, const InputCatalogue& inputs, int helpers,
                     bool talk) {
    BufferSizes b = bufferSizes(settings, inputs, helpers);
    int64_t maxSize = b.maxSize;
    buffers.maxSize = maxSize;
    buffers.outSize = b.outSize;
    buffers.helpers = helpers;
    if (buffers.outSize < 0) fatal("output buffer size %d (-m) is not a number of records\n", buffers.outSize);
    buffers.text = static_cast<uint8_t*>(allocate(b.text, "the run text"));
    buffers.suffixes = static_cast<int32_t*>(allocate(b.suffixes, "the suffix array"));
    if (b.map) buffers.map = static_cast<uint32_t*>(allocate(b.map, "the position map"));
    int64_t used = std::min(maxSize, (int64_t)inputs.count + (int64_t)inputs.sumLen + 1);
    adviseHugePages(buffers.text, used);
    adviseHugePages(buffers.suffixes, 4 * used);
    if (buffers.map) adviseHugePages(buffers.map, 4 * used);
    if (b.lcpChunk) buffers.lcpChunk = static_cast<uint32_t*>(allocate(b.lcpChunk, "the LCP buffer"));
    if (b.out) buffers.out = static_cast<PsaRecord*>(allocate(b.out, "the output buffer"));
    buffers.packedWords = b.packedWords;
    buffers.packed = static_cast<uint32_t*>(allocate(4 * buffers.packedWords, "the binary buffer"));
    buffers.inputWords = static_cast<const uint32_t**>(allocate(b.inputTable, "the binary input table"));
    if (talk && !gRun.quiet)
        note("maxLen %d, sumLen %.0f, maxSize %lld, outSize %d, binSize %lld\n", inputs.maxLen, inputs.sumLen,
             (long long)maxSize, buffers.outSize, (long long)(4 * buffers.packedWords));
}

void deleteStaleOutputs(const DataSetPaths& paths) {
    remove(paths.partitions.c_str());
    remove((dataSetPath(paths.base, FileKind::runSums)).c_str());
    for (int run = 0; run < 1000000; run++) {
        std::string path = dataSetPath(paths.base, FileKind::runs, run);
        if (remove(path.c_str()) != 0) break;
    }
}

void fillPositionMap(uint32_t* map, const int32_t* lengths, int first, int end) {
    uint32_t* slot = map;
    for (int k = first; k < end; k++) {
        *slot++ = (uint32_t)k;
        for (int32_t offset = 0; offset < lengths[k]; offset++) *slot++ = (uint32_t)offset;
    }
}

const BaseTable* peekBaseTable(const DataSetPaths& paths, const InputCatalogue& inputs) {
    for (int k = 0; k < inputs.count; k++) {
        if (inputs.lengths[k] == 0) continue;
        // When the first base can't be read, that input's run stops the program with
        // its own message before any later run's message could count: any table will do.
        char first = 'a';
        size_t got = 0;
        WorkerStatus ignored;
        if (readText(dataSetPath(paths.base, FileKind::texts, k).c_str(), &first, 1, &got, nullptr, &ignored) !=
            PackedRead::whole)
            first = 'a';
        return tableFor((uint8_t)first);
    }
    return &kLowerBases;
}

std::vector<RunPlan> planRuns(const SortSettings& settings, const InputCatalogue& inputs, int64_t maxSize) {
    std::vector<RunPlan> plans;
    if (inputs.count == 0) {
        plans.push_back(RunPlan{});
        return plans;
    }
    int64_t pos = 0;
    int first = 0;
    for (int k = 0; k < inputs.count; k++) {
        int32_t length = inputs.lengths[k];
        int64_t count = pos + length + 1;
        // The next input joins only if the count with it stays below maxSize.
        if (k == inputs.count - 1 || settings.single || pos + length + inputs.lengths[k + 1] + 2 >= maxSize) {
            plans.push_back(RunPlan{first, k + 1, (int)count});
            first = k + 1;
            pos = 0;
        } else {
            pos = count;
        }
    }
    return plans;
}

void writePartitions(const DataSetPaths& paths, const std::vector<int32_t>& runInputs,
                     std::vector<ChecksumEntry>& sums) {
    sums.push_back(writeCatalogue(paths.partitions.c_str(), runInputs.data(), (int)runInputs.size(), "couldn't open %s\n"));
}

void writeRunChecksums(const DataSetPaths& paths, const std::vector<ChecksumEntry>& sums) {
    writeChecksumFile(dataSetPath(paths.base, FileKind::runSums), sums);
}
