// Test data sets for treebuild, written directly (inputs, catalogues, and sorted runs
// made by brute force), and the brute-force order and LCP of all suffixes.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace tbdata {

struct Record {
    uint32_t word0, offset, prefix1, prefix2;
    bool operator==(const Record&) const = default;
};
static_assert(sizeof(Record) == 16);

inline uint32_t code(char c) {
    switch (c) {
        case 'a': return 0;
        case 'c': return 1;
        case 'g': return 2;
        default: return 3;
    }
}

inline std::string randomDna(std::mt19937& rng, int length, int alphabet = 4) {
    static const char kBases[] = "acgt";
    std::string s(static_cast<size_t>(length), 'a');
    for (char& c : s) c = kBases[rng() % static_cast<unsigned>(alphabet)];
    return s;
}

inline std::vector<uint32_t> pack(const std::string& s) {
    std::vector<uint32_t> words((s.size() + 15) / 16, 0);
    for (size_t i = 0; i < s.size(); i++) words[i / 16] |= code(s[i]) << (30 - 2 * (i % 16));
    return words;
}

// The 64 bits of a packed form starting at base `offset`, zero past the end.
inline void prefixWords(const std::string& s, size_t offset, uint32_t& w1, uint32_t& w2) {
    w1 = w2 = 0;
    for (size_t i = 0; i < 32 && offset + i < s.size(); i++) {
        uint32_t c = code(s[offset + i]);
        if (i < 16)
            w1 |= c << (30 - 2 * i);
        else
            w2 |= c << (30 - 2 * (i - 16));
    }
}

inline Record makeRecord(const std::string& s, int input, size_t offset) {
    Record r{};
    r.word0 = (static_cast<uint32_t>(input) << 2) | (offset ? code(s[offset - 1]) : 0);
    r.offset = static_cast<uint32_t>(offset);
    prefixWords(s, offset, r.prefix1, r.prefix2);
    return r;
}

template <class T>
void writeFile(const std::string& path, const std::vector<T>& v) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size() * sizeof(T)));
}

template <class T>
std::vector<T> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<T> v(bytes.size() / sizeof(T));
    std::copy(bytes.begin(), bytes.begin() + static_cast<long>(v.size() * sizeof(T)),
              reinterpret_cast<char*>(v.data()));
    return v;
}

inline bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

using testsupport::tempDir;

// The data-set directory <dir><prefix>.ST/ with .stdna, .stbin and the two length catalogues.
inline std::string writeInputs(const std::string& dir, const std::string& prefix,
                               const std::vector<std::string>& inputs) {
    std::string setDir = dir + prefix + ".ST/";
    mkdir(setDir.c_str(), 0755);
    std::string base = setDir + prefix;
    std::vector<int32_t> lengths, bits;
    for (size_t i = 0; i < inputs.size(); i++) {
        std::ofstream(base + "_" + std::to_string(i) + ".stdna", std::ios::binary | std::ios::trunc) << inputs[i];
        writeFile(base + "_" + std::to_string(i) + ".stbin", pack(inputs[i]));
        lengths.push_back(static_cast<int32_t>(inputs[i].size()));
        bits.push_back(static_cast<int32_t>(2 * inputs[i].size()));
    }
    writeFile(base + ".stlengths", lengths);
    writeFile(base + ".stblengths", bits);
    return base;
}

// Sorted runs as runarray writes them: each run's inputs joined with 0 separators and
// sorted byte-wise (a suffix runs on into the following inputs; the text's end sorts
// lowest), with the per-run LCP values and the partitions catalogue.
inline void writeRuns(const std::string& base, const std::vector<std::string>& inputs,
                      const std::vector<int>& runCounts, bool zeroOrigin) {
    std::vector<int32_t> partitions;
    int first = 0;
    for (size_t r = 0; r < runCounts.size(); r++) {
        std::string text;
        std::vector<std::pair<int, int>> where;  // per text position: input, offset (-1 for a separator)
        for (int i = first; i < first + runCounts[r]; i++) {
            for (size_t o = 0; o < inputs[static_cast<size_t>(i)].size(); o++) where.push_back({i, static_cast<int>(o)});
            text += inputs[static_cast<size_t>(i)];
            text.push_back('\0');
            where.push_back({i, -1});
        }
        std::vector<size_t> order;
        for (size_t p = 0; p < text.size(); p++)
            if (where[p].second >= 0) order.push_back(p);
        std::string_view tv(text);
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return tv.substr(a) < tv.substr(b); });
        std::vector<Record> records;
        std::vector<uint32_t> lcps;
        for (size_t k = 0; k < order.size(); k++) {
            auto [input, offset] = where[order[k]];
            Record rec = makeRecord(inputs[static_cast<size_t>(input)], input, static_cast<size_t>(offset));
            if (zeroOrigin) rec.word0 -= static_cast<uint32_t>(first) << 2;
            records.push_back(rec);
            uint32_t value = 0;
            if (k > 0) {
                size_t a = order[k], b = order[k - 1], h = 0;
                while (text[a + h] && text[a + h] == text[b + h]) h++;
                char x = text[a + h], y = text[b + h];
                if (x == 0) {
                    value = 4 * static_cast<uint32_t>(h);
                } else {
                    bool pair = y && (code(x) >> 1) == (code(y) >> 1);
                    value = 4 * static_cast<uint32_t>(h) + (pair ? 2 : 0) + (y ? 1 : 0);
                }
            }
            lcps.push_back(value);
        }
        writeFile(base + "_" + std::to_string(r) + ".stpsa", records);
        writeFile(base + "_" + std::to_string(r) + ".stlcp", lcps);
        partitions.push_back(runCounts[r]);
        first += runCounts[r];
    }
    writeFile(base + ".stplengths", partitions);
}

// Bit LCP value (bit LCP x 2 + continuation bit) of two base strings.
inline uint32_t bitLcpValue(const std::string& a, const std::string& b) {
    size_t h = 0, n = std::min(a.size(), b.size());
    while (h < n && a[h] == b[h]) h++;
    if (h == n) return static_cast<uint32_t>(2 * (2 * n));
    bool highEqual = (code(a[h]) >> 1) == (code(b[h]) >> 1);
    return static_cast<uint32_t>(2 * (2 * h + (highEqual ? 1 : 0)) + 1);
}

// Random cut of n inputs into runs of 1 to maxRun inputs.
inline std::vector<int> randomRuns(std::mt19937& rng, int n, int maxRun) {
    std::vector<int> runs;
    while (n > 0) {
        int k = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxRun));
        k = std::min(k, n);
        runs.push_back(k);
        n -= k;
    }
    return runs;
}

inline int run(const std::string& command) {
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tbdata
