// LCP array of one run, space-saving and in place: the permuted LCP method of Karkkainen,
// Manzini and Puglisi. One array of 32-bit values, indexed by text position, first holds
// for every suffix the start of the suffix just before it in the sorted order (phi); the
// text is then walked from left to right (Kasai's order), each slot's phi read just
// before the slot receives that suffix's LCP value; last the values are written in suffix
// order. Unlike a walk of rank-next links, no load waits for the one before it, which
// keeps the walk several times faster on genomes that do not fit in the caches. Besides
// the text and the suffix array only the one array and a small write buffer are needed.
// Linear time. With T threads each walks its own stretch of the text, starting again
// from h = 0 (at most one extra comparison run per stretch), and the file is written
// in pieces that each thread fills and writes at their place; T write buffers.
//
// Value for the suffix S against P, the suffix before it, h = characters shared before
// either reaches its input's end or they differ:
//   bits 31-2  h
//   bit 1      pair bit: S has a base x at h and P's byte at h is pair(x) (a/c, g/t)
//   bit 0      continuation bit: both have a base at h (they differ at a real base)
// so the value is 2 x (bit LCP) + continuation, bit LCP = 2h + pair bit.
#include <cstdio>

#include "runarray/pieces.h"
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

namespace {

// LCP values of text positions from .. to-1 (all below last), phi in values[from .. to-1].
void walkLcp(const uint8_t* text, uint32_t* values, int from, int to) {
    // h drops by at most one from one position to the next, also with the comparison
    // stopped at each input's end; a stretch starts knowing nothing (h = 0).
    uint32_t h = 0;
    constexpr int kAhead = 16;  // the predecessors' texts are read at random: fetch ahead
    for (int i = from; i < to; i++) {
        // Only this stretch's phi values: the next stretch's may already be LCP values.
        if (i + kAhead < to) __builtin_prefetch(text + values[i + kAhead] + h);
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

}  // namespace

void computeLcp(const uint8_t* text, const int32_t* suffixes, uint32_t* values, int n, int threads) {
    if (n <= 0) return;
    if (threads < 1) threads = 1;

    // Phi: the suffix of rank k-1 for the suffix of rank k. Rank 1, the last separator
    // alone, has none; it is the last position of the walk and gets the value 0.
    values[suffixes[1]] = 0;
    shareWork(threads, [&](int t) {
        int from = 2 + (int)((int64_t)(n - 1) * t / threads), to = 2 + (int)((int64_t)(n - 1) * (t + 1) / threads);
        for (int k = from; k < to; k++) values[suffixes[k]] = (uint32_t)suffixes[k - 1];
    });

    // LCP values in text order, each thread a stretch of the text.
    const int last = n - 1;  // position of rank 1
    shareWork(threads, [&](int t) {
        walkLcp(text, values, (int)((int64_t)last * t / threads), (int)((int64_t)last * (t + 1) / threads));
    });
}

bool writeLcpFile(const std::string& path, const uint32_t* values, const int32_t* suffixes, int len, int n,
                  uint32_t* chunk, int chunkSize, int threads, RunReport& report) {
    FileDescriptor out(openTemporary(path));
    if (!out.ok()) return failWorker(report.status, "can't open LCP file %s\n", path.c_str());
    report.madeLcp = true;
    BlockHasher hash;
    int count = n - len;
    // Suffix order, ranks len+1 .. n: the separators' own values are not kept.
    auto fill = [&](int64_t from, int fill, uint32_t* into) {
        const int32_t* rank = suffixes + len + 1 + from;
        for (int j = 0; j < fill; j++) into[j] = values[rank[j]];
    };
    PiecesWritten done = writePieces(out.fd, count, chunkSize, chunk, threads, hash, fill);
    int64_t written = 4 * done.items + (done.failedBytes > 0 ? done.failedBytes : 0);
    int fd = out.fd;
    out.fd = -1;
    int closed = closeFile(fd);
    if (done.failedPiece >= 0)
        return failWorker(report.status, "can't write %d values to LCP file - only %lld written\n", count,
                    (long long)(written / 4));
    if (closed != 0) return failWorker(report.status, "can't close LCP file %s\n", path.c_str());
    return commitRunFile(path, hash, done.hashed, report);
}
