// Random data sets built with the real pipeline and cut into many small trees; the
// traversal's Standard N and K tables and its equivalence and containment lines are
// compared with a brute force over the suffixes each tree holds.
//
// Trees hold consecutive ranges of the suffix order, and a node counts only the leaves
// of its own tree, so the brute force groups the suffixes of one tree at a time: the
// suffixes a tree holds are read from its leaves, everything else from the inputs'
// text. A node at an odd bit depth stands for whole characters plus the high bit of
// the next one; its length is printed in whole characters, so the brute force counts
// those half-character strings as well.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/dna.h"
#include "tests/support/files.h"
#include "tests/support/output.h"
#include "tests/support/run.h"
#include "tests/support/seed.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace testsupport;

struct Suffix {
    int input;
    int pos;
};

struct Dataset {
    std::string dir;  // ends in "/"
    std::vector<std::string> texts;
    std::vector<std::vector<Suffix>> trees;
};

void run(const std::string& command) {
    const Captured c = runCaptured(command);
    ASSERT_EQ(c.status, 0) << shown(command, c);
}

// The suffixes each tree holds: every leaf record, at the bit depth of its chain.
std::vector<Suffix> treeSuffixes(const std::string& path, const std::vector<int>& bitLengths) {
    std::string bytes = readFile(path);
    const size_t n = bytes.size() / 12;
    std::vector<uint32_t> w(n * 3);
    memcpy(w.data(), bytes.data(), n * 12);
    std::vector<Suffix> out;
    std::vector<std::pair<uint32_t, int64_t>> stack{{0, 0}};
    while (!stack.empty()) {
        auto [x, parent] = stack.back();
        stack.pop_back();
        int64_t depth = parent + w[3 * x];
        bool leaf = w[3 * x + 1] & 1, more = w[3 * x + 1] & 2;
        if (leaf || more) {
            for (uint32_t y = leaf ? x : x + 1;; y++) {
                int input = (int)(w[3 * y + 1] >> 2);
                out.push_back(Suffix{input, (int)((bitLengths[input] - depth) / 2)});
                if (!(w[3 * y + 1] & 2)) break;
            }
        }
        if (!leaf) {
            if (w[3 * x + 1] >> 2) stack.push_back({w[3 * x + 1] >> 2, depth});
            if (w[3 * x + 2] >> 2) stack.push_back({w[3 * x + 2] >> 2, depth});
        }
    }
    return out;
}

int highBit(char c) { return (c == 'g' || c == 't') ? 1 : 0; }

// Best length (in characters) per occurrence count and per count of distinct inputs,
// over every string of one tree: whole characters, or whole characters plus the high
// bit of the next one.
struct Best {
    std::map<int, int> byN, byK;
    int reference = -1;  // -r: only strings that occur in this input count
    void offer(int n, uint64_t inputs, int m) {
        if (m <= 0) return;
        if (reference >= 0 && !(inputs >> reference & 1)) return;
        const int k = __builtin_popcountll(inputs);
        byN[n] = std::max(byN[n], m);
        byK[k] = std::max(byK[k], m);
    }
};

void bruteForceTree(const Dataset& d, const std::vector<Suffix>& suffixes, int threshold, Best& best) {
    std::vector<std::string_view> views;
    std::vector<int> inputs;
    std::vector<Suffix> sorted = suffixes;
    std::sort(sorted.begin(), sorted.end(), [&](const Suffix& a, const Suffix& b) {
        return std::string_view(d.texts[a.input]).substr(a.pos) < std::string_view(d.texts[b.input]).substr(b.pos);
    });
    for (const Suffix& s : sorted) {
        views.push_back(std::string_view(d.texts[s.input]).substr(s.pos));
        inputs.push_back(s.input);
    }
    const size_t n = views.size();
    std::vector<size_t> lcp(n, 0);
    size_t longest = 0;
    for (size_t i = 0; i < n; i++) {
        longest = std::max(longest, views[i].size());
        if (i == 0) continue;
        size_t l = 0;
        while (l < views[i].size() && l < views[i - 1].size() && views[i][l] == views[i - 1][l]) l++;
        lcp[i] = l;
    }
    for (size_t m = std::max<size_t>(1, threshold); m <= longest; m++) {
        // Members of one m-character group are consecutive among the suffixes of at least
        // m characters; within it those continuing with a, c come before g, t.
        size_t i = 0;
        while (i < n) {
            if (views[i].size() < m) {
                i++;
                continue;
            }
            int count = 0, half[2] = {0, 0};
            uint64_t all = 0, halves[2] = {0, 0};
            size_t j = i, run = SIZE_MAX;
            for (; j < n; j++) {
                if (j > i) run = std::min(run, lcp[j]);
                if (views[j].size() < m) continue;
                if (j > i && run < m) break;
                run = SIZE_MAX;
                count++;
                all |= 1ull << inputs[j];
                if (views[j].size() > m) {
                    int b = highBit(views[j][m]);
                    half[b]++;
                    halves[b] |= 1ull << inputs[j];
                }
            }
            best.offer(count, all, (int)m);
            for (int b = 0; b < 2; b++)
                if (half[b] > 0) best.offer(half[b], halves[b], (int)m);
            i = j;
        }
    }
}

struct Row {
    int number, K, N, NC, sequence, position, length;
    std::string where, pattern;
};

struct SetTable {
    int total = -1;
    std::vector<Row> rows;
};

struct Output {
    std::map<std::string, std::vector<Row>> tables;  // by title word: "N", "K"
    std::map<int, SetTable> sets;                    // by set number
    std::vector<std::pair<int, std::vector<int>>> equivs;
    std::vector<int> contained;
};

Output parseOutput(const std::string& text) {
    Output out;
    for (const std::string& line : lines(text)) {
        if (line.rfind("Equiv (length ", 0) == 0) {
            int length = 0;
            sscanf(line.c_str(), "Equiv (length %d):", &length);
            std::vector<int> members;
            std::string rest = line.substr(line.find(':') + 1);
            for (char& c : rest)
                if (c == ',') c = ' ';
            std::istringstream m(rest);
            int v;
            while (m >> v) members.push_back(v);
            std::sort(members.begin(), members.end());
            out.equivs.push_back({length, members});
        } else if (line.rfind("Containment: input ", 0) == 0) {
            out.contained.push_back(atoi(line.c_str() + 19));
        }
    }
    for (const Table& t : parseTables(text)) {
        const std::string table = t.title.find("Standard N") != std::string::npos   ? "N"
                                  : t.title.find("Standard K") != std::string::npos ? "K"
                                                                                    : "set";
        int set = -1;
        if (table == "set") {
            set = atoi(t.title.c_str() + t.title.find(" Results (") + 10);
            out.sets[set].total = atoi(t.title.c_str() + t.title.rfind("  (") + 3);
        }
        for (const std::string& line : t.rows) {
            if (line.empty() || line[0] != ' ') continue;
            Row r;
            std::istringstream f(line);
            f >> r.number >> r.where >> r.K >> r.N >> r.NC >> r.sequence >> r.position >> r.length >> r.pattern;
            if (table == "set")
                out.sets[set].rows.push_back(r);
            else
                out.tables[table].push_back(r);
        }
    }
    return out;
}

// Every suffix of the tree that holds (input, pos) and begins with the m characters
// there (and, for a half character, with the same high bit after them).
struct Group {
    int count = 0;
    uint64_t inputs = 0;
};
Group groupOf(const Dataset& d, int tree, int input, int pos, int m, bool half) {
    Group g;
    std::string_view key = std::string_view(d.texts[input]).substr(pos, m);
    int bit = half ? highBit(d.texts[input][pos + m]) : 0;
    for (const Suffix& s : d.trees[tree]) {
        std::string_view v = std::string_view(d.texts[s.input]).substr(s.pos);
        if (v.substr(0, m) != key || v.size() < (size_t)m) continue;
        if (half && (v.size() <= (size_t)m || highBit(v[m]) != bit)) continue;
        g.count++;
        g.inputs |= 1ull << s.input;
    }
    return g;
}

std::string whereText(uint64_t inputs, int count) {
    std::string s;
    for (int i = 0; i < count; i++) s += (inputs >> i & 1) ? '1' : '0';
    return s;
}

// Random inputs that share segments (copied, sometimes with a changed base), some
// identical to an earlier input and some contained in one.
std::vector<std::string> randomInputs(std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* bases = pick(0, 3) == 0 ? "aacgttta" : "acgt";
    const int alphabet = (int)strlen(bases);
    auto randomText = [&](int n) {
        std::string s;
        for (int i = 0; i < n; i++) s += bases[pick(0, alphabet - 1)];
        return s;
    };
    int count = pick(2, 9);
    std::vector<std::string> in;
    for (int i = 0; i < count; i++) {
        int kind = i == 0 ? 0 : pick(0, 5);
        std::string s;
        if (kind == 1) {
            s = in[pick(0, i - 1)];  // identical
        } else if (kind == 2) {
            const std::string& o = in[pick(0, i - 1)];
            int a = pick(0, (int)o.size() - 1);
            s = o.substr(a, pick(1, (int)o.size() - a));  // contained
        } else {
            int parts = pick(1, 4);
            for (int p = 0; p < parts; p++) {
                if (!in.empty() && pick(0, 1)) {
                    const std::string& o = in[pick(0, (int)in.size() - 1)];
                    int a = pick(0, (int)o.size() - 1);
                    std::string seg = o.substr(a, pick(1, std::min(40, (int)o.size() - a)));
                    if (pick(0, 2) == 0) seg[pick(0, (int)seg.size() - 1)] = bases[pick(0, alphabet - 1)];
                    s += seg;
                } else {
                    s += randomText(pick(1, 30));
                }
            }
        }
        in.push_back(s);
    }
    return in;
}

Dataset buildDataset(const std::vector<std::string>& inputs, int maxNodes, int runSize, const std::string& dir) {
    Dataset d;
    d.dir = dir;
    {
        std::ofstream fa(dir + "in.fa");
        for (size_t i = 0; i < inputs.size(); i++) fa << ">s" << i << "\n" << inputs[i] << "\n";
    }
    const std::string bin = BIN_DIR;
    run(bin + "/dnaprep " + dir + " " + dir + " ds in.fa");
    // Runs of a few hundred suffixes: several runs to merge, and little memory.
    run(bin + "/runarray " + dir + " ds -q -r " + std::to_string(runSize));
    run(bin + "/treebuild " + dir + " ds -q -n " + std::to_string(maxNodes));
    std::vector<int> bitLengths;
    for (size_t i = 0; i < inputs.size(); i++) {
        d.texts.push_back(readFile(dir + "ds.ST/ds_" + std::to_string(i) + ".stdna"));
        bitLengths.push_back(2 * (int)d.texts.back().size());
    }
    for (int t = 0;; t++) {
        std::string path = dir + "ds.ST/ds_" + std::to_string(t) + ".stree";
        if (!exists(path)) break;
        d.trees.push_back(treeSuffixes(path, bitLengths));
    }
    return d;
}

// ---- Result sets: every node of every tree, from the suffixes alone ----

// The sets of one run, in set-table order: custom (-s), singles (-1), pairs (-2), then
// one per K number and one per N number.
struct SetSpec {
    char kind;  // 'C', 'K' or 'N'
    std::vector<int> members;
    int number = 0;
};

struct Options {
    int threshold = 0, tfreq = 0, bestnum = 20, reference = -1;
    bool singles = false, pairs = false;
    std::vector<std::vector<int>> custom;
    std::vector<int> kNumbers, nNumbers;
    std::vector<SetSpec> sets;

    std::string arguments() const {
        std::string a;
        if (threshold) a += " -t " + std::to_string(threshold);
        if (tfreq) a += " -u " + std::to_string(tfreq);
        if (bestnum != 20) a += " -b " + std::to_string(bestnum);
        if (reference >= 0) a += " -r " + std::to_string(reference);
        if (singles) a += " -1";
        if (pairs) a += " -2";
        if (!custom.empty()) {
            a += " -s ";
            for (size_t i = 0; i < custom.size(); i++) {
                for (size_t m = 0; m < custom[i].size(); m++) {
                    if (m) a += ",";
                    a += std::to_string(custom[i][m]);
                }
                if (i + 1 < custom.size()) a += ":";
            }
        }
        auto list = [](const std::vector<int>& v) {
            std::string t;
            for (size_t i = 0; i < v.size(); i++) {
                if (i) t += ",";
                t += std::to_string(v[i]);
            }
            return t;
        };
        if (!kNumbers.empty()) a += " -k " + list(kNumbers);
        if (!nNumbers.empty()) a += " -n " + list(nNumbers);
        return a;
    }
};

Options randomOptions(std::mt19937& rng, int inputs) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Options o;
    o.threshold = pick(0, 3) == 0 ? 3 : 0;
    o.tfreq = pick(0, 2) == 0 ? pick(1, 3) : 0;
    o.bestnum = pick(0, 1) ? 20 : pick(1, 5);
    o.reference = pick(0, 3) == 0 ? pick(0, inputs - 1) : -1;
    o.singles = pick(0, 1);
    o.pairs = pick(0, 1);
    for (int c = pick(0, 2); c > 0; c--) {
        std::vector<int> members;
        for (int m = pick(1, 3); m > 0; m--) members.push_back(pick(0, inputs - 1));
        o.custom.push_back(members);
    }
    for (int c = pick(0, 2); c > 0; c--) o.kNumbers.push_back(pick(1, inputs));
    for (int c = pick(0, 2); c > 0; c--) o.nNumbers.push_back(pick(1, 6));

    for (const auto& m : o.custom) o.sets.push_back(SetSpec{'C', m});
    if (o.singles)
        for (int i = 0; i < inputs; i++)
            if (o.reference < 0 || i == o.reference) o.sets.push_back(SetSpec{'C', {i}});
    if (o.pairs)
        for (int i = 0; i < inputs; i++)
            for (int j = i + 1; j < inputs; j++) {
                if (o.reference >= 0 && i != o.reference && j != o.reference) continue;
                o.sets.push_back(SetSpec{'C', {i, j}});
            }
    for (int k : o.kNumbers) o.sets.push_back(SetSpec{'K', {}, k});
    for (int v : o.nNumbers) o.sets.push_back(SetSpec{'N', {}, v});
    return o;
}


// A node a set accepted: the leaves [first, first + count) of the tree's sorted suffixes.
struct Candidate {
    int tree;
    int depth;
    size_t first, count;  // a range of the sorted suffixes; members have >= depth bits
    int leaves;
    uint64_t inputs;
};

struct SetExpectation {
    int total = 0;
    std::vector<int> lengths;  // characters, of every candidate
    std::vector<Candidate> nodes;
};

struct SortedTree {
    std::vector<Suffix> suffixes;
    std::vector<std::string_view> views;
};

SortedTree sortTree(const Dataset& d, const std::vector<Suffix>& suffixes) {
    SortedTree t;
    t.suffixes = suffixes;
    std::sort(t.suffixes.begin(), t.suffixes.end(), [&](const Suffix& a, const Suffix& b) {
        return std::string_view(d.texts[a.input]).substr(a.pos) < std::string_view(d.texts[b.input]).substr(b.pos);
    });
    for (const Suffix& s : t.suffixes) t.views.push_back(std::string_view(d.texts[s.input]).substr(s.pos));
    return t;
}

// Every node of one tree: the root, every bit depth where a suffix ends, and every bit
// depth where suffixes sharing a prefix branch; each is offered to the sets as the walk
// would offer it.
void setsOfTree(const Dataset& d, const SortedTree& t, int tree, const Options& o, std::vector<SetExpectation>& want) {
    const size_t n = t.views.size();
    std::vector<size_t> lcpBits(n, 0);
    size_t longest = 0;
    for (size_t i = 0; i < n; i++) {
        longest = std::max(longest, 2 * t.views[i].size());
        if (i == 0) continue;
        const std::string_view a = t.views[i - 1], b = t.views[i];
        size_t l = 0;
        while (l < a.size() && l < b.size() && a[l] == b[l]) l++;
        lcpBits[i] = 2 * l + (l < a.size() && l < b.size() && (baseCode(a[l]) >> 1) == (baseCode(b[l]) >> 1) ? 1 : 0);
    }
    for (size_t D = 0; D <= longest; D++) {
        size_t i = 0;
        while (i < n) {
            if (2 * t.views[i].size() < D) {
                i++;
                continue;
            }
            size_t j = i + 1;
            size_t run = SIZE_MAX;
            for (; j < n; j++) {
                run = std::min(run, lcpBits[j]);
                if (2 * t.views[j].size() < D) continue;
                if (run < D) break;
                run = SIZE_MAX;
            }
            // Members: the suffixes of at least D bits in [i, j).
            bool ends = false, zero = false, one = false;
            int count = 0;
            uint64_t inputs = 0;
            uint8_t M[64] = {}, C[64] = {}, A = 15, O = 0;
            for (size_t x = i; x < j; x++) {
                const std::string_view v = t.views[x];
                if (2 * v.size() < D) continue;
                const Suffix& s = t.suffixes[x];
                if (2 * v.size() == D) ends = true;
                else (bitAt(v, D) ? one : zero) = true;
                const int p = s.pos > 0 ? (int)baseCode(d.texts[s.input][s.pos - 1]) : 0;
                count++;
                inputs |= 1ull << s.input;
                C[s.input]++;
                if (s.pos > 0) {
                    M[s.input] |= (uint8_t)(1 << p);
                    A &= (uint8_t)(1 << p);
                }
                O |= (uint8_t)(1 << p);
            }
            const bool node = D == 0 || ends || (zero && one);
            const bool reported = (int)D >= 2 * o.threshold && (o.reference < 0 || (inputs >> o.reference & 1));
            if (node && reported) {
                const int k = __builtin_popcountll(inputs);
                auto single = [](uint8_t m) { return m == 1 || m == 2 || m == 4 || m == 8; };
                for (size_t sj = 0; sj < o.sets.size(); sj++) {
                    const SetSpec& set = o.sets[sj];
                    bool ok;
                    if (set.kind == 'C') {
                        ok = k >= (int)set.members.size();
                        for (int m : set.members) ok = ok && (inputs >> m & 1) && (!o.tfreq || C[m] <= o.tfreq);
                        if (ok && set.members.size() == 1) {
                            ok = !single(M[set.members[0]]);
                        } else if (ok) {
                            uint8_t all = 15;
                            for (int m : set.members) all &= M[m] & 15;
                            ok = all == 0;
                        }
                    } else if (set.kind == 'K') {
                        ok = k == set.number && A == 0;
                    } else {
                        ok = count == set.number && !single(O);
                    }
                    if (!ok) continue;
                    want[sj].total++;
                    want[sj].lengths.push_back((int)D / 2);
                    want[sj].nodes.push_back(Candidate{tree, (int)D, i, (size_t)(j - i), count, inputs});
                }
            }
            i = j;
        }
    }
}

void checkCase(unsigned seed, const std::string& dir) {
    std::mt19937 rng(seed);
    std::vector<std::string> inputs = randomInputs(rng);
    const int maxNodes = std::uniform_int_distribution<int>(12, 160)(rng);
    const int runSize = std::uniform_int_distribution<int>(100, 1000)(rng);
    const Options o = randomOptions(rng, (int)inputs.size());
    const int threshold = o.threshold;
    Dataset d = buildDataset(inputs, maxNodes, runSize, dir);
    const int n = (int)d.texts.size();
    SCOPED_TRACE("options" + o.arguments());

    // Every suffix lies in exactly one tree.
    std::vector<int> treeOf;
    std::map<std::pair<int, int>, int> where;
    size_t total = 0;
    for (size_t t = 0; t < d.trees.size(); t++)
        for (const Suffix& s : d.trees[t]) {
            ASSERT_TRUE(where.emplace(std::make_pair(s.input, s.pos), (int)t).second) << "suffix in two trees";
            total++;
        }
    size_t expected = 0;
    for (const std::string& s : d.texts) expected += s.size();
    ASSERT_EQ(total, expected);

    const int sresults = 4000;
    std::string command = std::string(BIN_DIR) + "/treequery " + dir + " ds -q -0 " + std::to_string(sresults) +
                          " -K -e -o " + dir + "out.txt" + o.arguments();
    run(command);
    Output out = parseOutput(readFile(dir + "out.txt"));

    Best best;
    best.reference = o.reference;
    for (const auto& tree : d.trees) bruteForceTree(d, tree, threshold, best);

    // Table lengths against the brute force.
    std::map<int, int> gotN, gotK;
    for (const Row& r : out.tables["N"]) gotN[r.number] = r.length;
    for (const Row& r : out.tables["K"]) gotK[r.number] = r.length;
    for (int k = 2; k <= std::min(200, n); k++) {
        int want = best.byK.count(k) ? best.byK[k] : 0;
        int got = gotK.count(k) ? gotK[k] : 0;
        EXPECT_EQ(got, want) << "Standard K, K=" << k;
    }
    for (int c = 2; c < sresults; c++) {
        int want = best.byN.count(c) ? best.byN[c] : 0;
        int got = gotN.count(c) ? gotN[c] : 0;
        EXPECT_EQ(got, want) << "Standard N, N=" << c;
    }

    // Each row's occurrence really holds a string of that length with that count.
    for (const char* table : {"N", "K"}) {
        for (const Row& r : out.tables[table]) {
            ASSERT_LE(r.position + r.length, (int)d.texts[r.sequence].size()) << table << " row " << r.number;
            int tree = where.at({r.sequence, r.position});
            bool found = false;
            for (bool half : {false, true}) {
                if (half && r.position + r.length >= (int)d.texts[r.sequence].size()) continue;
                Group g = groupOf(d, tree, r.sequence, r.position, r.length, half);
                if (g.count == r.N && __builtin_popcountll(g.inputs) == r.K && whereText(g.inputs, n) == r.where)
                    found = true;
            }
            EXPECT_TRUE(found) << table << " row " << r.number << ": N " << r.N << " K " << r.K << " at "
                               << r.sequence << ":" << r.position << " length " << r.length;
            EXPECT_EQ(r.pattern, d.texts[r.sequence].substr(r.position, std::min(100, r.length)));
        }
    }

    // Identical inputs and contained inputs, per tree (each whole input's suffix is in one).
    std::multiset<std::pair<int, std::vector<int>>> wantEquiv, gotEquiv(out.equivs.begin(), out.equivs.end());
    std::vector<std::vector<int>> wantContained;
    for (const auto& tree : d.trees) {
        std::map<std::string, std::vector<int>> whole;
        for (const Suffix& s : tree)
            if (s.pos == 0 && (int)d.texts[s.input].size() >= threshold) whole[d.texts[s.input]].push_back(s.input);
        for (auto& [text, members] : whole) {
            std::sort(members.begin(), members.end());
            if (members.size() > 1) wantEquiv.insert({2 * (int)text.size(), members});
            bool more = false;
            for (const Suffix& s : tree) {
                bool member = s.pos == 0 && std::binary_search(members.begin(), members.end(), s.input);
                if (!member && std::string_view(d.texts[s.input]).substr(s.pos).starts_with(text)) more = true;
            }
            if (more) wantContained.push_back(members);
        }
    }
    EXPECT_EQ(gotEquiv, wantEquiv);
    EXPECT_EQ(out.contained.size(), wantContained.size());
    for (const auto& members : wantContained) {
        int hits = 0;
        for (int u : out.contained) hits += std::binary_search(members.begin(), members.end(), u);
        EXPECT_EQ(hits, 1) << "contained class of input " << members[0];
    }

    // Result sets: the number of candidates, the longest kept, and each row a node the
    // set accepts that holds the reported occurrence.
    std::vector<SetExpectation> want(o.sets.size());
    std::vector<SortedTree> sorted;
    for (size_t t = 0; t < d.trees.size(); t++) {
        sorted.push_back(sortTree(d, d.trees[t]));
        setsOfTree(d, sorted.back(), (int)t, o, want);
    }
    ASSERT_EQ(out.sets.size(), o.sets.size());
    for (size_t j = 0; j < o.sets.size(); j++) {
        SCOPED_TRACE("set " + std::to_string(j));
        const SetTable& got = out.sets[(int)j];
        EXPECT_EQ(got.total, want[j].total);
        std::vector<int> lengths = want[j].lengths;
        std::sort(lengths.rbegin(), lengths.rend());
        lengths.resize(std::min<size_t>(lengths.size(), o.bestnum));
        while (!lengths.empty() && lengths.back() == 0) lengths.pop_back();
        std::vector<int> rowLengths;
        for (size_t p = 0; p < got.rows.size(); p++) {
            const Row& r = got.rows[p];
            rowLengths.push_back(r.length);
            EXPECT_EQ(r.number, (int)p);
            EXPECT_EQ(r.NC, 0);
            if (p > 0) {
                const Row& q = got.rows[p - 1];
                EXPECT_TRUE(std::make_tuple(-q.length, q.sequence, q.position) <=
                            std::make_tuple(-r.length, r.sequence, r.position))
                    << "row " << p;
            }
            bool found = false;
            for (const Candidate& c : want[j].nodes) {
                if (c.depth / 2 != r.length || c.leaves != r.N || __builtin_popcountll(c.inputs) != r.K ||
                    whereText(c.inputs, n) != r.where)
                    continue;
                const SortedTree& t = sorted[c.tree];
                for (size_t x = c.first; x < c.first + c.count && !found; x++)
                    found = t.suffixes[x].input == r.sequence && t.suffixes[x].pos == r.position &&
                            2 * (int)t.views[x].size() >= c.depth;
                if (found) break;
            }
            EXPECT_TRUE(found) << "row " << p << ": N " << r.N << " K " << r.K << " at " << r.sequence << ":"
                               << r.position << " length " << r.length;
        }
        EXPECT_EQ(rowLengths, lengths);
    }
}

TEST(TraversalProperty, TablesAndEquivalenceAgreeWithBruteForce) {
    TempDir temp("tqtraverse-prop");
    const std::string& root = temp.path;
    seededRounds(20261208, 14, [&](SeededRound& round) {
        const std::string dir = root + std::to_string(round.index) + "/";
        mkdir(dir.c_str(), 0755);
        checkCase(round.seed, dir);
    });
}

}  // namespace
