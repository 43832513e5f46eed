// Bases as the toolkit stores them, computed the slow way for the tests: base codes,
// packed words, prefix words, suffix records, suffix orders and the two LCP values
// (of the runs and of the merge).
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/records.h"

namespace testsupport {

// a 0, c 1, g 2, t 3 in either case; anything else counts as t.
inline uint32_t baseCode(char c) {
    switch (c | 0x20) {
        case 'a': return 0;
        case 'c': return 1;
        case 'g': return 2;
        default: return 3;
    }
}

// Bit k of the bases' bit string (two bits per base, high bit first).
inline uint32_t bitAt(std::string_view s, size_t k) { return (baseCode(s[k / 2]) >> (1 - k % 2)) & 1u; }

// 16 bases per word, the first in bits 31-30, zero bits past the last base; then
// `zeroWords` more zero words (the readers' guard word).
inline std::vector<uint32_t> packBases(std::string_view s, size_t zeroWords = 0) {
    std::vector<uint32_t> words((s.size() + 15) / 16 + zeroWords, 0);
    for (size_t i = 0; i < s.size(); i++) words[i / 16] |= baseCode(s[i]) << (30 - 2 * (i % 16));
    return words;
}

// The 16 bases from `from`, packed, zero past the end.
inline uint32_t prefixWord(std::string_view s, size_t from) {
    uint32_t w = 0;
    for (size_t i = 0; i < 16 && from + i < s.size(); i++) w |= baseCode(s[from + i]) << (30 - 2 * i);
    return w;
}

// The 32 bases from `from` as two prefix words.
inline void prefixWords(std::string_view s, size_t from, uint32_t& w1, uint32_t& w2) {
    w1 = prefixWord(s, from);
    w2 = prefixWord(s, from + 16);
}

// A suffix record (.stpsa) with a comparison, so that tests can compare whole records.
struct Record {
    uint32_t word0, offset, prefix1, prefix2;
    bool operator==(const Record&) const = default;
    PsaRecord psa() const { return PsaRecord{word0, offset, prefix1, prefix2}; }
};
static_assert(sizeof(Record) == sizeof(PsaRecord));

inline Record suffixRecord(std::string_view text, int input, size_t offset) {
    Record r{};
    r.word0 = (static_cast<uint32_t>(input) << 2) | (offset ? baseCode(text[offset - 1]) : 0);
    r.offset = static_cast<uint32_t>(offset);
    prefixWords(text, offset, r.prefix1, r.prefix2);
    return r;
}

struct Suffix {
    int input;
    uint32_t offset;
};

// Every suffix of every input in the global order of the trees: by text, identical
// suffixes by input number.
inline std::vector<Suffix> globalOrder(const std::vector<std::string>& inputs) {
    std::vector<Suffix> all;
    for (size_t i = 0; i < inputs.size(); i++)
        for (uint32_t p = 0; p < inputs[i].size(); p++) all.push_back({static_cast<int>(i), p});
    std::stable_sort(all.begin(), all.end(), [&](const Suffix& a, const Suffix& b) {
        return std::string_view(inputs[a.input]).substr(a.offset) < std::string_view(inputs[b.input]).substr(b.offset);
    });
    return all;
}

// The suffixes of the run of inputs [first, end) in the sorter's order: byte-wise over
// the run text (each input followed by a 0 byte), a suffix running on into the
// following inputs, the end of the text below every byte.
inline std::vector<Suffix> runOrder(const std::vector<std::string>& inputs, int first, int end) {
    std::string text;
    std::vector<Suffix> at;  // per text position; separators get input -1
    for (int k = first; k < end; k++) {
        for (size_t j = 0; j < inputs[k].size(); j++) at.push_back({k, static_cast<uint32_t>(j)});
        at.push_back({-1, 0});
        text += inputs[k];
        text.push_back('\0');
    }
    std::vector<size_t> positions;
    for (size_t p = 0; p < text.size(); p++)
        if (at[p].input >= 0) positions.push_back(p);
    std::string_view view(text);
    std::sort(positions.begin(), positions.end(), [&](size_t a, size_t b) { return view.substr(a) < view.substr(b); });
    std::vector<Suffix> order;
    for (size_t p : positions) order.push_back(at[p]);
    return order;
}

// The sorter's LCP value of suffix s after `previous` (empty for the first suffix of a
// run): 4 x shared bases, + 2 when they part at bases of the same high bit, + 1 when
// `previous` goes on there. Both in one letter case.
inline uint32_t runLcpValue(std::string_view s, std::string_view previous) {
    size_t h = 0;
    while (h < s.size() && h < previous.size() && s[h] == previous[h]) h++;
    if (h == s.size()) return 4 * static_cast<uint32_t>(h);
    if (h == previous.size()) return 4 * static_cast<uint32_t>(h);
    bool pair = (baseCode(s[h]) >> 1) == (baseCode(previous[h]) >> 1);
    return 4 * static_cast<uint32_t>(h) + (pair ? 2 : 0) + 1;
}

// The merge's LCP value of two suffixes: shared bits x 2, + 1 when both go on past them.
inline uint32_t bitLcpValue(std::string_view a, std::string_view b) {
    size_t h = 0, n = std::min(a.size(), b.size());
    while (h < n && a[h] == b[h]) h++;
    if (h == n) return static_cast<uint32_t>(2 * (2 * n));
    bool highEqual = (baseCode(a[h]) >> 1) == (baseCode(b[h]) >> 1);
    return static_cast<uint32_t>(2 * (2 * h + (highEqual ? 1 : 0)) + 1);
}

// `length` random bases from the first `alphabet` of "acgt".
inline std::string randomBases(std::mt19937& rng, size_t length, int alphabet = 4) {
    static const char kBases[] = "acgt";
    std::string s(length, 'a');
    for (char& c : s) c = kBases[rng() % static_cast<unsigned>(alphabet)];
    return s;
}

}  // namespace testsupport
