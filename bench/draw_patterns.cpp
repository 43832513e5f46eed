// Patterns for bench/userterms.sh and bench/search_speed.sh: <count> words of
// <length> bases drawn at seeded random places of one input's text (.stdna), a fifth
// of them with one base changed and a tenth with two, written as FASTA records
// named p0, p1, ...
//   draw_patterns <stdna file> <count> <length> <seed>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: %s <stdna file> <count> <length> <seed>\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const long count = atol(argv[2]), length = atol(argv[3]);
    if (!in && !in.eof()) return 1;
    if ((long)text.size() <= length) return 1;
    std::mt19937_64 random(strtoull(argv[4], nullptr, 10));
    const char bases[] = "acgt";
    for (long k = 0; k < count; k++) {
        std::string word = text.substr(random() % (text.size() - length), length);
        const int changes = k % 10 < 2 ? 1 : (k % 10 == 2 ? 2 : 0);
        for (int c = 0; c < changes; c++) {
            char& b = word[random() % length];
            const char* at = strchr(bases, b | 0x20);
            const int code = at ? (int)(at - bases) : 0;
            b = bases[(code + 1 + random() % 3) % 4];  // always another base
        }
        printf(">p%ld\n%s\n", k, word.c_str());
    }
    return 0;
}
