// The prefixed suffix array of one run: packed inputs, prefix words and preceding
// codes, and the .stpsa file written through the output buffer.
#include <cstdio>

#include "runarray/runarray.h"
#include "toolkit/file_io.h"
#include "toolkit/packed_input.h"
#include "toolkit/run.h"

void loadPackedInputs(const DataSetPaths& paths, const InputCatalogue& inputs, int first, int end,
                      RunBuffers& buffers) {
    uint32_t* place = buffers.packed;
    for (int k = first; k < end; k++) {
        int32_t words = inputs.words[k];
        // Two zero words after each input keep every prefix inside its own input.
        if ((place - buffers.packed) + (int64_t)words + 2 > buffers.packedWords)
            fatal("binary buffer not big enough! k=%d l=%d\n", k, end);
        buffers.inputWords[k] = place;
        std::string path = dataSetFile(paths.base, k, ".stbin");
        size_t got = 0;
        switch (readPackedInput(path.c_str(), place, inputs.bitLengths[k], &got, &inputs.sums)) {
            case PackedRead::cannotOpen: fatal("bad open: can't open %s\n", path.c_str());
            case PackedRead::shortFile:
                fatal("bad read, file %s: %d in, %d out\n", path.c_str(), words, (int)(got / 4));
            case PackedRead::whole: break;
        }
        place[words] = 0;
        place[words + 1] = 0;
        place += words + 2;
    }
}

PsaRecord makePsaRecord(const uint32_t* words, uint32_t number, uint32_t offset) {
    const uint32_t* w = words + offset / 16;
    unsigned shift = 2 * (offset % 16);
    PsaRecord record;
    record.offset = offset;
    if (shift == 0) {
        record.prefix1 = w[0];
        record.prefix2 = w[1];
        record.word0 = (number << 2) | (offset ? (w[-1] & 3) : 0);
    } else {
        record.prefix1 = (w[0] << shift) | (w[1] >> (32 - shift));
        record.prefix2 = (w[1] << shift) | (w[2] >> (32 - shift));
        record.word0 = (number << 2) | ((w[0] >> (32 - shift)) & 3);
    }
    return record;
}

namespace {

struct SuffixOutput {
    int fd;
    BlockHasher* hash;
    PsaRecord* records;
    int capacity;
    int filled = 0;
    int64_t written = 0;
    int* flushes;

    void flush() {
        int64_t bytes = (int64_t)filled * (int64_t)sizeof(PsaRecord);
        if (timedWriteChunked(fd, records, (size_t)bytes) != bytes) fatal("failed to write %d Suffixes\n", filled);
        hash->add(records, (size_t)bytes);
        (*flushes)++;
        written += filled;
        filled = 0;
    }
    void add(const PsaRecord& record) {
        records[filled++] = record;
        if (filled == capacity) flush();
    }
};

// Writes the records of slots len+1 .. count; `locate` turns a run-text position into
// (input, offset).
template <class Locate>
void emitRecords(SuffixOutput& output, const RunBuffers& buffers, int len, int count, uint32_t origin,
                 Locate locate) {
    // The suffixes come in sorted order, so their packed words (and map slots) are read
    // at random: fetch them a few suffixes ahead.
    constexpr int kAhead = 16;
    const int32_t* suffixes = buffers.suffixes;
    const uint32_t* map = len >= 3 ? buffers.map : nullptr;
    for (int i = len + 1; i <= count; i++) {
        if (i + 2 * kAhead <= count && map) __builtin_prefetch(map + suffixes[i + 2 * kAhead] + 1);
        if (i + kAhead <= count) {
            uint32_t input, offset;
            locate((uint32_t)suffixes[i + kAhead], input, offset);
            __builtin_prefetch(buffers.inputWords[input] + offset / 16);
        }
        uint32_t input, offset;
        locate((uint32_t)suffixes[i], input, offset);
        output.add(makePsaRecord(buffers.inputWords[input], input - origin, offset));
    }
}

}  // namespace

int64_t writeRunSuffixes(const std::string& path, const SortSettings& settings, const InputCatalogue& inputs,
                         int first, int end, int count, RunBuffers& buffers, SortTotals& totals) {
    const int len = end - first;
    FileDescriptor out(openTemporary(path));
    if (!out.ok()) fatal("can't open suffix file %s\n", path.c_str());
    BlockHasher hash;
    if (!gRun.quiet) fprintf(stderr, ", write %d .. ", count - len);

    SuffixOutput output{out.fd, &hash, buffers.out, buffers.outSize, 0, 0, &totals.flushes};
    const uint32_t origin = settings.zeroOrigin ? (uint32_t)first : 0;
    if (len == 1) {
        const uint32_t input = (uint32_t)first;
        emitRecords(output, buffers, len, count, origin, [input](uint32_t p, uint32_t& in, uint32_t& off) {
            in = input;
            off = p;
        });
    } else if (len == 2) {
        const uint32_t input = (uint32_t)first;
        const uint32_t firstLength = (uint32_t)inputs.lengths[first];
        emitRecords(output, buffers, len, count, origin,
                    [input, firstLength](uint32_t p, uint32_t& in, uint32_t& off) {
                        bool second = p > firstLength;
                        in = input + second;
                        off = second ? p - firstLength - 1 : p;
                    });
    } else if (len >= 3) {
        const uint32_t* map = buffers.map;
        emitRecords(output, buffers, len, count, origin, [map](uint32_t p, uint32_t& in, uint32_t& off) {
            off = map[p + 1];
            in = map[p - off];
        });
    }
    if (output.filled > 0) output.flush();

    int fd = out.fd;
    out.fd = -1;
    if (closeFile(fd) != 0) fatal("can't close suffix file %s\n", path.c_str());
    commitFile(path);
    totals.sums.push_back(hash.finish(path));
    return output.written;
}
