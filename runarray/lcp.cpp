// LCP array of one run with Manzini's space-saving algorithm: a rank-next array built
// from the Burrows-Wheeler transform is overwritten in place with the LCP values while
// the text is walked in Kasai's order. Only the text, the suffix array and one array
// of 32-bit values are needed.
//
// Value for the suffix S of rank k against P of rank k-1, h = characters shared before
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

    // Counts and running starts of every byte value.
    uint32_t start[256] = {};
    for (int i = 0; i < n; i++) start[text[i]]++;
    uint32_t sum = 0;
    for (int b = 0; b < 256; b++) {
        uint32_t c = start[b];
        start[b] = sum;
        sum += c;
    }

    // Rank-next from the transform, in rank order: the suffix one position before the
    // suffix of rank k gets k. The empty suffix (rank 0) is preceded by the last byte.
    values[++start[text[n - 1]]] = 0;
    int rank = 0;  // rank of the whole text
    for (int k = 1; k <= n; k++) {
        int32_t p = suffixes[k];
        if (p != 0) values[++start[text[p - 1]]] = (uint32_t)k;
        else rank = k;
    }

    // LCP values in text order; h drops by at most one from one position to the next.
    uint32_t h = 0;
    for (int i = 0; i < n; i++) {
        uint32_t next = values[rank];
        if (rank >= 2) {
            const uint8_t* s = text + i;
            const uint8_t* p = text + suffixes[rank - 1];
            uint32_t value;
            for (;;) {
                uint8_t x = s[h], y = p[h];
                if (x == 0) { value = 4 * h; break; }
                if (x != y) { value = 4 * h + 2 * (kPair.of[x] == y) + (y != 0); break; }
                h++;
            }
            values[rank] = value;
        }
        if (h > 0) h--;
        rank = (int)next;
    }
}

void writeLcpFile(const std::string& path, const uint32_t* values, int len, int n) {
    FileDescriptor out(openFile(path.c_str(), 1));
    if (!out.ok()) fatal("can't open LCP file %s\n", path.c_str());
    int count = n - len;
    int64_t bytes = 4 * (int64_t)count;
    int64_t written = timedWriteChunked(out.fd, values + len + 1, (size_t)bytes);
    int fd = out.fd;
    out.fd = -1;
    int closed = closeFile(fd);
    if (written != bytes)
        fatal("can't write %d values to LCP file - only %lld written\n", count,
              (long long)(written > 0 ? written / 4 : 0));
    if (closed != 0) fatal("can't close LCP file %s\n", path.c_str());
}
