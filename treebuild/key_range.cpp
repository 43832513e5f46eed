// One key range of the global suffix order, built on its own: the range's slice of
// every run (-K), the part it is written under (-P), and the ranges themselves, cut
// from samples of the runs so that they hold about as many suffixes each (-Q).
//
// A suffix's key is its first k bases, two bits each, as prefix word 1 holds them.
// Prefix word 1 never decreases along a sorted run (a suffix that ends early reads
// as if followed by the lowest code), so the keys of a range are one slice of each
// run, found by binary search: O(log n) record reads per run. -Q reads one record
// per sample, O(s log s) for s samples; extra memory O(s).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treebuild/treebuild.h"

namespace {

constexpr int kMaxKeyBases = 16;
// Keys sampled for -Q over all runs: the ranges' sizes then stray by a few parts
// in a thousand, for one 4 KiB page read per sample.
constexpr int64_t kKeySamples = 1 << 16;
constexpr const char kBaseLetters[] = "ACGT";

uint64_t keyLimit(int bases) { return uint64_t(1) << (2 * bases); }

// Reads record `index` of a run's .stpsa file.
PsaRecord readRecordAt(int fd, int64_t index, const std::string& path) {
    PsaRecord record{};
    off_t at = static_cast<off_t>(index * static_cast<int64_t>(sizeof record));
    if (lseek(fd, at, SEEK_SET) != at || readFully(fd, &record, sizeof record, path.c_str()) != sizeof record)
        fatal("can't read record %lld of Suffix file %s\n", static_cast<long long>(index), path.c_str());
    return record;
}

// The first record of the stream's file whose key is at least `key`.
int64_t firstAtLeast(Stream& st, int fd, uint64_t key, int bases) {
    int64_t low = 0, high = st.total;
    while (low < high) {
        int64_t middle = low + (high - low) / 2;
        PsaRecord record = readRecordAt(fd, middle, st.psaPath);
        st.psaCheck.check(static_cast<uint64_t>(middle) * sizeof record, sizeof record, nullptr, fd);
        if (recordKey(record, bases) < key)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// The key of `text` (base letters, either case); fatal naming `whole` when a
// character is not a base.
uint64_t keyOf(const std::string& text, const char* whole) {
    uint64_t key = 0;
    for (char c : text) {
        const char* at = c ? strchr(kBaseLetters, c & ~0x20) : nullptr;
        if (!at) fatal("key range \"%s\" (-K): '%c' is not one of A, C, G, T\n", whole, c);
        key = key << 2 | static_cast<uint64_t>(at - kBaseLetters);
    }
    return key;
}

std::string lettersOf(uint64_t key, int bases) {
    std::string text(static_cast<size_t>(bases), 'A');
    for (int i = bases - 1; i >= 0; i--, key >>= 2) text[static_cast<size_t>(i)] = kBaseLetters[key & 3];
    return text;
}

}  // namespace

KeyRange parseKeyRange(const char* text) {
    const char* dash = strchr(text, ':');
    if (!dash || strchr(dash + 1, ':'))
        fatal("key range \"%s\" (-K) is not <from>:<to>, eg. ACG:CTT, :CTT or ACG:\n", text);
    std::string from(text, dash), to(dash + 1);
    KeyRange range;
    range.bases = static_cast<int>(std::max(from.size(), to.size()));
    if (range.bases == 0) range.bases = 1;
    if (range.bases > kMaxKeyBases || (!from.empty() && !to.empty() && from.size() != to.size()))
        fatal("key range \"%s\" (-K): both ends need the same number of bases, at most %d\n", text, kMaxKeyBases);
    range.low = from.empty() ? 0 : keyOf(from, text);
    range.high = to.empty() ? keyLimit(range.bases) : keyOf(to, text);
    if (range.low > range.high) fatal("key range \"%s\" (-K) ends before it starts\n", text);
    return range;
}

std::string formatKeyRange(const KeyRange& range) {
    std::string text = range.low == 0 ? "" : lettersOf(range.low, range.bases);
    text += ':';
    if (range.high < keyLimit(range.bases)) text += lettersOf(range.high, range.bases);
    return text;
}

std::string partBase(const std::string& outputBase, const std::string& name) {
    return formatPath(kPathLimit, "%s.part-%s", outputBase.c_str(), name.c_str());
}

void usePartPaths(const BuildSettings& settings, BuildState& build) {
    if (strchr(settings.partName, '/') || !settings.partName[0])
        fatal("part name \"%s\" (-P) must be a non-empty name without '/'\n", settings.partName);
    build.outputBase = partBase(build.outputBase, settings.partName);
    build.dividersPath = dataSetPath(build.outputBase, FileKind::dividers);
}

void sliceStreams(const KeyRange& range, const BuildSettings& settings, SuffixStreams& streams) {
    for (Stream& st : streams.streams) {
        FileDescriptor file(openFile(st.psaPath.c_str(), 0));
        if (!file.ok()) fatal("can't open Suffix file %s\n", st.psaPath.c_str());
        int64_t first = firstAtLeast(st, file.fd, range.low, range.bases);
        int64_t end = range.high >= keyLimit(range.bases) ? st.total : firstAtLeast(st, file.fd, range.high, range.bases);
        st.consumed = first;
        st.lcpConsumed = first;
        st.total = std::max(first, end);
        // -f reads each stream on from where its descriptor stands.
        off_t at = static_cast<off_t>(first * static_cast<int64_t>(sizeof(PsaRecord)));
        if (st.file.ok() && lseek(st.file.fd, at, SEEK_SET) != at)
            fatal("can't seek to record %lld of Suffix file %s\n", static_cast<long long>(first), st.psaPath.c_str());
        if (gRun.verbose)
            note("key range %s: records %lld to %lld of %s\n", settings.keyRange, static_cast<long long>(first),
                 static_cast<long long>(st.total), st.psaPath.c_str());
    }
}

std::vector<KeyRange> splitKeys(std::vector<uint64_t> samples, int count) {
    std::sort(samples.begin(), samples.end());
    std::vector<KeyRange> ranges(static_cast<size_t>(std::max(count, 1)));
    uint64_t low = 0;
    const size_t n = samples.size();
    for (size_t r = 0; r < ranges.size(); r++) {
        KeyRange& range = ranges[r];
        range.bases = kMaxKeyBases;
        range.low = low;
        // Range r ends at the key of sample (r + 1) n / count; the cuts never go back,
        // so a key held by many samples leaves the ranges after it empty.
        uint64_t high = keyLimit(kMaxKeyBases);
        if (r + 1 < ranges.size() && n > 0) high = std::max(low, samples[(r + 1) * n / ranges.size()]);
        range.high = high;
        low = high;
    }
    return ranges;
}

void printKeyRanges(const BuildSettings& settings, SuffixStreams& streams) {
    int64_t total = 0;
    for (const Stream& st : streams.streams) total += st.total;
    std::vector<uint64_t> samples;
    for (const Stream& st : streams.streams) {
        if (st.total == 0) continue;
        int64_t taken = std::max<int64_t>(1, total <= kKeySamples ? st.total : st.total * kKeySamples / total);
        FileDescriptor file(openFile(st.psaPath.c_str(), 0));
        if (!file.ok()) fatal("can't open Suffix file %s\n", st.psaPath.c_str());
        // Sample i stands for the records around (i + 1/2) / taken of the run.
        for (int64_t i = 0; i < taken; i++)
            samples.push_back(readRecordAt(file.fd, (2 * i + 1) * st.total / (2 * taken), st.psaPath).prefix1);
    }
    for (const KeyRange& range : splitKeys(std::move(samples), settings.rangeCount))
        printf("%s\n", formatKeyRange(range).c_str());
    if (fflush(stdout) != 0 || ferror(stdout)) fatal("can't write the key ranges to standard output\n");
}
