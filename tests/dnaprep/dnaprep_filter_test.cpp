// Random FASTA text through the real dnaprep binary, against a brute-force filter:
// header lines name the sequences, bases are kept (in the chosen case), everything
// else is dropped and counted, and the kept bases are packed two bits each. The
// buffer sizes change nothing that dnaprep writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/dna.h"
#include "tests/support/files.h"
#include "tests/support/run.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"
#include "toolkit/names_map.h"

namespace {

using namespace testsupport;

struct Expected {
    std::string name;
    std::string word;   // the header's first word: the name in the names catalogue
    std::string fasta;  // the DNA section without its line breaks
    std::string bases;
    long long origSize = 0, wild = 0, chunks = 0, garbage = 0;
    long long tailRun = 0, chopped = 0;
};

std::string firstWord(const std::string& header) {
    size_t from = !header.empty() && header[0] == '>' ? 1 : 0;
    from = std::min(header.find_first_not_of(" \t", from), header.size());
    return header.substr(from, header.find_first_of(" \t", from) - from);
}

// The tail chop on the brute force's bases.
void chopTail(Expected& e, int tailchop) {
    size_t start = e.bases.size();
    while (start > 0 && e.bases[start - 1] == e.bases.back()) --start;
    e.tailRun = static_cast<long long>(e.bases.size() - start);
    if (tailchop && e.tailRun >= tailchop) {
        e.chopped = e.tailRun - 1;
        e.bases.resize(start + 1);
    }
}

// The brute-force filter, byte by byte and file by file.
std::vector<Expected> filter(const std::vector<std::string>& files, bool ucase, bool trmask, int tailchop) {
    std::vector<Expected> out;
    const std::string wildcards = "BDHKMNRSUVWYbdhkmnrsuvwy";
    for (const std::string& text : files) {
        Expected seq;
        std::string key, raw;
        bool header = true, open = false;
        for (unsigned char b : text) {
            if (header) {
                if (b == '\n' || b == '\r') {
                    header = false;
                    seq.name = (key.empty() || key[0] == '"') ? key : key.substr(1);
                    seq.word = firstWord(raw);
                } else {
                    key += (b == ' ') ? '-' : static_cast<char>(b);
                    raw += static_cast<char>(b);
                    continue;
                }
            }
            if (b == '>') {
                chopTail(seq, tailchop);
                out.push_back(seq);
                seq = Expected();
                key.assign(1, '>');
                raw = key;
                header = true;
                open = false;
                continue;
            }
            ++seq.origSize;
            if (b != '\n' && b != '\r') seq.fasta += static_cast<char>(b);
            const bool lower = b == 'a' || b == 'c' || b == 'g' || b == 't';
            const bool upper = b == 'A' || b == 'C' || b == 'G' || b == 'T';
            if ((lower && !trmask) || upper) {
                seq.bases += static_cast<char>(ucase ? (b & ~32) : (b | 32));
                open = false;
            } else if (lower || wildcards.find(static_cast<char>(b)) != std::string::npos) {
                ++seq.wild;
                if (!open) ++seq.chunks;
                open = true;
            } else if (b != '\n' && b != '\r') {
                ++seq.garbage;
                open = false;
            }
        }
        if (header) {
            seq.name = (key.empty() || key[0] == '"') ? key : key.substr(1);
            seq.word = firstWord(raw);
        }
        chopTail(seq, tailchop);
        out.push_back(seq);
    }
    return out;
}

// The .stbin bytes: packed words, little-endian.
std::string packed(const std::string& bases) {
    std::string bytes;
    for (uint32_t word : packBases(bases))
        for (int k = 0; k < 4; ++k) bytes += static_cast<char>(word >> (8 * k));
    return bytes;
}

std::string int32s(const std::vector<int32_t>& values) {
    return std::string(reinterpret_cast<const char*>(values.data()), values.size() * 4);
}

// Random FASTA text: lines of bases only and base-rich lines with wildcards, garbage
// and line ends of both kinds, headers at line starts and sometimes in mid-line,
// first lines with or without '>'. Names use a blank-free alphabet so that the table
// splits on blanks.
std::string randomFasta(std::mt19937& rng, int fileIndex) {
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    auto name = [&](int k) { return std::to_string(fileIndex) + "_" + std::to_string(k); };
    const std::string common = "acgtacgtACGTacgtnNRy";
    const std::string rare = "XE9-*\t \x01\xff\x80Uuw";
    std::string text(1, pick(4) ? '>' : 'q');
    text += name(0);
    text += pick(5) ? "\n" : "\r\n";
    int sequences = 1, lines = pick(30);
    for (int l = 0; l < lines; ++l) {
        if (pick(6) == 0) {
            text += '>';
            text += name(sequences++);
            text += pick(4) ? "\n" : "\r\n";
            continue;
        }
        if (pick(2) == 0) {
            // a line of bases only (the converter's fast paths), at times long, at
            // times with one other byte somewhere
            const std::string bases = "acgtACGT";
            const size_t start = text.size();
            int length = pick(8) ? pick(100) : pick(600);
            for (int i = 0; i < length; ++i) text += bases[pick(8)];
            if (length && pick(3) == 0) text[start + pick(length)] = pick(2) ? 'N' : rare[pick(static_cast<int>(rare.size()))];
        } else {
            int length = pick(70);
            for (int i = 0; i < length; ++i) {
                int r = pick(100);
                if (r < 85) text += common[pick(static_cast<int>(common.size()))];
                else if (r < 97) text += std::string(pick(12) + 1, 'N');
                else text += rare[pick(static_cast<int>(rare.size()))];
            }
        }
        if (pick(25) == 0) {
            text += '>';
            text += name(sequences++);
        }
        text += pick(8) ? "\n" : "\r\n";
    }
    if (pick(3) == 0 && !text.empty()) text.pop_back();  // no final line break
    return text;
}

TEST(DnaprepFilter, RandomFastaMatchesBruteForce) {
    TempDir temp("dnaprep_filter");
    const std::string& dir = temp.path;

    seededRounds(20261208, 80, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        const unsigned seed = round.seed;
        auto pick = [&](int n) { return static_cast<int>(rng() % n); };

        std::vector<std::string> files(1 + pick(3));
        std::string args;
        for (size_t f = 0; f < files.size(); ++f) {
            files[f] = randomFasta(rng, static_cast<int>(f));
            std::ofstream(dir + "f" + std::to_string(f) + ".fa", std::ios::binary) << files[f];
            args += " f" + std::to_string(f) + ".fa";
        }
        const bool ucase = pick(3) == 0, trmask = pick(4) == 0;
        const int inputSizes[] = {0, 1, 2, 7, 16, 61};
        const int dnaSizes[] = {0, 16, 32, 48};
        const int tailchop = pick(3) ? 0 : 1 + pick(6);
        std::string options = " -q -N -C 0 -T " + std::to_string(tailchop);
        if (ucase) options += " -u";
        if (trmask) options += " -t";
        if (int m = inputSizes[pick(6)]) options += " -m " + std::to_string(m);
        if (int d = dnaSizes[pick(4)]) options += " -d " + std::to_string(d);

        // A fresh prefix per case, so that no file of an earlier case can pass for this one's.
        std::string prefix(1, 'p');
        prefix += std::to_string(seed);
        const std::string arguments = dir + " " + dir + " " + prefix + options + args;
        SCOPED_TRACE(arguments);
        const Captured run = runProgram("dnaprep", arguments);
        ASSERT_EQ(run.status, 0) << run.err;

        const std::vector<Expected> expected = filter(files, ucase, trmask, tailchop);
        std::istringstream table(run.out);
        std::string line;
        std::getline(table, line);
        std::getline(table, line);
        std::vector<int32_t> lengths;
        for (size_t i = 0; i < expected.size(); ++i) {
            const Expected& e = expected[i];
            ASSERT_TRUE(static_cast<bool>(std::getline(table, line))) << "missing table line " << i + 1;
            int number = 0;
            char nameField[512] = "", fileField[64] = "";
            long long orig = -1, dna = -1, wild = -1, chunks = -1, garbage = -1, tail = -1;
            int fields = sscanf(line.c_str(), "%d %511s %63s %lld %lld %lld %lld %lld %lld", &number, nameField,
                                fileField, &orig, &dna, &wild, &chunks, &garbage, &tail);
            ASSERT_EQ(fields, 9) << line;
            EXPECT_EQ(number, static_cast<int>(i) + 1);
            EXPECT_EQ(nameField, e.name) << line;
            EXPECT_EQ(orig, e.origSize) << line;
            EXPECT_EQ(dna, static_cast<long long>(e.bases.size())) << line;
            EXPECT_EQ(wild, e.wild) << line;
            EXPECT_EQ(chunks, e.chunks) << line;
            EXPECT_EQ(garbage, e.garbage) << line;
            EXPECT_EQ(tail, e.tailRun) << line;

            const std::string base = dir + prefix + ".ST/" + prefix + "_" + std::to_string(i);
            EXPECT_EQ(readFile(base + ".stdna"), e.bases) << "input " << i;
            EXPECT_EQ(readFile(base + ".stbin"), packed(e.bases)) << "input " << i;
            lengths.push_back(static_cast<int32_t>(e.bases.size()));
        }
        EXPECT_FALSE(static_cast<bool>(std::getline(table, line))) << "extra table line " << line;
        const std::string catalogue = dir + prefix + ".ST/" + prefix;
        EXPECT_EQ(readFile(catalogue + ".stlengths"), int32s(lengths));
        for (int32_t& l : lengths) l *= 2;
        EXPECT_EQ(readFile(catalogue + ".stblengths"), int32s(lengths));

        // Names and map: every base maps back to its own letter in the FASTA section,
        // and an interval spans a removed stretch exactly when its letters lie apart.
        // Both are read as treequery reads them, verified against the inputs' checksums.
        ChecksumFile sums;
        ASSERT_TRUE(sums.load(catalogue + ".stinsum"));
        const std::vector<SequenceName> names = readNamesCatalogue(catalogue + ".stnames", sums);
        const std::vector<InputMap> maps = readCoordinateMap(catalogue + ".stmap", sums);
        ASSERT_EQ(names.size(), expected.size());
        ASSERT_EQ(maps.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const Expected& e = expected[i];
            SCOPED_TRACE("input " + std::to_string(i));
            EXPECT_EQ(names[i].name, e.word);
            EXPECT_EQ(names[i].fastaLength, static_cast<int64_t>(e.fasta.size()));
            EXPECT_EQ(names[i].filteredLength, static_cast<int64_t>(e.bases.size()));
            EXPECT_EQ(maps[i].kept, static_cast<int64_t>(e.bases.size()));
            EXPECT_EQ(maps[i].chopped, e.chopped);
            EXPECT_EQ(fastaLength(maps[i]), static_cast<int64_t>(e.fasta.size()));
            for (size_t k = 0; k < e.bases.size(); ++k) {
                const int64_t at = fastaOffset(maps[i], static_cast<int64_t>(k));
                ASSERT_LT(at, static_cast<int64_t>(e.fasta.size()));
                EXPECT_EQ(e.fasta[at] | 32, e.bases[k] | 32) << "base " << k;
                if (k > 0) {
                    EXPECT_EQ(spansRemoved(maps[i], static_cast<int64_t>(k) - 1, static_cast<int64_t>(k) + 1),
                              at - fastaOffset(maps[i], static_cast<int64_t>(k) - 1) != 1);
                }
            }
        }
    });
}

// Sequences that end in runs of one base (with wildcards and line breaks inside the
// runs, runs as long as whole buffers, and sequences that are nothing but a run),
// so that the runs straddle the buffer-full flushes of small DNA buffers.
std::string fastaWithTailRuns(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    const std::string bases = "acgtACGT";
    std::string text;
    const int sequences = 1 + pick(5);
    for (int k = 0; k < sequences; ++k) {
        text += ">r" + std::to_string(k) + (pick(3) ? "\n" : "\r\n");
        int body = pick(4) == 0 ? 0 : pick(3) == 0 ? 16 * (1 + pick(4)) - 1 : pick(90);
        for (int i = 0; i < body; ++i) {
            const int r = pick(40);
            text += r == 0 ? '\n' : r == 1 ? 'N' : bases[pick(8)];
        }
        const char run = "acgt"[pick(4)];
        const int length = pick(3) == 0 ? 16 * pick(6) + pick(3) : pick(40);
        for (int i = 0; i < length; ++i) {
            const int r = pick(30);
            if (r == 0) text += '\n';
            else if (r == 1) text += "nN"[pick(2)];
            text += pick(2) ? run : static_cast<char>(run - 32);
        }
        if (pick(2)) text += '\n';
    }
    return text;
}

// Everything one run left: its table, then each data-set file by name.
std::map<std::string, std::string> runOutputs(const std::string& dir, const std::string& options) {
    std::filesystem::remove_all(dir + "out");
    std::filesystem::create_directory(dir + "out");
    const Captured run = runProgram("dnaprep", dir + " " + dir + "out/ p -q" + options + " r.fa");
    if (run.status != 0) {
        ADD_FAILURE() << options << "\n" << run.err;
        return {};
    }
    std::map<std::string, std::string> outputs = filesOf(dir + "out/p.ST");
    outputs["table"] = run.out;
    return outputs;
}

TEST(DnaprepFilter, BufferSizesChangeNothing) {
    TempDir temp("dnaprep_buffers");
    const std::string dir = temp.path;

    seededRounds(20261211, 60, [&](SeededRound& round) {
        std::mt19937& rng = round.rng;
        auto pick = [&](int n) { return static_cast<int>(rng() % n); };
        std::ofstream(dir + "r.fa", std::ios::binary) << fastaWithTailRuns(rng);

        const int chops[] = {0, 1, 2, 3, 5, 17, 40};
        const int contexts[] = {0, 3, 16, 40};
        std::string options = " -T " + std::to_string(chops[pick(7)]) + " -C " + std::to_string(contexts[pick(4)]);
        const auto reference = runOutputs(dir, options);
        ASSERT_FALSE(reference.empty());
        for (int variant = 0; variant < 3; ++variant) {
            const std::string sizes = " -d " + std::to_string(16 * (1 + pick(5))) + " -m " + std::to_string(1 + pick(40));
            SCOPED_TRACE(options + sizes);
            EXPECT_EQ(runOutputs(dir, options + sizes), reference);
        }
    });
}

}  // namespace
