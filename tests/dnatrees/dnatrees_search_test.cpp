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
        // More patterns than two batches of the search, in a FASTA file that names each
        // by itself: the rows of each as it has them alone, one pattern after the other.
        if (round.index == 0) {
            std::string fastaPatterns, expected[2] = {scan(genome, {}, 1, false), scan(genome, {}, 1, true)};
            const size_t headers[2] = {expected[0].size(), expected[1].size()};
            std::vector<std::string> alone[2];
            for (int counts = 0; counts < 2; ++counts)
                for (const std::string& p : patterns) alone[counts].push_back(scan(genome, {p}, 1, counts).substr(headers[counts]));
            for (size_t i = 0; i < 2 * 10240 + 7; ++i) {
                const std::string& p = patterns[i % patterns.size()];
                fastaPatterns += ">" + p + "\n" + p + "\n";
                for (int counts = 0; counts < 2; ++counts) expected[counts] += alone[counts][i % patterns.size()];
            }
            writeFile(dir.path + "many.fa", fastaPatterns);
            for (int counts = 0; counts < 2; ++counts) {
                SCOPED_TRACE(std::string("many patterns") + (counts ? " --count" : ""));
                ASSERT_EQ(runCommand(dnatrees + " search -q -m 1 -f " + dir.path + "many.fa" + (counts ? " --count " : " ") +
                                     ds + " > " + dir.path + "rows.tsv"),
                          0);
                EXPECT_EQ(readFile(dir.path + "rows.tsv"), expected[counts]);
            }
        }
    });
}

// A base changed in a text under a reported hit: the search stops on the damage
// instead of printing the damaged bases or dropping the row as a mismatch. The pattern
// lies in the first and the last sequence, so that one of its copies is read only for
// the matched column; with more sequences than texts kept mapped, that read is not
// through a mapping.
TEST(DnatreesSearch, DamageUnderAHitStopsTheSearch) {
    const std::string planted = "GATTACAGATTACACCGTAA";
    for (int sequences : {2, 70}) {
        std::mt19937 rng(sequences);
        std::string fasta;
        for (int s = 0; s < sequences; ++s) {
            std::string text;
            for (int i = 0; i < 60; ++i) text += "ACGT"[rng() % 4];
            if (s == 0 || s == sequences - 1) text.replace(20, planted.size(), planted);
            fasta += ">s" + std::to_string(s) + "\n" + text + "\n";
        }
        TempDir dir("dnatrees_damage");
        writeFile(dir.path + "genome.fa", fasta);
        const std::string dnatrees = binary("dnatrees"), ds = dir.path + "ds";
        ASSERT_EQ(runCommand(dnatrees + " index -q -j 1 --memory 16M " + ds + " " + dir.path + "genome.fa"), 0);
        for (int damaged : {0, sequences - 1}) {
            const std::string text = ds + "/index.ST/index_" + std::to_string(damaged) + ".stdna";
            const std::string intact = readFile(text);
            std::string bytes = intact;
            bytes[25] = bytes[25] == 'A' ? 'C' : 'A';
            writeFile(text, bytes);
            for (int k : {0, 1}) {
                SCOPED_TRACE(std::to_string(sequences) + " sequences, s" + std::to_string(damaged) +
                             " damaged, mismatches " + std::to_string(k));
                const int status = runCommand(dnatrees + " search -q -m " + std::to_string(k) + " -p " + planted + " " +
                                              ds + " > " + dir.path + "rows.tsv 2> " + dir.path + "errors.txt");
                EXPECT_EQ(status, 1);
                EXPECT_NE(readFile(dir.path + "errors.txt").find(text + " is damaged"), std::string::npos)
                    << readFile(dir.path + "errors.txt");
            }
            writeFile(text, intact);
        }
    }
}

}  // namespace
