// The comparison of two suffixes on their packed inputs, for the pairs that the prefix
// words do not tell apart (compare.h).
// Time: O((LCP - h) / 32) word pairs; no extra memory.
#include "treebuild/compare.h"

bool comparePacked(BuildState& build, const PsaRecord& x, const PsaRecord& y, uint32_t rx, uint32_t ry, uint64_t h,
                   uint32_t* lcp) {
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
            return decided(wx > wy, h + 32 * static_cast<uint64_t>(j) + sharedBits(wx, wy), l, lcp);
        }
    }
    if (pairs > 0) c.packedWords += static_cast<double>(pairs);
    return prefixCase(x, y, rx, ry, lcp);
}

