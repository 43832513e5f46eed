// Test helpers for the sorter: write a data set as the converter lays it out, run the
// sorter on it, read back what it wrote, and the brute-force reference values.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace runarray_test {

inline uint32_t baseCode(char c) {
    switch (c | 0x20) {
        case 'a': return 0;
        case 'c': return 1;
        case 'g': return 2;
        default: return 3;
    }
}

inline void writeBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), (std::streamsize)size);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<uint32_t> readWords(const std::string& path) {
    std::string bytes = readFile(path);
    std::vector<uint32_t> words(bytes.size() / 4);
    if (!words.empty()) memcpy(words.data(), bytes.data(), words.size() * 4);
    return words;
}

// 16 bases per word, the first in bits 31-30; zero bits past the last base.
inline std::vector<uint32_t> packBases(const std::string& bases) {
    std::vector<uint32_t> words((bases.size() + 15) / 16, 0);
    for (size_t i = 0; i < bases.size(); i++) words[i / 16] |= baseCode(bases[i]) << (30 - 2 * (i % 16));
    return words;
}

// Writes <dir><prefix>.ST/ with one .stdna and .stbin per input and both catalogues.
inline std::string makeDataSet(const std::string& dir, const std::string& prefix,
                               const std::vector<std::string>& inputs) {
    std::string ds = dir + prefix + ".ST/";
    std::filesystem::create_directories(ds);
    std::vector<int32_t> lengths, bitLengths;
    for (size_t i = 0; i < inputs.size(); i++) {
        std::string name = ds + prefix + "_" + std::to_string(i);
        writeBytes(name + ".stdna", inputs[i].data(), inputs[i].size());
        std::vector<uint32_t> words = packBases(inputs[i]);
        writeBytes(name + ".stbin", words.data(), words.size() * 4);
        lengths.push_back((int32_t)inputs[i].size());
        bitLengths.push_back(2 * (int32_t)inputs[i].size());
    }
    writeBytes(ds + prefix + ".stlengths", lengths.data(), lengths.size() * 4);
    writeBytes(ds + prefix + ".stblengths", bitLengths.data(), bitLengths.size() * 4);
    return ds;
}

// Runs a shell command; returns its exit status (-1 when it did not exit normally).
inline int runCommand(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string runarrayBinary() { return std::string(BIN_DIR) + "/runarray"; }

struct Suffix {
    uint32_t input;
    uint32_t offset;
};

// The suffixes of one run in the sorter's order: byte-wise over the run text (each input
// followed by a 0 byte), a suffix running on into the following inputs, the end of the
// text below every byte.
inline std::vector<Suffix> bruteForceOrder(const std::vector<std::string>& inputs, int first, int end) {
    std::string text;
    std::vector<Suffix> at;  // per text position; separators get input -1
    for (int k = first; k < end; k++) {
        for (size_t j = 0; j < inputs[k].size(); j++) at.push_back({(uint32_t)k, (uint32_t)j});
        at.push_back({~0u, 0});
        text += inputs[k];
        text.push_back('\0');
    }
    std::vector<size_t> positions;
    for (size_t p = 0; p < text.size(); p++)
        if (at[p].input != ~0u) positions.push_back(p);
    std::sort(positions.begin(), positions.end(),
              [&](size_t a, size_t b) { return text.compare(a, std::string::npos, text, b, std::string::npos) < 0; });
    std::vector<Suffix> order;
    for (size_t p : positions) order.push_back(at[p]);
    return order;
}

// The 32 bases from `offset`, packed, with zero bits past the input's end.
inline void bruteForcePrefix(const std::string& input, uint32_t offset, uint32_t& word1, uint32_t& word2) {
    word1 = word2 = 0;
    for (uint32_t j = 0; j < 32 && offset + j < input.size(); j++) {
        uint32_t code = baseCode(input[offset + j]);
        if (j < 16) word1 |= code << (30 - 2 * j);
        else word2 |= code << (30 - 2 * (j - 16));
    }
}

// LCP value of suffix s against the suffix p before it, from the definition; `previous`
// is null for the first real suffix, whose predecessor is a separator (it ends at once).
inline uint32_t bruteForceLcp(const std::string& s, const std::string* previous) {
    static const std::string empty;
    const std::string& p = previous ? *previous : empty;
    size_t h = 0;
    while (h < s.size() && h < p.size() && s[h] == p[h]) h++;
    if (h == s.size()) return 4 * (uint32_t)h;
    bool pEnds = h == p.size();
    auto pair = [](char x) -> char {
        switch (x) {
            case 'a': return 'c'; case 'c': return 'a'; case 'g': return 't'; case 't': return 'g';
            case 'A': return 'C'; case 'C': return 'A'; case 'G': return 'T'; case 'T': return 'G';
            default: return 0;
        }
    };
    char y = pEnds ? 0 : p[h];
    return 4 * (uint32_t)h + 2 * (pair(s[h]) == y ? 1u : 0u) + (pEnds ? 0u : 1u);
}

}  // namespace runarray_test
