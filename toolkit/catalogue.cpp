// The one reader and writer of the catalogues; see catalogue.h.
#include "toolkit/catalogue.h"

#include <cstdio>

#include "toolkit/checksum.h"
#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

int64_t catalogueEntries(const std::string& path) {
    int64_t bytes = fileSizeByStat(path.c_str());
    return bytes < 0 ? -1 : bytes / 4;
}

int64_t readCatalogueEntries(const std::string& path, int32_t* entries, int64_t count) {
    FileDescriptor in(openFile(path.c_str(), 0));
    if (!in.ok()) return -1;
    if (count <= 0) return 0;
    return (int64_t)(readFully(in.fd, entries, (size_t)count * sizeof(int32_t), path.c_str()) / sizeof(int32_t));
}

namespace {

// Reads exactly `count` entries; a catalogue that shrank since it was sized is fatal.
void readExactly(const std::string& path, int32_t* entries, int count, const char* openMessage) {
    int64_t got = readCatalogueEntries(path, entries, count);
    if (got < 0) fatal(openMessage, path.c_str());
    if (got < count) fatal("catalogue \"%s\" holds %lld entries, %d expected\n", path.c_str(), (long long)got, count);
}

constexpr const char* kNoLengths = "could not open lengths file \"%s\"\n";
constexpr const char* kNoBitLengths = "Could not open binary lengths file \"%s\"\n";

}  // namespace

InputCatalogues findInputCatalogues(const std::string& base) {
    InputCatalogues c;
    c.lengthsPath = dataSetPath(base, FileKind::lengths);
    c.bitLengthsPath = dataSetPath(base, FileKind::bitLengths);
    int64_t inputs = catalogueEntries(c.lengthsPath);
    if (inputs < 0) fatal(kNoLengths, c.lengthsPath.c_str());
    if (inputs > kMaxInputs)
        fatal("lengths file \"%s\" lists %lld inputs, more than %lld\n", c.lengthsPath.c_str(), (long long)inputs,
              (long long)kMaxInputs);
    int64_t bitInputs = catalogueEntries(c.bitLengthsPath);
    if (bitInputs < 0) fatal(kNoBitLengths, c.bitLengthsPath.c_str());
    if (bitInputs != inputs)
        fatal("catalogues differ in length: \"%s\" has %lld entries, \"%s\" has %lld\n", c.lengthsPath.c_str(),
              (long long)inputs, c.bitLengthsPath.c_str(), (long long)bitInputs);
    c.inputs = (int)inputs;
    return c;
}

std::string inputEntryProblem(const InputCatalogues& c, int k, int32_t length, int32_t bits) {
    if (length < 0) return formatString("input %d has the negative length %d in \"%s\"", k, length, c.lengthsPath.c_str());
    if ((int64_t)bits != 2 * (int64_t)length)
        return formatString("bad lengths: input %d has %d bases but %d bits in \"%s\"", k, length, bits,
                            c.bitLengthsPath.c_str());
    return "";
}

void readInputCatalogues(InputCatalogues& c, int count, int32_t* lengths, int32_t* bitLengths,
                         const ChecksumFile* sums) {
    if (count > c.inputs) count = c.inputs;
    if (sums && !sums->path.empty()) {
        verifyWholeFile(*sums, c.lengthsPath);
        verifyWholeFile(*sums, c.bitLengthsPath);
    }
    readExactly(c.lengthsPath, lengths, count, kNoLengths);
    readExactly(c.bitLengthsPath, bitLengths, count, kNoBitLengths);
    c.longest = 0;
    c.totalBases = 0;
    for (int k = 0; k < count; k++) {
        std::string problem = inputEntryProblem(c, k, lengths[k], bitLengths[k]);
        if (!problem.empty()) fatal("%s\n", problem.c_str());
        if (lengths[k] > c.longest) c.longest = lengths[k];
        c.totalBases += lengths[k];
    }
}

std::string partitionsProblem(const std::string& path, const int32_t* partitions, int64_t runs, int64_t inputs) {
    int64_t first = 0;
    for (int64_t r = 0; r < runs; r++) {
        int32_t count = partitions[r];
        if (count < 0 || first + count > inputs)
            return formatString("partitions file \"%s\": run %lld holds %d inputs, beyond the %lld inputs of the data set",
                                path.c_str(), (long long)r, count, (long long)inputs);
        first += count;
    }
    if (first != inputs)
        return formatString("partitions file \"%s\": its runs hold %lld inputs, the data set has %lld", path.c_str(),
                            (long long)first, (long long)inputs);
    return "";
}

void readPartitions(const std::string& path, int runs, int32_t* partitions, int inputs, const ChecksumFile* sums) {
    if (sums && !sums->path.empty() && sums->find(path)) verifyWholeFile(*sums, path);
    readExactly(path, partitions, runs, "Could not open partitions file \"%s\"\n");
    std::string problem = partitionsProblem(path, partitions, runs, inputs);
    if (!problem.empty()) fatal("%s\n", problem.c_str());
}

ChecksumEntry writeCatalogue(const char* path, const int32_t* entries, int count, const char* openMessage) {
    FileDescriptor out(openTemporary(path));
    if (!out.ok()) fatal(openMessage, path);
    size_t bytes = (size_t)(count > 0 ? count : 0) * sizeof(int32_t);
    writeOrDie(out.fd, entries, bytes, path);
    if (closeFile(out.fd) != 0) fatal("can't close %s after writing it\n", path);
    out.fd = -1;
    commitFile(path);
    BlockHasher hash;
    hash.add(entries, bytes);
    return hash.finish(path);
}
