// LCP array of one run, space-saving and in place: the permuted LCP method of Karkkainen,
// Manzini and Puglisi. One array of 32-bit values, indexed by text position, first holds
// for every suffix the start of the suffix just before it in the sorted order (phi); the
// text is then walked from left to right (Kasai's order), each slot's phi read just
// before the slot receives that suffix's LCP value; last the values are written in suffix
// order. Unlike a walk of rank-next links, no load waits for the one before it, which
// keeps the walk several times faster on genomes that do not fit in the caches. Besides
// the text and the suffix array only the one array and a small write buffer are needed.
//
// Value for the suffix S against P, the suffix before it, h = characters shared before
// either reaches its input's end or they differ:
//   bits 31-2  h
//   bit 1      pair bit: S has a base x at h and P's byte at h is pair(x) (a/c, g/t)
//   bit 0      continuation bit: both have a base at h (they differ at a real base)
// so the value is 2 x (bit LCP) + continuation, bit LCP = 2h + pair bit.
#include <cstdio>

#include "runarray/runarray.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

namespace {

// Bases whose 2-bit codes share the high bit: a/c and g/t. Both cases are paired, so
// that upper-case data sets get the same exact bit LCPs as lower-case ones.
struct PairTable {
    uint8_t of[256] = {};
    constexpr PairTable() {
        of['a'] = 'c'; of['c'] = 'a'; of['g'] = 't'; of['t'] = 'g';
        of['A'] = 'C'; of['C'] = 'A'; of['G'] = 'T'; of['T'] = 'G';
    }
};
constexpr PairTable kPair;

}  // namespace

void computeLcp(const uint8_t* text, const int32_t* suffixes, uint32_t* values, int n) {
    if (n <= 0) return;

    // Phi: the suffix of rank k-1 for the suffix of rank k. Rank 1, the last separator
    // alone, has none; it is the last position of the walk and gets the value 0.
    values[suffixes[1]] = 0;
    for (int k = 2; k <= n; k++) values[suffixes[k]] = (uint32_t)suffixes[k - 1];

    // LCP values in text order; h drops by at most one from one position to the next,
    // also with the comparison stopped at each input's end.
    uint32_t h = 0;
    const int last = n - 1;  // position of rank 1
    constexpr int kAhead = 16;  // the predecessors' texts are read at random: fetch ahead
    for (int i = 0; i < last; i++) {
        if (i + kAhead < last) __builtin_prefetch(text + values[i + kAhead] + h);
        const uint8_t* s = text + i;
        const uint8_t* p = text + values[i];
        uint32_t value;
        for (;;) {
            uint8_t x = s[h], y = p[h];
            if (x == 0) { value = 4 * h; break; }
            if (x != y) { value = 4 * h + 2 * (kPair.of[x] == y) + (y != 0); break; }
            h++;
        }
        values[i] = value;
        if (h > 0) h--;
    }
}

void writeLcpFile(const std::string& path, const uint32_t* values, const int32_t* suffixes, int len, int n,
                  uint32_t* chunk, int chunkSize, std::vector<ChecksumEntry>& sums) {
    FileDescriptor out(openTemporary(path));
    BlockHasher hash;
    if (!out.ok()) fatal("can't open LCP file %s\n", path.c_str());
    int count = n - len;
    int64_t written = 0;
    // Suffix order, ranks len+1 .. n: the separators' own values are not kept.
    for (int k = len + 1; k <= n;) {
        int fill = 0;
        for (; fill < chunkSize && k <= n; fill++, k++) chunk[fill] = values[suffixes[k]];
        int64_t bytes = 4 * (int64_t)fill;
        int64_t got = timedWriteChunked(out.fd, chunk, (size_t)bytes);
        if (got > 0) written += got;
        if (got != bytes) break;
        hash.add(chunk, (size_t)bytes);
    }
    int fd = out.fd;
    out.fd = -1;
    int closed = closeFile(fd);
    if (written != 4 * (int64_t)count)
        fatal("can't write %d values to LCP file - only %lld written\n", count, (long long)(written / 4));
    if (closed != 0) fatal("can't close LCP file %s\n", path.c_str());
    commitFile(path);
    sums.push_back(hash.finish(path));
}
