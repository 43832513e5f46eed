// The order of all suffixes: lexicographic on their bit strings (two bits per base),
// a proper prefix first. Most pairs are told apart by the two prefix words that every
// record carries; the rest are compared word by word on the packed inputs, starting at
// a word boundary of x after the bits known to be shared.
// Time: O(1) when the prefix words decide, else O((LCP - known) / 32) word pairs; no
// extra memory.
#include <algorithm>

#include "treebuild/treebuild.h"

namespace {

// Leading bits shared by two different words.
inline uint32_t sharedBits(uint32_t a, uint32_t b) { return static_cast<uint32_t>(__builtin_clz(a ^ b)); }

// Outcome of a difference at bit `bit`: beyond the shorter suffix it only says that
// the shorter one is a prefix of the other.
inline bool decided(bool after, uint64_t bit, uint32_t shorter, bool wantLcp, uint32_t* lcp) {
    if (wantLcp) *lcp = bit >= shorter ? lcpValue(shorter, 0) : lcpValue(static_cast<uint32_t>(bit), 1);
    return after;
}

inline bool prefixCase(const PsaRecord& x, const PsaRecord& y, uint32_t rx, uint32_t ry, bool wantLcp,
                       uint32_t* lcp) {
    uint32_t shorter = std::min(rx, ry);
    if (wantLcp) {
        *lcp = lcpValue(shorter, 0);
        return rx > ry;
    }
    if (rx != ry) return rx > ry;
    return recordInput(x) > recordInput(y);
}

// The pairs that the prefix words do not tell apart, from bit h of both suffixes on.
[[gnu::noinline]] bool comparePacked(BuildState& build, const PsaRecord& x, const PsaRecord& y, uint32_t rx,
                                     uint32_t ry, uint64_t h, bool wantLcp, uint32_t* lcp) {
    MergeCounters& c = build.current;
    uint32_t l = std::min(rx, ry);
    uint64_t startX = 2ull * x.offset;
    int64_t pairs = (static_cast<int64_t>(l) - static_cast<int64_t>(h) - 1) >> 5;
    pairs += 1;
    uint64_t bitX = startX + h;
    uint64_t bitY = 2ull * y.offset + h;
    const uint32_t* px = build.packed[recordInput(x)] + (bitX >> 5);
    const uint32_t* py = build.packed[recordInput(y)] + (bitY >> 5);
    unsigned shiftX = static_cast<unsigned>(bitX & 31);
    unsigned shiftY = static_cast<unsigned>(bitY & 31);
    for (int64_t j = 0; j < pairs; j++) {
        uint32_t wx = shiftX ? (px[j] << shiftX) | (px[j + 1] >> (32 - shiftX)) : px[j];
        uint32_t wy = shiftY ? (py[j] << shiftY) | (py[j + 1] >> (32 - shiftY)) : py[j];
        if (wx != wy) {
            c.packedWords += static_cast<double>(j + 1);
            return decided(wx > wy, h + 32 * static_cast<uint64_t>(j) + sharedBits(wx, wy), l, wantLcp, lcp);
        }
    }
    if (pairs > 0) c.packedWords += static_cast<double>(pairs);
    return prefixCase(x, y, rx, ry, wantLcp, lcp);
}

}  // namespace

// Most calls end at the first prefix word; the packed words are compared out of line.
bool compareSuffixes(const BuildSettings& settings, BuildState& build, const PsaRecord& x, const PsaRecord& y,
                     uint32_t known, bool wantLcp, uint32_t* lcp) {
    MergeCounters& c = build.current;
    uint32_t rx = remainingBits(build, x);
    uint32_t ry = remainingBits(build, y);
    if (settings.noPrefix) return comparePacked(build, x, y, rx, ry, 0, wantLcp, lcp);
    uint32_t l = std::min(rx, ry);
    uint32_t words = ((l - 1) >> 5) + 1;  // l >= 2: every suffix holds at least one base
    if (x.prefix1 != y.prefix1) {
        c.firstWordDecisions++;
        c.prefixDecisions++;
        return decided(x.prefix1 > y.prefix1, sharedBits(x.prefix1, y.prefix1), l, wantLcp, lcp);
    }
    if (words == 1) {
        c.firstWordDecisions++;
        c.prefixDecisions++;
        return prefixCase(x, y, rx, ry, wantLcp, lcp);
    }
    if (x.prefix2 != y.prefix2) {
        c.prefixDecisions++;
        return decided(x.prefix2 > y.prefix2, 32 + sharedBits(x.prefix2, y.prefix2), l, wantLcp, lcp);
    }
    if (words == 2) {
        c.prefixDecisions++;
        return prefixCase(x, y, rx, ry, wantLcp, lcp);
    }
    // Resume on a word boundary of x at or below the known bits.
    uint64_t startX = 2ull * x.offset;
    uint64_t k = std::max<uint64_t>(known, 64);
    uint64_t h = ((startX + k) & ~uint64_t{31}) - startX;
    return comparePacked(build, x, y, rx, ry, h, wantLcp, lcp);
}
