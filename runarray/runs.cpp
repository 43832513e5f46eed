// Sizing of the run text, the working buffers, stale outputs, forming runs from
// consecutive inputs and sorting each run, and the partitions catalogue.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include <divsufsort.h>
#include <sys/mman.h>

#include "runarray/runarray.h"
#include "toolkit/catalogue.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

static_assert(sizeof(saidx_t) == sizeof(int32_t), "the suffix array holds 32-bit positions");

namespace {

// Every record carries its input number in 30 bits.
constexpr int64_t kMaxInputs = int64_t(1) << 30;
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

// The bytes a .stdna file may hold, as rejection tables: the four bases in the data
// set's case (lower, or upper as dnaprep -u writes them). Any other byte would be
// sorted as if it were a base, and a 0 byte would pass for an input's end.
struct BaseTable {
    uint8_t reject[256];
    const char* letters;
};

constexpr BaseTable makeBaseTable(const char* bases, const char* letters) {
    BaseTable table{};
    for (int b = 0; b < 256; b++) table.reject[b] = 1;
    for (int i = 0; i < 4; i++) table.reject[(uint8_t)bases[i]] = 0;
    table.letters = letters;
    return table;
}

constexpr BaseTable kLowerBases = makeBaseTable("acgt", "a, c, g, t");
constexpr BaseTable kUpperBases = makeBaseTable("ACGT", "A, C, G, T");

// Checks input k's bases in one table pass. The data set's first base decides its
// case (*table is null until then); a base of the other case is refused like any
// other byte, since the two cases sort apart from their codes.
void checkBases(const uint8_t* bases, int32_t length, const BaseTable** table, const std::string& path) {
    if (length == 0) return;
    if (!*table) *table = kUpperBases.reject[bases[0]] ? &kLowerBases : &kUpperBases;
    const uint8_t* reject = (*table)->reject;
    uint8_t bad = 0;
    for (int32_t i = 0; i < length; i++) bad |= reject[bases[i]];
    if (!bad) return;
    int32_t at = 0;
    while (!reject[bases[at]]) at++;
    uint8_t byte = bases[at];
    char shown[8];
    if (byte > ' ' && byte < 127) snprintf(shown, sizeof shown, "'%c'", byte);
    else snprintf(shown, sizeof shown, "0x%02x", byte);
    fatal("DNA file %s: byte %s at offset %d is not one of %s (the bases of this data set)\n", path.c_str(), shown,
          at, (*table)->letters);
}

// Reads input k's bases into the run text and checks them.
void readDna(const DataSetPaths& paths, const ChecksumFile& sums, int k, int32_t length, uint8_t* place,
             const BaseTable** table) {
    std::string path = dataSetFile(paths.base, k, ".stdna");
    FileDescriptor in(openFile(path.c_str(), 0));
    if (!in.ok()) fatal("can't open DNA file %d (%s)\n", k, path.c_str());
    VerifiedFile verified;
    verified.attach(&sums, path, fileSizeByStat(path.c_str()));
    // A longer file contributes only its catalogue length.
    size_t got = readFully(in.fd, place, (size_t)length, path.c_str());
    if (got < (size_t)length) fatal("couldn't read %d bytes from DNA input %d\n", length, k);
    verified.check(0, (uint64_t)length, place, in.fd);
    checkBases(place, length, table, path);
}

// Sorts the run of inputs first .. end-1 whose text (count bytes) is in buffers.text.
void sortRun(int run, int first, int end, int count, const SortSettings& settings, const DataSetPaths& paths,
             const InputCatalogue& inputs, RunBuffers& buffers, SortTotals& totals) {
    const bool talk = !gRun.quiet;
    const int len = end - first;
    int start = msClock();
    if (talk) {
        note("sort %d %d, ", run, count);
        if (len >= 2) fprintf(stderr, "inputs %d-%d .. ", first, end - 1);
        else fprintf(stderr, "input %d .. ", first);
    }

    // The empty suffix keeps slot 0, so that rank k sits in slot k.
    if (divsufsort(buffers.text, buffers.suffixes + 1, count) != 0) fatal("problem with Mori suffix sort\n");
    int sorted = msClock();
    if (talk) fprintf(stderr, "%d ms", sorted - start);

    if (settings.manzini) {
        computeLcp(buffers.text, buffers.suffixes, buffers.map, count);
        int computed = msClock();
        std::string path = dataSetFile(paths.base, run, ".stlcp");
        writeLcpFile(path, buffers.map, buffers.suffixes, len, count, buffers.lcpChunk, kLcpChunk, totals.sums);
        int written = msClock();
        if (talk) fprintf(stderr, ", LCP .. %d + %d ms", computed - sorted, written - computed);
        sorted = written;
    }

    // Runs of one or two inputs find input and offset by arithmetic instead.
    if (len >= 3) fillPositionMap(buffers.map, inputs.lengths.data(), first, end);

    int64_t written = 0;
    if (!settings.noSuffixes) {
        loadPackedInputs(paths, inputs, first, end, buffers);
        std::string path = dataSetFile(paths.base, run, ".stpsa");
        written = writeRunSuffixes(path, settings, inputs, first, end, count, buffers, totals);
    }

    int finished = msClock();
    if (talk) {
        // Without suffix output there is no writing time to report, only the run's real time.
        if (settings.noSuffixes) fprintf(stderr, ", real %d ms\n", finished - totals.referenceMs);
        else fprintf(stderr, "%d ms, real %d ms\n", finished - sorted, finished - totals.referenceMs);
    }
    totals.referenceMs = finished;

    if (!settings.noSuffixes && written != count - len)
        fatal("something wrong with # Suffixes: %d %lld\n", count - len, (long long)written);
    totals.suffixes += (double)written;
    totals.runInputs.push_back(len);
}

}  // namespace

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
    paths.base = formatPath(kPathLimit, "%s%s%s/%s", settings.inputDir, settings.prefix, ".ST", settings.prefix);
    paths.lengths = formatPath(kPathLimit, "%s%s", paths.base.c_str(), ".stlengths");
    paths.bitLengths = formatPath(kPathLimit, "%s%s", paths.base.c_str(), ".stblengths");
    paths.partitions = formatPath(kPathLimit, "%s%s", paths.base.c_str(), ".stplengths");
    return paths;
}

InputCatalogue readInputCatalogue(const DataSetPaths& paths) {
    int64_t bytes = fileSizeByStat(paths.lengths.c_str());
    if (bytes < 0) fatal("could not open lengths file \"%s\"\n", paths.lengths.c_str());
    if (bytes / 4 > kMaxInputs)
        fatal("lengths file \"%s\" lists %lld inputs, more than %lld\n", paths.lengths.c_str(),
              (long long)(bytes / 4), (long long)kMaxInputs);
    int64_t bitBytes = fileSizeByStat(paths.bitLengths.c_str());
    if (bitBytes < 0) fatal("Could not open binary lengths file \"%s\"\n", paths.bitLengths.c_str());
    // Catalogues of different lengths belong to different data sets or to an interrupted dnaprep.
    if (bitBytes / 4 != bytes / 4)
        fatal("catalogues differ in length: \"%s\" has %lld entries, \"%s\" has %lld\n", paths.lengths.c_str(),
              (long long)(bytes / 4), paths.bitLengths.c_str(), (long long)(bitBytes / 4));

    InputCatalogue inputs;
    if (loadChecksums(inputs.sums, paths.base + kInputSums, "the inputs")) {
        verifyWholeFile(inputs.sums, paths.lengths);
        verifyWholeFile(inputs.sums, paths.bitLengths);
    }
    inputs.count = (int)(bytes / 4);
    inputs.lengths.resize(inputs.count);
    inputs.bitLengths.resize(inputs.count);
    inputs.words.resize(inputs.count);
    if (inputs.count > 0)
        readCatalogues(paths.lengths.c_str(), paths.bitLengths.c_str(), nullptr, inputs.lengths.data(),
                       inputs.bitLengths.data(), nullptr, inputs.count);
    for (int k = 0; k < inputs.count; k++) {
        int32_t length = inputs.lengths[k];
        if (length < 0) fatal("input %d has the negative length %d in \"%s\"\n", k, length, paths.lengths.c_str());
        if (length > kMaxInputLength)
            fatal("input %d is too long to sort: %d bases, at most %d\n", k, length, kMaxInputLength);
        if (length > inputs.maxLen) inputs.maxLen = length;
        inputs.sumLen += length;
        if ((int64_t)inputs.bitLengths[k] != 2 * (int64_t)length)
            fatal("bad lengths: input %d has %d bases but %d bits in \"%s\"\n", k, length, inputs.bitLengths[k],
                  paths.bitLengths.c_str());
        inputs.words[k] = (int32_t)(((int64_t)inputs.bitLengths[k] + 31) / 32);
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

void allocateBuffers(RunBuffers& buffers, const SortSettings& settings, const InputCatalogue& inputs) {
    int64_t maxSize = computeMaxSize(settings, inputs);
    buffers.maxSize = maxSize;
    buffers.outSize = settings.outSize ? settings.outSize : kDefaultOutSize;
    if (buffers.outSize < 0) fatal("output buffer size %d (-m) is not a number of records\n", buffers.outSize);
    buffers.text = static_cast<uint8_t*>(allocate(maxSize, "the run text"));
    buffers.suffixes = static_cast<int32_t*>(allocate(4 * maxSize, "the suffix array"));
    // Single runs never look up the map; only the LCP values would need it.
    if (!settings.single || settings.manzini)
        buffers.map = static_cast<uint32_t*>(allocate(4 * maxSize, "the position map"));
    int64_t used = std::min(maxSize, (int64_t)inputs.count + (int64_t)inputs.sumLen + 1);
    adviseHugePages(buffers.text, used);
    adviseHugePages(buffers.suffixes, 4 * used);
    if (buffers.map) adviseHugePages(buffers.map, 4 * used);
    if (settings.manzini)
        buffers.lcpChunk = static_cast<uint32_t*>(allocate(4 * (int64_t)kLcpChunk, "the LCP buffer"));
    if (!settings.noSuffixes)
        buffers.out = static_cast<PsaRecord*>(allocate(16 * (int64_t)buffers.outSize, "the output buffer"));
    buffers.packedWords = 3 * (int64_t)inputs.count + maxSize / 16;
    buffers.packed = static_cast<uint32_t*>(allocate(4 * buffers.packedWords, "the binary buffer"));
    buffers.inputWords = static_cast<const uint32_t**>(
        allocate((int64_t)sizeof(uint32_t*) * inputs.count, "the binary input table"));
    if (!gRun.quiet)
        note("maxLen %d, sumLen %.0f, maxSize %lld, outSize %d, binSize %lld\n", inputs.maxLen, inputs.sumLen,
             (long long)maxSize, buffers.outSize, (long long)(4 * buffers.packedWords));
}

void deleteStaleOutputs(const DataSetPaths& paths) {
    remove(paths.partitions.c_str());
    remove((paths.base + kRunSums).c_str());
    for (int run = 0; run < 1000000; run++) {
        std::string path = dataSetFile(paths.base, run, ".stpsa");
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

void sortAllRuns(const SortSettings& settings, const DataSetPaths& paths, const InputCatalogue& inputs,
                 RunBuffers& buffers, SortTotals& totals) {
    if (inputs.count == 0) {
        sortRun(0, 0, 0, 0, settings, paths, inputs, buffers, totals);
        return;
    }
    int64_t pos = 0;
    int run = 0, first = 0;
    const BaseTable* bases = nullptr;
    for (int k = 0; k < inputs.count; k++) {
        int32_t length = inputs.lengths[k];
        readDna(paths, inputs.sums, k, length, buffers.text + pos, &bases);
        buffers.text[pos + length] = 0;
        int64_t count = pos + length + 1;
        if (k == inputs.count - 1) {
            sortRun(run, first, k + 1, (int)count, settings, paths, inputs, buffers, totals);
            break;
        }
        // The next input joins only if the count with it stays below maxSize.
        if (settings.single || pos + length + inputs.lengths[k + 1] + 2 >= buffers.maxSize) {
            sortRun(run, first, k + 1, (int)count, settings, paths, inputs, buffers, totals);
            run++;
            first = k + 1;
            pos = 0;
        } else {
            pos = count;
        }
    }
}

void writePartitions(const DataSetPaths& paths, const std::vector<int32_t>& runInputs,
                     std::vector<ChecksumEntry>& sums) {
    const char* path = paths.partitions.c_str();
    int fd = openTemporary(path);
    if (fd < 0) fatal("couldn't open %s\n", path);
    int64_t bytes = 4 * (int64_t)runInputs.size();
    int64_t written = timedWriteChunked(fd, runInputs.data(), (size_t)bytes);
    int closed = closeFile(fd);
    if (written != bytes) fatal("tried to write %lld bytes, only did %lld\n", (long long)bytes, (long long)written);
    if (closed != 0) fatal("couldn't close %s\n", path);
    commitFile(path);
    BlockHasher hash;
    hash.add(runInputs.data(), (size_t)bytes);
    sums.push_back(hash.finish(path));
}

void writeRunChecksums(const DataSetPaths& paths, const std::vector<ChecksumEntry>& sums) {
    writeChecksumFile(paths.base + kRunSums, sums);
}
