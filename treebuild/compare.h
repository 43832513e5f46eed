// The order of all suffixes: lexicographic on their bit strings (two bits per base),
// a proper prefix first. Most pairs are told apart by the two prefix words that every
// record carries (compareSuffixes, inline: the merge calls it once or more per suffix);
// the rest are compared word by word on the packed inputs (comparePacked, compare.cpp),
// starting at a word boundary of x after the bits known to be shared.
// Time: O(1) when the prefix words decide, else O((LCP - known) / 32) word pairs; no
// extra memory.
#pragma once

#include <algorithm>

#include "treebuild/treebuild.h"

// Leading bits shared by two different words.
inline uint32_t sharedBits(uint32_t a, uint32_t b) { return static_cast<uint32_t>(__builtin_clz(a ^ b)); }

// Outcome of a difference at bit `bit`: beyond the shorter suffix it only says that
// the shorter one is a prefix of the other.
inline bool decided(bool after, uint64_t bit, uint32_t shorter, uint32_t* lcp) {
    if (lcp) *lcp = bit >= shorter ? lcpValue(shorter, 0) : lcpValue(static_cast<uint32_t>(bit), 1);
    return after;
}

inline bool prefixCase(const PsaRecord& x, const PsaRecord& y, uint32_t rx, uint32_t ry, uint32_t* lcp) {
    uint32_t shorter = std::min(rx, ry);
    if (lcp) {
        *lcp = lcpValue(shorter, 0);
        return rx > ry;
    }
    if (rx != ry) return rx > ry;
    return recordInput(x) > recordInput(y);
}

// The pairs that the prefix words do not tell apart, from bit h of both suffixes on
// (rx, ry: the suffixes' remaining bits).
bool comparePacked(BuildState& build, const PsaRecord& x, const PsaRecord& y, uint32_t rx, uint32_t ry, uint64_t h,
                   uint32_t* lcp);

// Returns whether x sorts after y; unless lcp is null, *lcp receives their LCP value
// (and identical suffixes are then not ordered by input number). `known` leading bits
// are known to be shared. Counts its decisions in build.current. Most calls end at the
// first prefix word; the packed words are compared out of line.
inline bool compareSuffixes(const BuildSettings& settings, BuildState& build, const PsaRecord& x,
                            const PsaRecord& y, uint32_t known, uint32_t* lcp) {
    MergeCounters& c = build.current;
    uint32_t rx = remainingBits(build, x);
    uint32_t ry = remainingBits(build, y);
    if (settings.noPrefix) return comparePacked(build, x, y, rx, ry, 0, lcp);
    uint32_t l = std::min(rx, ry);
    uint32_t words = ((l - 1) >> 5) + 1;  // l >= 2: every suffix holds at least one base
    if (x.prefix1 != y.prefix1) {
        c.firstWordDecisions++;
        c.prefixDecisions++;
        return decided(x.prefix1 > y.prefix1, sharedBits(x.prefix1, y.prefix1), l, lcp);
    }
    if (words == 1) {
        c.firstWordDecisions++;
        c.prefixDecisions++;
        return prefixCase(x, y, rx, ry, lcp);
    }
    if (x.prefix2 != y.prefix2) {
        c.prefixDecisions++;
        return decided(x.prefix2 > y.prefix2, 32 + sharedBits(x.prefix2, y.prefix2), l, lcp);
    }
    if (words == 2) {
        c.prefixDecisions++;
        return prefixCase(x, y, rx, ry, lcp);
    }
    // Resume on a word boundary of x at or below the known bits.
    uint64_t startX = 2ull * x.offset;
    uint64_t k = std::max<uint64_t>(known, 64);
    uint64_t h = ((startX + k) & ~uint64_t{31}) - startX;
    return comparePacked(build, x, y, rx, ry, h, lcp);
}
