// The packed inputs, and one buffered stream per run over its .stpsa file (and its
// .stlcp file with -Z). Every record handed out has been checked against the
// catalogues, so the comparisons never read outside an input's packed words.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/packed_input.h"
#include "toolkit/run.h"
#include "treebuild/treebuild.h"

namespace {

constexpr uint32_t kLcpBufferValues = 131072;
// Records per block read at most, whatever B allows: the page cache already holds the
// runs' files, so larger blocks only add memory that is touched once per record.
constexpr uint32_t kBlockRecords = 65536;
constexpr uint32_t kPrefetchAhead = 8;

// Reads `size` bytes at `offset` (or from the open descriptor); a failed read is an
// error naming the file, never the end of the stream.
void readBlock(int fd, bool positioned, void* buffer, size_t size, int64_t offset, const char* path) {
    const ssize_t got = readAll(fd, buffer, size, positioned ? offset : -1);
    if (got < 0)
        fatal("can't read %zu bytes at byte %lld of %s: %s\n", size, static_cast<long long>(offset), path,
              strerror(errno));
    if (static_cast<size_t>(got) < size)
        fatal("%s ended at byte %lld, before its last %zu bytes (was it changed during the merge?)\n", path,
              static_cast<long long>(offset + got), size - static_cast<size_t>(got));
}

void fillRecords(Stream& st) {
    int64_t left = st.total - st.consumed;
    uint32_t want = left < st.capacity ? static_cast<uint32_t>(left) : st.capacity;
    size_t bytes = static_cast<size_t>(want) * sizeof(PsaRecord);
    int64_t offset = st.consumed * static_cast<int64_t>(sizeof(PsaRecord));
    if (st.file.ok()) {
        readBlock(st.file.fd, false, st.records, bytes, offset, st.psaPath.c_str());
        st.psaCheck.check(static_cast<uint64_t>(offset), bytes, st.records, st.file.fd);
    } else {
        FileDescriptor file(openFile(st.psaPath.c_str(), 0));
        if (!file.ok()) fatal("can't open Suffix file %s\n", st.psaPath.c_str());
        readBlock(file.fd, true, st.records, bytes, offset, st.psaPath.c_str());
        st.psaCheck.check(static_cast<uint64_t>(offset), bytes, st.records, file.fd);
    }
    st.consumed += want;
    st.held = want;
    st.index = 0;
}

// Starts loading the packed words of a record's suffix past its prefix words (records
// not yet checked: only one inside the catalogues).
inline void prefetchPacked(const BuildState& build, const Stream& st, const PsaRecord& r) {
    uint32_t input = (r.word0 >> 2) + st.inputOffset;
    if (input < static_cast<uint32_t>(build.numInputs) && r.offset < static_cast<uint32_t>(build.lengths[input]))
        __builtin_prefetch(build.packed[input] + ((2ull * r.offset + 64) >> 5));
}

}  // namespace

void loadPackedInputs(BuildState& build) {
    BuildState& b = build;
    b.packed = static_cast<uint32_t**>(trackedMalloc(sizeof(uint32_t*) * (b.numInputs > 0 ? b.numInputs : 1)));
    if (!b.packed) fatal("can't allocate the table of %d packed inputs\n", b.numInputs);
    for (int i = 0; i < b.numInputs; i++) {
        std::string path = dataSetPath(b.inputBase, FileKind::packed, i);
        int32_t bits = b.bitLengths[i];
        size_t words = packedWords(bits);
        uint32_t* packed = static_cast<uint32_t*>(trackedMalloc((words + 1) * sizeof(uint32_t)));
        if (!packed) fatal("can't allocate %zu words for packed input %d\n", words + 1, i);
        size_t got = 0;
        switch (readPackedInput(path.c_str(), packed, bits, &got, &b.inputSums)) {
            case PackedRead::cannotOpen: fatal("can't open input string binary file %s\n", path.c_str());
            case PackedRead::shortFile: fatal("binary string %d reading error\n", i);
            case PackedRead::failed:  // kept only for a caller that passes a fault
            case PackedRead::whole: break;
        }
        packed[words] = 0;
        b.packed[i] = packed;
    }
}

void openStreamFiles(const BuildState& build, SuffixStreams& streams) {
    const BuildState& b = build;
    streams.streams.resize(static_cast<size_t>(b.numStreams));
    for (int s = 0; s < b.numStreams; s++) {
        Stream& st = streams.streams[static_cast<size_t>(s)];
        st.psaPath = dataSetPath(b.suffixBase, FileKind::runs, s);
        st.file.reset(openFile(st.psaPath.c_str(), 0));
        if (!st.file.ok()) fatal("can't open Suffix file %s\n", st.psaPath.c_str());
    }
}

void closeStreamFiles(SuffixStreams& streams) {
    for (Stream& st : streams.streams) st.file.reset();
}

void openStreams(const BuildSettings& settings, const BuildState& build, SuffixStreams& streams) {
    const BuildState& b = build;
    const BuildSettings& set = settings;
    streams.noPrefix = settings.noPrefix != 0;
    streams.streams.resize(static_cast<size_t>(b.numStreams));
    for (int s = 0; s < b.numStreams; s++) {
        Stream& st = streams.streams[static_cast<size_t>(s)];
        st.psaPath = dataSetPath(b.suffixBase, FileKind::runs, s);
        int64_t size = fileSizeByStat(st.psaPath.c_str());
        if (size < 0) fatal("can't open Suffix file %s\n", st.psaPath.c_str());
        if (size % static_cast<int64_t>(sizeof(PsaRecord)))
            fatal("Suffix file %s holds %lld bytes, not a whole number of 16-byte records\n", st.psaPath.c_str(),
                  static_cast<long long>(size));
        st.total = size / static_cast<int64_t>(sizeof(PsaRecord));
        st.psaCheck.attach(&b.runSums, st.psaPath, size);
        st.firstInput = static_cast<uint32_t>(b.streamFirstInput[s]);
        st.inputCount = static_cast<uint32_t>(b.streamInputCount[s]);
        // A run holds one record per base of its inputs: a record short loses an
        // occurrence, one too many repeats one, and neither shows in the merge.
        int64_t suffixes = 0;
        for (uint32_t i = 0; i < st.inputCount; i++) suffixes += b.lengths[st.firstInput + i];
        if (st.total != suffixes) {
            std::string catalogues = "\"" + b.lengthsPath + "\"";
            if (b.numParts > 0) catalogues += " and \"" + b.partitionsPath + "\"";
            fatal("Suffix file %s holds %lld records, but the inputs %u to %d of its run hold %lld bases (%s)\n",
                  st.psaPath.c_str(), static_cast<long long>(st.total), st.firstInput,
                  static_cast<int>(st.firstInput + st.inputCount) - 1, static_cast<long long>(suffixes),
                  catalogues.c_str());
        }
        st.inputOffset = set.zeroOrigin ? st.firstInput : 0;
        st.capacity = std::min(b.bufferRecords, kBlockRecords);
        if (st.total < st.capacity) st.capacity = st.total > 0 ? static_cast<uint32_t>(st.total) : 1u;
        st.records = static_cast<PsaRecord*>(trackedMalloc(sizeof(PsaRecord) * st.capacity));
        if (!st.records) fatal("can't allocate %u suffixes for the buffer of stream %d\n", st.capacity, s);
        if (set.manzini) {
            st.lcpPath = dataSetPath(b.suffixBase, FileKind::runLcp, s);
            int64_t lcpSize = fileSizeByStat(st.lcpPath.c_str());
            if (lcpSize < 0) fatal("can't open LCP file %s\n", st.lcpPath.c_str());
            if (lcpSize != st.total * 4)
                fatal("LCP file %s holds %lld bytes, but its Suffix file %s holds %lld records (%lld bytes of LCP "
                      "values expected)\n",
                      st.lcpPath.c_str(), static_cast<long long>(lcpSize), st.psaPath.c_str(),
                      static_cast<long long>(st.total), static_cast<long long>(st.total * 4));
            st.lcpCheck.attach(&b.runSums, st.lcpPath, lcpSize);
            st.lcpCapacity = st.total < kLcpBufferValues ? static_cast<uint32_t>(st.total > 0 ? st.total : 1)
                                                         : kLcpBufferValues;
            st.lcps = static_cast<uint32_t*>(trackedMalloc(sizeof(uint32_t) * st.lcpCapacity));
            if (!st.lcps) fatal("can't allocate the LCP buffer of stream %d\n", s);
            st.lcpIndex = st.lcpHeld = 0;
        }
    }
}

const PsaRecord* nextRecord(SuffixStreams& streams, const BuildState& build, int s) {
    Stream& st = streams.streams[static_cast<size_t>(s)];
    if (st.index >= st.held) {
        if (st.consumed >= st.total) return nullptr;
        fillRecords(st);
    }
    const PsaRecord& raw = st.records[st.index];
    uint32_t input = (raw.word0 >> 2) + st.inputOffset;
    // A corrupt record must not lead the comparisons outside the packed inputs.
    if (input - st.firstInput >= st.inputCount || raw.offset >= static_cast<uint32_t>(build.lengths[input]))
        fatal("corrupt record %lld of Suffix file %s: input %u, offset %u lies outside the inputs %u to %d "
              "of this run\n",
              static_cast<long long>(st.consumed - st.held + st.index), st.psaPath.c_str(), raw.word0 >> 2,
              raw.offset, st.firstInput - st.inputOffset,
              static_cast<int>(st.firstInput - st.inputOffset + st.inputCount) - 1);
    st.current = raw;
    st.current.word0 = (input << 2) | (raw.word0 & 3u);
    st.index++;
    // The next records of a stream are compared with their predecessors soon after,
    // past their prefix words only when those agree (or are ignored): then start
    // loading the packed words of both now. Most pairs need no packed word at all.
    if (st.index + kPrefetchAhead < st.held) {
        const PsaRecord& ahead = st.records[st.index + kPrefetchAhead];
        const PsaRecord& before = (&ahead)[-1];
        if ((ahead.prefix1 == before.prefix1 && ahead.prefix2 == before.prefix2) || streams.noPrefix) {
            prefetchPacked(build, st, ahead);
            prefetchPacked(build, st, before);
        }
    }
    return &st.current;
}

void streamOutOfOrder(const SuffixStreams& streams, int s) {
    const Stream& st = streams.streams[static_cast<size_t>(s)];
    long long record = static_cast<long long>(st.consumed - st.held + st.index) - 1;
    fatal("Suffix file %s is out of order: record %lld sorts before record %lld\n", st.psaPath.c_str(), record,
          record - 1);
}

uint32_t nextLcp(SuffixStreams& streams, int s) {
    Stream& st = streams.streams[static_cast<size_t>(s)];
    if (st.lcpIndex >= st.lcpHeld) {
        int64_t left = st.total - st.lcpConsumed;
        if (left <= 0) fatal("LCP file %s holds fewer values than its Suffix file\n", st.lcpPath.c_str());
        uint32_t want = left < st.lcpCapacity ? static_cast<uint32_t>(left) : st.lcpCapacity;
        FileDescriptor file(openFile(st.lcpPath.c_str(), 0));
        if (!file.ok()) fatal("can't open LCP file %s\n", st.lcpPath.c_str());
        readBlock(file.fd, true, st.lcps, want * sizeof(uint32_t), st.lcpConsumed * 4, st.lcpPath.c_str());
        st.lcpCheck.check(static_cast<uint64_t>(st.lcpConsumed) * 4, want * sizeof(uint32_t), st.lcps, file.fd);
        st.lcpConsumed += want;
        st.lcpHeld = want;
        st.lcpIndex = 0;
    }
    return st.lcps[st.lcpIndex++];
}

void removeRunFiles(const BuildState& build, const SuffixStreams& streams) {
    int removed = 0;
    auto removeFile = [&removed](const std::string& path) {
        if (std::remove(path.c_str()) == 0)
            removed++;
        else if (errno != ENOENT)  // a run without an LCP file has nothing to remove
            fatal("can't remove run file %s: %s\n", path.c_str(), strerror(errno));
    };
    // Every file runarray writes per run (the suffix arrays and LCP arrays), run by run;
    // the partitions catalogue stays.
    for (size_t s = 0; s < streams.streams.size(); s++)
        for (const FileKindRow& kind : kFileKinds)
            if (kind.count == FileCount::perRun)
                removeFile(dataSetPath(build.suffixBase, kind.kind, static_cast<int>(s)));
    // The runs' checksum file would list files that are gone.
    removeFile(dataSetPath(build.suffixBase, FileKind::runSums));
    if (!gRun.quiet) note("removed %d run files\n", removed);
}
