// Seeded random FASTA text for the golden cases, the same on every machine: each base
// is drawn uniformly from a letter list (repeat a letter to weigh it), so a case's
// expected files never depend on which awk or shell generates its input.
// Time O(output size), no memory beyond one line.
//
//   random_fasta <seed> <records> <lines per record> <line width> <letters> [name]
//
// Records are named "<name>" (one record) or "<name><k>" (k from 0); the default name
// is "r". The text goes to standard output.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// splitmix64: a fixed, portable sequence for a given seed.
uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

long numberArgument(const char* text, const char* what) {
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 0) {
        fprintf(stderr, "## ERROR: %s must be a number of at least 0, not \"%s\"\n", what, text);
        exit(1);
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || argc > 7) {
        fprintf(stderr, "usage: %s <seed> <records> <lines per record> <line width> <letters> [name]\n", argv[0]);
        return 1;
    }
    uint64_t state = static_cast<uint64_t>(numberArgument(argv[1], "the seed"));
    long records = numberArgument(argv[2], "the record count");
    long lines = numberArgument(argv[3], "the lines per record");
    long width = numberArgument(argv[4], "the line width");
    const std::string letters = argv[5];
    const std::string name = argc == 7 ? argv[6] : "r";
    if (letters.empty()) {
        fprintf(stderr, "## ERROR: the letter list is empty\n");
        return 1;
    }
    std::string line;
    for (long r = 0; r < records; r++) {
        if (records == 1) printf(">%s\n", name.c_str());
        else printf(">%s%ld\n", name.c_str(), r);
        for (long l = 0; l < lines; l++) {
            line.clear();
            for (long c = 0; c < width; c++) line += letters[nextRandom(state) % letters.size()];
            line += '\n';
            fwrite(line.data(), 1, line.size(), stdout);
        }
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "## ERROR: can't write the FASTA text to standard output\n");
        return 1;
    }
    return 0;
}
