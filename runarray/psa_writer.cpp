// The prefixed suffix array of one run: packed inputs, prefix words and preceding
// codes, and the .stpsa file written through the output buffer.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runarray/pieces.h"
#include "runarray/runarray.h"
#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/packed_input.h"
#include "toolkit/run.h"

bool loadPackedInputs(const DataSetPaths& paths, const InputCatalogue& inputs, int first, int end,
                      RunBuffers& buffers, RunReport& report) {
    uint32_t* place = buffers.packed;
    for (int k = first; k < end; k++) {
        int32_t words = inputs.words[k];
        // Two zero words after each input keep every prefix inside its own input.
        if ((place - buffers.packed) + (int64_t)words + 2 > buffers.packedWords)
            return failWorker(report.status, "binary buffer not big enough! k=%d l=%d\n", k, end);
        buffers.inputWords[k] = place;
        std::string path = dataSetPath(paths.base, FileKind::packed, k);
        size_t got = 0;
        switch (readPackedInput(path.c_str(), place, inputs.bitLengths[k], &got, &inputs.sums, &report.status)) {
            case PackedRead::cannotOpen: return failWorker(report.status, "bad open: can't open %s\n", path.c_str());
            case PackedRead::shortFile:
                return failWorker(report.status, "bad read, file %s: %d in, %d out\n", path.c_str(), words, (int)(got / 4));
            case PackedRead::failed: return false;
            case PackedRead::whole: break;
        }
        place[words] = 0;
        place[words + 1] = 0;
        place += words + 2;
    }
    return true;
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

// Makes the records of output places from .. from+count-1 (suffix-array slots
// len+1+from ..); `locate` turns a run-text position into (input, offset).
template <class Locate>
void makeRecords(PsaRecord* records, int64_t from, int count, const RunBuffers& buffers, int len, int runCount,
                 uint32_t origin, Locate locate) {
    // The suffixes come in sorted order, so their packed words (and map slots) are read
    // at random: fetch them a few suffixes ahead.
    constexpr int kAhead = 16;
    const int32_t* suffixes = buffers.suffixes;
    const uint32_t* map = len >= 3 ? buffers.map : nullptr;
    const int firstSlot = len + 1 + (int)from;
    for (int j = 0; j < count; j++) {
        int i = firstSlot + j;
        if (i + 2 * kAhead <= runCount && map) __builtin_prefetch(map + suffixes[i + 2 * kAhead] + 1);
        if (i + kAhead <= runCount) {
            uint32_t input, offset;
            locate((uint32_t)suffixes[i + kAhead], input, offset);
            __builtin_prefetch(buffers.inputWords[input] + offset / 16);
        }
        uint32_t input, offset;
        locate((uint32_t)suffixes[i], input, offset);
        records[j] = makePsaRecord(buffers.inputWords[input], input - origin, offset);
    }
}

template <class Locate>
PiecesWritten writeRecords(int fd, const RunBuffers& buffers, int len, int count, uint32_t origin, BlockHasher& hash,
                           Locate locate) {
    auto fill = [&](int64_t from, int n, PsaRecord* records) {
        makeRecords(records, from, n, buffers, len, count, origin, locate);
    };
    return writePieces(fd, (int64_t)count - len, buffers.outSize, buffers.out, buffers.helpers, hash, fill);
}

}  // namespace

bool writeRunSuffixes(const std::string& path, const SortSettings& settings, const InputCatalogue& inputs,
                      int first, int end, int count, RunBuffers& buffers, RunReport& report) {
    const int len = end - first;
    FileDescriptor out(openTemporary(path));
    if (!out.ok()) return failWorker(report.status, "can't open suffix file %s\n", path.c_str());
    report.madePsa = true;
    BlockHasher hash;
    say(report, ", write %d .. ", count - len);

    const uint32_t origin = settings.zeroOrigin ? (uint32_t)first : 0;
    PiecesWritten done;
    if (len == 1) {
        const uint32_t input = (uint32_t)first;
        done = writeRecords(out.fd, buffers, len, count, origin, hash, [input](uint32_t p, uint32_t& in, uint32_t& off) {
            in = input;
            off = p;
        });
    } else if (len == 2) {
        const uint32_t input = (uint32_t)first;
        const uint32_t firstLength = (uint32_t)inputs.lengths[first];
        done = writeRecords(out.fd, buffers, len, count, origin, hash,
                            [input, firstLength](uint32_t p, uint32_t& in, uint32_t& off) {
                                bool second = p > firstLength;
                                in = input + second;
                                off = second ? p - firstLength - 1 : p;
                            });
    } else if (len >= 3) {
        const uint32_t* map = buffers.map;
        done = writeRecords(out.fd, buffers, len, count, origin, hash, [map](uint32_t p, uint32_t& in, uint32_t& off) {
            off = map[p + 1];
            in = map[p - off];
        });
    }
    report.flushes += done.pieces;
    report.written = done.items;
    if (done.failedPiece >= 0) return failWorker(report.status, "failed to write %d Suffixes\n", (int)done.failedItems);

    int fd = out.fd;
    out.fd = -1;
    if (closeFile(fd) != 0) return failWorker(report.status, "can't close suffix file %s\n", path.c_str());
    return commitRunFile(path, hash, done.hashed, report);
}
