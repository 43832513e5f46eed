// dnatrees search against a scan of the FASTA text: random genomes with N runs and
// IUPAC codes in them, random patterns with IUPAC codes, planted copies with
// substitutions; every row (both strands, mismatches, matched bases) must equal the
// scan's, in the same order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"

using namespace testsupport;

namespace {

// Bases of each IUPAC code as a bit set (A 1, C 2, G 4, T 8), written out on its own.
int codeSet(char c) {
    static const std::string codes = "ACGTRYSWKMBDHVN";
    static const int sets[] = {1, 2, 4, 8, 5, 10, 6, 9, 12, 3, 14, 13, 11, 7, 15};
    size_t i = codes.find(static_cast<char>(toupper(c)));
    return i == std::string::npos ? 0 : sets[i];
}

std::string complementStrand(const std::string& s) {
    static const std::string from = "ACGTRYSWKMBDHVN", to = "TGCAYRSWMKVHDBN";
    std::string out;
    for (auto it = s.rbegin(); it != s.rend(); ++it) out += to[from.find(static_cast<char>(toupper(*it)))];
    return out;
}

struct Sequence {
    std::string name, text;
};

// Rows of the scan, as dnatrees prints them: pattern order, then sequence, start, strand.
std::string scan(const std::vector<Sequence>& genome, const std::vector<std::string>& patterns, int k,
                 bool counts) {
    std::string rows = counts ? "pattern_name\tpattern\tcount\n"
                              : "pattern_name\tpattern\tsequence\tstart\tend\tstrand\tmismatches\tmatched\n";
    for (const std::string& p : patterns) {
        const std::string strands[2] = {p, complementStrand(p)};
        long long found = 0;
        for (const Sequence& s : genome) {
            for (size_t at = 0; at + p.size() <= s.text.size(); ++at) {
                std::string window = s.text.substr(at, p.size());
                for (char& c : window) c = static_cast<char>(toupper(c));
                // Occurrences across a removed character (N, IUPAC codes) are not in the trees.
                if (window.find_first_not_of("ACGT") != std::string::npos) continue;
                for (int strand = 0; strand < 2; ++strand) {
                    int mismatches = 0;
                    for (size_t i = 0; i < p.size(); ++i) mismatches += !(codeSet(strands[strand][i]) & codeSet(window[i]));
                    if (mismatches > k) continue;
                    ++found;
                    if (!counts)
                        rows += p + "\t" + p + "\t" + s.name + "\t" + std::to_string(at + 1) + "\t" +
                                std::to_string(at + p.size()) + "\t" + (strand ? "-" : "+") + "\t" +
                                std::to_string(mismatches) + "\t" + (strand ? complementStrand(window) : window) + "\n";
                }
            }
        }
        if (counts) rows += p + "\t" + p + "\t" + std::to_string(found) + "\n";
    }
    return rows;
}

TEST(DnatreesSearch, RowsEqualAScanOfTheFastaOnBothStrands) {
    seededRounds(20, 4, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        auto pick = [&](const char* letters) { return letters[rng() % strlen(letters)]; };
        std::vector<Sequence> genome;
        std::string fasta;
        for (int s = 0; s < 3; ++s) {
            Sequence seq{"seq" + std::to_string(s), ""};
            const size_t length = 200 + rng() % 600;
            while (seq.text.size() < length) {
                const unsigned roll = rng() % 100;
                if (roll < 2) seq.text += std::string(1 + rng() % 12, 'N');
                else if (roll < 4) seq.text += pick("RYKMSWn");
                else seq.text += pick("acgtACGT");
            }
            fasta += ">" + seq.name + " random\n";
            for (size_t i = 0; i < seq.text.size(); i += 60) fasta += seq.text.substr(i, 60) + "\n";
            genome.push_back(seq);
        }
        // Patterns: copies of the genome's bases with substitutions and IUPAC codes,
        // and random ones (mostly absent).
        std::vector<std::string> patterns;
        while (patterns.size() < 12) {
            const Sequence& s = genome[rng() % genome.size()];
            const size_t length = 6 + rng() % 10;
            std::string p;
            if (patterns.size() % 3 == 2) {
                for (size_t i = 0; i < length; ++i) p += pick("ACGT");
            } else {
                p = s.text.substr(rng() % (s.text.size() - length), length);
                for (char& c : p) c = codeSet(c) == 1 || codeSet(c) == 2 || codeSet(c) == 4 || codeSet(c) == 8
                                          ? static_cast<char>(toupper(c)) : pick("ACGT");
            }
            for (int changes = rng() % 3; changes > 0; --changes) p[rng() % p.size()] = pick("ACGTRYSWKMBDHVN");
            if (std::find(patterns.begin(), patterns.end(), p) == patterns.end()) patterns.push_back(p);
        }
        TempDir dir("dnatrees_search");
        writeFile(dir.path + "genome.fa", fasta);
        std::string list;
        for (const std::string& p : patterns) list += p + "\n";
        writeFile(dir.path + "patterns.txt", list);
        const std::string dnatrees = binary("dnatrees"), ds = dir.path + "ds";
        ASSERT_EQ(runCommand(dnatrees + " index -q -j 1 --memory 16M " + ds + " " + dir.path + "genome.fa"), 0);
        for (int k = 0; k <= 2; ++k) {
            for (bool counts : {false, true}) {
                SCOPED_TRACE("mismatches " + std::to_string(k) + (counts ? " --count" : ""));
                std::string args;
                for (const std::string& p : patterns) args += " -p " + p;
                ASSERT_EQ(runCommand(dnatrees + " search -q -m " + std::to_string(k) + (counts ? " --count" : "") +
                                     args + " " + ds + " > " + dir.path + "rows.tsv"),
                          0);
                EXPECT_EQ(readFile(dir.path + "rows.tsv"), scan(genome, patterns, k, counts));
            }
        }
    });
}

}  // namespace
