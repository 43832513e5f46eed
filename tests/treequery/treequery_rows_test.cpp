// Rows of -F against the FASTA file itself: on random genomes with N runs and IUPAC
// codes, every TSV and BED row, read back from the FASTA text at its coordinates, is the
// pattern or its reverse complement within the mismatches it states (and within -H),
// and a scan of the FASTA text over both strands finds no occurrence the rows miss.
// Mapped trees (-U) give the same rows.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/output.h"
#include "tests/support/run.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace testsupport;

struct Sequence {
    std::string name;
    std::string text;  // the FASTA sequence without line breaks
};

// (pattern name, sequence, 0-based start, strand, mismatches)
using Row = std::tuple<std::string, std::string, long, char, int>;

std::string complement(const std::string& s) {
    std::string out(s.rbegin(), s.rend());
    for (char& c : out) {
        const char* from = "acgtACGT";
        const char* to = "tgcaTGCA";
        for (int k = 0; k < 8; k++)
            if (c == from[k]) {
                c = to[k];
                break;
            }
    }
    return out;
}

// Mismatches of pattern against text, or -1 when the text holds a character other than
// a base ("n" in the pattern matches any base at no cost).
int distance(const std::string& pattern, const std::string& text) {
    int d = 0;
    for (size_t j = 0; j < pattern.size(); j++) {
        const char t = (char)(text[j] | 0x20), p = (char)(pattern[j] | 0x20);
        if (t != 'a' && t != 'c' && t != 'g' && t != 't') return -1;
        if (p != 'n' && p != t) d++;
    }
    return d;
}

TEST(TreequeryRows, RowsReadThePatternInTheFastaAndMissNone) {
    seededRounds(4242, 6, [&](SeededRound& round) {
        std::mt19937& random = round.rng;
        TempDir dir("treequery-rows");
        const char* bases = "acgt";
        std::vector<Sequence> genome;
        std::string fasta;
        for (int s = 0; s < 3; s++) {
            Sequence q{"seq" + std::to_string(s), ""};
            const int length = 150 + (int)(random() % 200);
            for (int i = 0; i < length; i++) {
                const unsigned r = random() % 100;
                if (r < 3) q.text += std::string(1 + random() % 6, 'N');  // removed stretches
                else if (r < 4) q.text += "RYK"[random() % 3];
                else q.text += bases[random() % 4];
            }
            genome.push_back(q);
            fasta += ">" + q.name + " random\n";
            for (size_t at = 0; at < q.text.size(); at += 60) fasta += q.text.substr(at, 60) + "\n";
        }
        writeFile(dir.path + "g.fa", fasta);
        // Patterns: words of the genome (some across removed stretches), some changed,
        // some with n; short ones have many occurrences on both strands.
        std::vector<std::string> patterns;
        std::vector<std::string> names;
        std::string patternFile;
        for (int k = 0; k < 12; k++) {
            const Sequence& q = genome[random() % genome.size()];
            const size_t m = 3 + random() % 8;
            std::string word = q.text.substr(random() % (q.text.size() - m), m);
            for (char& c : word)
                if (c == 'N' || c == 'R' || c == 'Y' || c == 'K' || random() % 8 == 0) c = bases[random() % 4];
            if (k % 4 == 3) word[random() % m] = 'n';
            patterns.push_back(word);
            names.push_back(std::string(1, 'p').append(std::to_string(k)));
            patternFile.append(">").append(names.back()).append("\n").append(word).append("\n");
        }
        writeFile(dir.path + "p.fa", patternFile);
        const std::string d = dir.path;
        ASSERT_TRUE(buildWithStages(d, "ds", "g.fa", 40));

        for (int hd : {-1, 1, 2}) {
            for (const char* format : {"tsv", "bed"}) {
                SCOPED_TRACE(std::string("-F ") + format + " -H " + std::to_string(hd));
                const std::string h = hd < 0 ? "" : " -H " + std::to_string(hd);
                const std::string query = d + " ds -q -B -f " + d + "p.fa -F " + format + h;
                ASSERT_TRUE(succeeded(runProgram("treequery", query + " -o " + d + "rows.txt")));
                // Mapped trees (-U) search the same batch another way: the rows must not change.
                ASSERT_TRUE(succeeded(runProgram("treequery", query + " -U -o " + d + "rows-mapped.txt")));
                EXPECT_EQ(readFile(d + "rows-mapped.txt"), readFile(d + "rows.txt"));
                const int allowed = hd < 0 ? 0 : hd;
                std::set<Row> rows;
                bool tsv = format[0] == 't';
                for (const std::string& line : lines(readFile(d + "rows.txt"))) {
                    std::vector<std::string> f = fields(line);
                    if (tsv && f[0] == "pattern_name") continue;
                    ASSERT_EQ(f.size(), tsv ? 7u : 6u) << line;
                    const std::string name = tsv ? f[0] : f[3];
                    const std::string seq = tsv ? f[2] : f[0];
                    const long start = tsv ? std::stol(f[3]) - 1 : std::stol(f[1]);
                    const long end = tsv ? std::stol(f[4]) : std::stol(f[2]);
                    const char strand = f[5][0];
                    const int mismatches = std::stoi(tsv ? f[6] : f[4]);
                    const std::string& pattern = patterns[(size_t)std::stoi(name.substr(1))];
                    ASSERT_EQ(end - start, (long)pattern.size()) << line;
                    const Sequence* q = nullptr;
                    for (const Sequence& s : genome)
                        if (s.name == seq) q = &s;
                    ASSERT_NE(q, nullptr) << line;
                    ASSERT_LE(end, (long)q->text.size()) << line;
                    const std::string text = q->text.substr((size_t)start, pattern.size());
                    const int dist = distance(strand == '+' ? pattern : complement(pattern), text);
                    EXPECT_EQ(dist, mismatches) << line << " reads " << text;
                    EXPECT_LE(dist, allowed) << line;
                    rows.insert(Row{name, seq, start, strand, mismatches});
                }
                std::set<Row> scan;
                for (size_t p = 0; p < patterns.size(); p++)
                    for (const Sequence& q : genome)
                        for (char strand : {'+', '-'}) {
                            const std::string pattern = strand == '+' ? patterns[p] : complement(patterns[p]);
                            for (size_t at = 0; at + pattern.size() <= q.text.size(); at++) {
                                const int dist = distance(pattern, q.text.substr(at, pattern.size()));
                                if (dist >= 0 && dist <= allowed)
                                    scan.insert(Row{names[p], q.name, (long)at, strand, dist});
                            }
                        }
                EXPECT_EQ(rows, scan);
            }
        }
    });
}

}  // namespace
