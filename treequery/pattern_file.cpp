// Pattern files of -f: FASTA records (a record's lines make one pattern, named by the
// header's first word) or one pattern a line (named by its line number), plain or
// gzip, from a file or standard input. Read a batch at a time; time O(bytes), extra
// memory O(one batch of patterns).
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/run.h"
#include "treequery/user_terms.h"

namespace {

constexpr size_t kReadSize = 1 << 16;
// A header line longer than this is no FASTA header but damaged input.
constexpr size_t kLongestHeader = 1 << 20;

// The next line without its line break (and without a carriage return before it);
// false at the end of the data. A line longer than `cap` is an error.
bool nextLine(PatternFile& f, std::string& line, size_t cap, const char* what) {
    line.clear();
    bool any = false;
    for (;;) {
        if (f.pos == f.end) {
            if (f.eof) break;
            f.end = readInputStream(f.in, f.buffer.data(), f.buffer.size());
            f.pos = 0;
            if (f.end == 0) {
                f.eof = true;
                break;
            }
        }
        any = true;
        const uint8_t* from = f.buffer.data() + f.pos;
        const void* hit = memchr(from, '\n', f.end - f.pos);
        const size_t take = hit ? (size_t)(static_cast<const uint8_t*>(hit) - from) : f.end - f.pos;
        line.append(reinterpret_cast<const char*>(from), take);
        f.pos += take;
        if (line.size() > cap)
            fatal("pattern file %s, line %lld: %s longer than the longest input (%lld bases)\n", f.path.c_str(),
                  f.line + 1, what, f.longest);
        if (hit) {
            f.pos++;
            break;
        }
    }
    if (!any) return false;
    f.line++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void finishPattern(PatternFile& f, UserPattern& p, std::vector<UserPattern>& batch) {
    if (p.given.empty())
        fatal("pattern file %s, line %lld: pattern \"%s\" has length 0\n", f.path.c_str(), p.line, p.name.c_str());
    if ((long long)p.given.size() > f.longest)
        fatal("pattern file %s, line %lld: pattern \"%s\" is longer than the longest input (%lld bases)\n",
              f.path.c_str(), p.line, p.name.c_str(), f.longest);
    std::string problem = preparePattern(p);
    if (!problem.empty())
        fatal("pattern file %s, line %lld: pattern \"%s\": %s\n", f.path.c_str(), p.line, p.name.c_str(),
              problem.c_str());
    f.patterns++;
    batch.push_back(std::move(p));
}

std::string firstWord(const std::string& header) {
    size_t from = 1;
    while (from < header.size() && (header[from] == ' ' || header[from] == '\t')) from++;
    size_t to = from;
    while (to < header.size() && header[to] != ' ' && header[to] != '\t') to++;
    return header.substr(from, to - from);
}

}  // namespace

std::string preparePattern(UserPattern& p) {
    p.text = p.given;
    for (size_t j = 0; j < p.text.size(); j++) {
        char& c = p.text[j];
        if (baseCode(c) >= 0 || c == '*') continue;
        if (c == 'n' || c == 'N') {
            c = '*';
            continue;
        }
        char text[96];
        if ((unsigned char)c >= 0x20 && (unsigned char)c < 0x7f)
            snprintf(text, sizeof text, "character '%c' at %zu is not a base (a, c, g, t, n or *)", c, j + 1);
        else
            snprintf(text, sizeof text, "byte 0x%02x at %zu is not a base (a, c, g, t, n or *)", (unsigned char)c,
                     j + 1);
        return text;
    }
    return "";
}

std::string reverseComplement(const std::string& pattern) {
    // By table, as whole inputs pass through here: a-t and c-g in either case; "*"
    // (and N) match either strand alike, so every other byte stays.
    static const std::array<char, 256> kComplement = [] {
        std::array<char, 256> t{};
        for (int c = 0; c < 256; c++) t[(size_t)c] = (char)c;
        for (const char* pair : {"at", "cg", "AT", "CG"}) {
            t[(unsigned char)pair[0]] = pair[1];
            t[(unsigned char)pair[1]] = pair[0];
        }
        return t;
    }();
    const size_t n = pattern.size();
    std::string out(n, '\0');
    for (size_t i = 0; i < n; i++) out[i] = kComplement[(unsigned char)pattern[n - 1 - i]];
    return out;
}

void openPatternFile(PatternFile& f, const std::string& path, long long longest) {
    f.path = path == "-" ? "standard input" : path;
    f.longest = longest;
    if (!openInputStream(f.in, path)) fatal("can't open pattern file %s: %s\n", path.c_str(), strerror(errno));
    f.buffer.resize(kReadSize);
}

bool readPatternBatch(PatternFile& f, std::vector<UserPattern>& batch, size_t limit) {
    const size_t before = batch.size();
    std::string line;
    const size_t cap = (size_t)f.longest;
    // A line of a plain-text file is one pattern, named by its line number.
    auto plainPattern = [&](const std::string& text) {
        UserPattern p;
        p.name = std::to_string(f.line);
        p.given = text;
        p.line = f.line;
        finishPattern(f, p, batch);
    };
    while (batch.size() - before < limit) {
        if (f.kind == 0) {
            // The first line tells the kind: FASTA when it begins with '>'.
            if (!nextLine(f, line, kLongestHeader, "the first line is")) break;
            if (!line.empty() && line[0] == '>') {
                f.kind = 1;
                f.pendingHeader = true;
                f.header = firstWord(line);
                f.headerLine = f.line;
                continue;
            }
            f.kind = 2;
            if (line.size() > cap)
                fatal("pattern file %s, line %lld: the line is longer than the longest input (%lld bases)\n",
                      f.path.c_str(), f.line, f.longest);
            plainPattern(line);
            continue;
        }
        if (f.kind == 2) {
            if (!nextLine(f, line, cap, "the line is")) break;
            plainPattern(line);
            continue;
        }
        // FASTA: the pending header's record runs to the next header or the end.
        if (!f.pendingHeader) break;
        UserPattern p;
        p.name = f.header;
        p.line = f.headerLine;
        f.pendingHeader = false;
        while (nextLine(f, line, kLongestHeader, "the line is")) {
            if (!line.empty() && line[0] == '>') {
                f.pendingHeader = true;
                f.header = firstWord(line);
                f.headerLine = f.line;
                break;
            }
            p.given += line;
            if ((long long)p.given.size() > f.longest)
                fatal("pattern file %s, line %lld: pattern \"%s\" is longer than the longest input (%lld bases)\n",
                      f.path.c_str(), p.line, p.name.c_str(), f.longest);
        }
        finishPattern(f, p, batch);
    }
    if (f.patterns == 0 && batch.size() == before)
        fatal("pattern file %s holds no pattern\n", f.path.c_str());
    return batch.size() > before;
}
