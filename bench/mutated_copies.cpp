// A large collection for bench/scale.sh made from a few real genomes: copy after copy
// of every given FASTA file, each copy one record per file (the file's sequences joined)
// with seeded point changes (substitutions, and short insertions and deletions), until
// the collection holds the wanted number of bases. Copy 0 is the genomes unchanged.
// Time O(output); memory: the genomes once.
//
//   mutated_copies <bases> <seed> <changes per 10,000 bases> <fasta>... > collection.fa
//
// Only a, c, g and t (either case) are kept from the inputs, in lower case; the
// records are named c<copy>_<file number> and written 80 bases a line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

std::string basesOf(const char* path) {
    std::ifstream in(path);
    if (!in) {
        fprintf(stderr, "mutated_copies: cannot read %s\n", path);
        exit(1);
    }
    std::string bases, line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '>') continue;
        for (char c : line) {
            char b = static_cast<char>(c | 0x20);
            if (b == 'a' || b == 'c' || b == 'g' || b == 't') bases += b;
        }
    }
    return bases;
}

void writeRecord(const std::string& name, const std::string& bases, long long limit) {
    printf(">%s\n", name.c_str());
    const size_t length = std::min<size_t>(bases.size(), static_cast<size_t>(limit));
    for (size_t at = 0; at < length; at += 80) {
        fwrite(bases.data() + at, 1, std::min<size_t>(80, length - at), stdout);
        putchar('\n');
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: %s <bases> <seed> <changes per 10,000 bases> <fasta>...\n", argv[0]);
        return 2;
    }
    const long long wanted = atoll(argv[1]);
    std::mt19937_64 random(strtoull(argv[2], nullptr, 10));
    const double rate = atof(argv[3]) / 10000.0;
    std::vector<std::string> genomes;
    for (int i = 4; i < argc; i++) genomes.push_back(basesOf(argv[i]));

    const char kBases[] = "acgt";
    long long written = 0;
    for (int copy = 0; written < wanted; copy++) {
        for (size_t g = 0; g < genomes.size() && written < wanted; g++) {
            const std::string& from = genomes[g];
            std::string bases;
            bases.reserve(from.size() + from.size() / 100);
            // Gaps between changes are geometric, so the cost is per change, not per base.
            std::geometric_distribution<long long> gap(copy == 0 || rate <= 0 ? 1.0 : rate);
            size_t at = 0;
            while (at < from.size()) {
                size_t next = copy == 0 ? from.size() : std::min(from.size(), at + static_cast<size_t>(gap(random)));
                bases.append(from, at, next - at);
                at = next;
                if (at >= from.size()) break;
                const uint64_t kind = random() % 10;
                if (kind < 8) {  // substitution by another base
                    const size_t code = static_cast<size_t>(strchr(kBases, from[at]) - kBases);
                    bases += kBases[(code + 1 + random() % 3) % 4];
                    at++;
                } else if (kind == 8) {  // insertion of 1 to 4 bases
                    for (uint64_t k = 0, n = 1 + random() % 4; k < n; k++) bases += kBases[random() % 4];
                } else {  // deletion of 1 to 4 bases
                    at += 1 + random() % 4;
                }
            }
            writeRecord("c" + std::to_string(copy) + "_" + std::to_string(g), bases, wanted - written);
            written += std::min<long long>(static_cast<long long>(bases.size()), wanted - written);
        }
    }
    return 0;
}
