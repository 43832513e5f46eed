// Reading the patterns of dnatrees search and their IUPAC codes. Time O(bytes),
// memory one batch.
#include "dnatrees/patterns.h"

#include <cctype>

#include "toolkit/run.h"

namespace {

// Every pattern, from -p or a file, goes through the same checks.
void checkPattern(const PatternSource& src, Pattern& p, const std::string& where) {
    if (p.given.empty()) fatal("%s: a pattern of length 0\n", where.c_str());
    for (char c : p.given) {
        uint8_t set = baseSet(c);
        if (!set)
            fatal("%s: pattern %s has '%c', which is no IUPAC base code (A C G T R Y S W K M B D H V N)\n",
                  where.c_str(), p.given.c_str(), c);
        if (set != 1 && set != 2 && set != 4 && set != 8) p.degenerate = true;
    }
    if (static_cast<int64_t>(p.given.size()) > src.longest)
        fatal("%s: pattern %s (%zu bases) is longer than every sequence of the data set (the longest has %lld)\n",
              where.c_str(), p.name.c_str(), p.given.size(), static_cast<long long>(src.longest));
}

std::string firstWord(const std::string& header) {
    size_t from = header.find_first_not_of(" \t", 1);
    if (from == std::string::npos) return "";
    return header.substr(from, header.find_first_of(" \t", from) - from);
}

std::string trimmed(const std::string& s) {
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// One pattern of the file; false at its end.
bool nextFromFile(PatternSource& src, Pattern& p, std::string& where) {
    LineReader& r = *src.file;
    if (!src.decided) {
        src.decided = true;
        if (!r.nextFilled(src.line)) fatal("%s holds no pattern\n", src.path.c_str());
        src.fasta = trimmed(src.line)[0] == '>';
        src.pending = true;
    }
    if (!src.fasta) {
        if (!src.pending && !r.nextFilled(src.line)) return false;
        src.pending = false;
        p.given = trimmed(src.line);
        p.name = std::to_string(r.line);
        where = src.path + " line " + std::to_string(r.line);
        return true;
    }
    if (!src.pending) return false;
    src.pending = false;
    p.name = firstWord(trimmed(src.line));
    where = src.path + " line " + std::to_string(r.line);
    p.given.clear();
    while (r.next(src.line)) {
        if (!src.line.empty() && src.line[0] == '>') {
            src.pending = true;
            break;
        }
        p.given += trimmed(src.line);
    }
    return true;
}

}  // namespace

uint8_t baseSet(char c) {
    switch (toupper(static_cast<unsigned char>(c))) {
        case 'A': return 1;
        case 'C': return 2;
        case 'G': return 4;
        case 'T': return 8;
        case 'R': return 1 | 4;
        case 'Y': return 2 | 8;
        case 'S': return 2 | 4;
        case 'W': return 1 | 8;
        case 'K': return 4 | 8;
        case 'M': return 1 | 2;
        case 'B': return 2 | 4 | 8;
        case 'D': return 1 | 4 | 8;
        case 'H': return 1 | 2 | 8;
        case 'V': return 1 | 2 | 4;
        case 'N': return 15;
        default: return 0;
    }
}

std::string reverseComplementIupac(const std::string& pattern) {
    // Complement of each code, upper case; lower case maps through the same table.
    static const char kFrom[] = "ACGTRYSWKMBDHVN", kTo[] = "TGCAYRSWMKVHDBN";
    std::string out(pattern.rbegin(), pattern.rend());
    for (char& c : out) {
        const bool lower = islower(static_cast<unsigned char>(c));
        for (int i = 0; kFrom[i]; ++i)
            if (toupper(static_cast<unsigned char>(c)) == kFrom[i]) {
                c = lower ? static_cast<char>(tolower(kTo[i])) : kTo[i];
                break;
            }
    }
    return out;
}

std::string searchedText(const Pattern& p) {
    std::string text = p.given;
    for (char& c : text) {
        uint8_t set = baseSet(c);
        if (set != 1 && set != 2 && set != 4 && set != 8) c = 'N';
    }
    return text;
}

void openPatterns(PatternSource& src, const std::vector<std::string>& given, const char* path, int64_t longest) {
    src.given = given;
    src.longest = longest;
    if (path) {
        src.path = path;
        src.file = std::make_unique<LineReader>(path);
        if (src.path == "-") src.path = "standard input";
    }
}

bool readPatterns(PatternSource& src, std::vector<Pattern>& batch) {
    batch.clear();
    while (batch.size() < kSearchBatch) {
        Pattern p;
        std::string where;
        if (src.nextGiven < src.given.size()) {
            p.given = p.name = src.given[src.nextGiven++];
            where = "-p " + p.given;
        } else if (!src.file || !nextFromFile(src, p, where)) {
            break;
        }
        checkPattern(src, p, where);
        batch.push_back(std::move(p));
        ++src.read;
    }
    return !batch.empty();
}
