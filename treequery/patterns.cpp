// Patterns of -p: text patterns or pattern triples, their checks, and the search
// loop of pattern mode.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/bit_vector.h"
#include "toolkit/file_io.h"
#include "toolkit/options.h"
#include "toolkit/run.h"
#include "treequery/exact_search.h"
#include "treequery/inexact_search.h"
#include "treequery/tree_store.h"
#include "treequery/treequery.h"
#include "treequery/workers.h"

namespace {

bool hasDigit(const char* text) {
    for (; *text; text++)
        if (isdigit((unsigned char)*text)) return true;
    return false;
}

void parseTriples(QueryRun& q, const char* arg) {
    std::vector<long long> numbers;
    for (const char* c = arg; *c;) {
        if (!isdigit((unsigned char)*c)) {
            c++;
            continue;
        }
        const long long value = scanDigitRun(c);
        if (value < 0) fatal("bad numeric pattern argument\n");
        numbers.push_back(value);
    }
    if (numbers.size() % 3 != 0) fatal("bad numeric pattern argument\n");
    int count = (int)(numbers.size() / 3);
    q.triples = static_cast<PatternTriple*>(trackedMalloc(sizeof(PatternTriple) * (size_t)count));
    if (!q.triples) fatal("can't allocate %d pattern triples\n", count);
    for (int p = 0; p < count; p++) {
        PatternTriple& t = q.triples[p];
        t.input = (int)numbers[3 * p];
        t.offset = (int)numbers[3 * p + 1];
        t.length = (int)numbers[3 * p + 2];
        if (t.length == 0) fatal("bad numeric pattern argument: pattern triple %d,%d,%d has length 0\n", t.input,
                                 t.offset, t.length);
        if (t.length > q.maxPatternLength) q.maxPatternLength = t.length;
    }
    q.patternCount = count;
    if (!gRun.quiet)
        note("%d pattern triple%s, maxlength=%d\n", count, plural(count), q.maxPatternLength);
}

void parseWords(QueryRun& q, char* arg) {
    std::vector<char*> words;
    for (char* c = arg; *c;) {
        if (*c == ',' || *c == ' ') {
            *c++ = '\0';
            continue;
        }
        words.push_back(c);
        while (*c && *c != ',' && *c != ' ') c++;
    }
    if (words.empty()) fatal("bad pattern parameter\n");
    int count = (int)words.size();
    q.patterns = static_cast<char**>(trackedMalloc(sizeof(char*) * words.size()));
    if (!q.patterns) fatal("can't allocate %d patterns\n", count);
    for (int p = 0; p < count; p++) {
        q.patterns[p] = words[p];
        int length = (int)strlen(words[p]);
        if (length > q.maxPatternLength) q.maxPatternLength = length;
    }
    q.patternCount = count;
    if (!gRun.quiet)
        note("%d distinct pattern%s, maxlength=%d\n", count, plural(count), q.maxPatternLength);
}

char* allocateText(const QueryRun& q, const char* what) {
    size_t bytes = (size_t)q.maxPatternLength + 1;
    char* text = static_cast<char*>(trackedMalloc(bytes));
    if (!text) fatal("can't allocate %zu bytes for the %s\n", bytes, what);
    return text;
}

}  // namespace

void parsePatterns(QuerySettings& s, QueryRun& q) {
    if (!s.patternArg && !s.patternFile) return;
    // Rows of -F report every occurrence unless -m is given.
    if (s.maxNum == 0 && !s.format) s.maxNum = kDefaultMaxNum;
    if (!s.patternArg) return;
    char* arg = const_cast<char*>(s.patternArg);  // points into argv: split in place
    if (!arg[0]) fatal("bad pattern parameter\n");
    if (hasDigit(arg))
        parseTriples(q, arg);
    else
        parseWords(q, arg);
}

void checkPatternTriples(QueryRun& q) {
    const int origin = q.settings->indexOrigin;
    for (int p = 0; p < q.patternCount && q.triples; p++) {
        const PatternTriple& t = q.triples[p];
        int input = t.input - origin;
        int offset = t.offset - origin;
        if (input < 0 || input >= q.catalogue.inputs)
            fatal("pattern triple %d,%d,%d: input %d is not one of the %d inputs%s\n", t.input, t.offset, t.length,
                  t.input, q.catalogue.inputs, origin ? " (numbered from 1)" : "");
        if (offset < 0 || (long long)offset + t.length > q.catalogue.lengths[input])
            fatal("pattern triple %d,%d,%d: offset %d and length %d reach beyond input %d of length %d%s\n",
                  t.input, t.offset, t.length, t.offset, t.length, t.input, q.catalogue.lengths[input],
                  origin ? " (numbered from 1)" : "");
    }
}

void checkExactPatterns(QueryRun& q) {
    if (!q.patterns || q.settings->hamming >= 0) return;
    for (int p = 0; p < q.patternCount; p++) {
        const char* pattern = q.patterns[p];
        if (strchr(pattern, '*')) continue;  // goes to the inexact search
        for (const char* c = pattern; *c; c++) {
            if (strchr("acgtACGT", *c)) continue;
            if (isprint((unsigned char)*c))
                fatal("pattern \"%s\": character '%c' is not a base (a, c, g or t)\n", pattern, *c);
            fatal("pattern \"%s\": byte 0x%02x is not a base (a, c, g or t)\n", pattern, (unsigned char)*c);
        }
    }
}

void allocateOccurrences(QueryRun& q) {
    const int maxNum = q.settings->maxNum;
    size_t bytes = sizeof(Occurrence) * (size_t)maxNum;
    q.occurrences = static_cast<Occurrence*>(trackedMalloc(bytes > 0 ? bytes : 1));
    if (!q.occurrences) fatal("can't allocate %zu bytes for %d occurrences\n", bytes, maxNum);
    q.inputVector = static_cast<uint32_t*>(trackedCalloc((size_t)q.catalogue.vectorWords, sizeof(uint32_t)));
    if (!q.inputVector) fatal("can't allocate the input vector of %d words\n", q.catalogue.vectorWords);
    q.verifyBuffer = allocateText(q, "verification buffer");
    if (q.triples) q.patternBuffer = allocateText(q, "pattern buffer");
}

const char* patternText(QueryRun& q, int p) {
    if (!q.triples) return q.patterns[p];
    const PatternTriple& t = q.triples[p];
    const int origin = q.settings->indexOrigin;
    readPatternText(q.texts, t.input - origin, t.offset - origin, t.length, q.patternBuffer);
    return q.patternBuffer;
}

namespace {

bool isExact(const QueryRun& q, const char* pattern) { return q.settings->hamming < 0 && !strchr(pattern, '*'); }

void noteSearchFinished(const QueryRun& q, int visited) {
    if (!gRun.quiet) note("Search finished, %d tree%s (of %d) visited\n", visited, plural(visited), q.store.trees);
}

// Patterns searched together in read mode: bounded so that their kept occurrences
// and input vectors stay within some tens of megabytes.
int groupLimit(const QueryRun& q) {
    long long perPattern = 8LL * q.settings->maxNum + 4LL * q.catalogue.vectorWords + 64;
    long long limit = (64LL << 20) / perPattern;
    if (limit > 4096) limit = 4096;
    return limit < 1 ? 1 : (int)limit;
}

// Exact patterns from `first` on (at most groupLimit()), searched as a group and
// reported in order; returns the pattern after the group.
int searchGroup(QueryRun& q, int first) {
    std::vector<std::string> texts;
    const int limit = groupLimit(q);
    int p = first;
    for (; p < q.patternCount && (int)texts.size() < limit; p++) {
        const char* pattern = patternText(q, p);
        if (!isExact(q, pattern)) break;
        texts.emplace_back(pattern);
    }
    std::vector<ExactResult> results;
    GroupOptions options;
    options.trees = q.settings->usemmap ? kGroupTreesMapped : kGroupTreesRead;
    searchExactShared(q, std::vector<std::string_view>(texts.begin(), texts.end()), results, options);
    for (size_t k = 0; k < texts.size(); k++) {
        const ExactResult& r = results[k];
        for (const std::string& line : r.notes) note("%s", line.c_str());
        noteSearchFinished(q, r.visited);
        std::copy(r.kept.begin(), r.kept.end(), q.occurrences);
        q.occurrenceCount = r.count;
        std::copy(r.inputs.begin(), r.inputs.end(), q.inputVector);
        reportExact(q, texts[k].c_str(), (int)texts[k].size());
    }
    return p;
}

// Patterns searched within a Hamming distance from `first` on, up to the next exact
// one, on the pool's threads: each worker searches a share of consecutive patterns on
// its own trees and texts, and the main thread prints the tables in pattern order as
// one thread prints them. A share done again on the main thread prints its tables as
// it goes, as one thread does before a failure. Returns the pattern after them.
int searchInexactShared(QueryRun& q, int first) {
    const int hd = q.settings->hamming > 0 ? q.settings->hamming : 0;
    std::vector<std::string> texts;
    for (int p = first; p < q.patternCount && !isExact(q, q.patterns[p]); p++) texts.emplace_back(q.patterns[p]);
    const int count = (int)texts.size();
    WorkerPool& pool = *q.pool;
    // Shares of some patterns each: a pattern alone takes less time than handing it
    // over, and a few shares per thread still even out the load.
    const int share = std::clamp(count / (16 * pool.threads), 1, 256);
    const int shares = (count + share - 1) / share;
    std::vector<OccurrenceList> found((size_t)count);
    std::vector<char> printed((size_t)shares, 0);
    auto print = [&](int i) {
        const std::string& text = texts[(size_t)i];
        OccurrenceList& results = found[(size_t)i];
        printInexactTable(q, text.c_str(), (int)text.size(), hd, results);
        results.release();
    };
    auto task = [&](int worker, QueryRun& run, int k) {
        const int to = std::min(count, (k + 1) * share);
        for (int i = k * share; i < to; i++) {
            const std::string& text = texts[(size_t)i];
            // The lines of a pattern stay together, in the order one thread notes them.
            noteSearchFinished(run, inexactFind(run, text.c_str(), (int)text.size(), hd, found[(size_t)i]));
            if (worker >= pool.threads) print(i);
        }
        if (worker >= pool.threads) printed[(size_t)k] = 1;
    };
    auto deliver = [&](int k) {
        if (printed[(size_t)k]) return;
        const int to = std::min(count, (k + 1) * share);
        for (int i = k * share; i < to; i++) print(i);
    };
    runOrdered(pool, q, shares, 2 * pool.threads, task, deliver);
    return first + count;
}

}  // namespace

void searchPatternList(QueryRun& q) {
    const QuerySettings& s = *q.settings;
    for (int p = 0; p < q.patternCount;) {
        const char* pattern = patternText(q, p);
        int m = (int)strlen(pattern);
        // Read mode: patterns that select the same tree share one reading of it. Mapped
        // trees on threads: the group's trees are shared out among them (but for -v,
        // whose tree file lines only the search of one pattern prints).
        const bool shareMapped = q.pool && q.pool->threads >= 2 && !gRun.verbose;
        if (isExact(q, pattern) && (!s.usemmap || shareMapped)) {
            p = searchGroup(q, p);
            continue;
        }
        // Triples are read from the texts as they come: they stay on this thread.
        if (!isExact(q, pattern) && q.pool && q.pool->threads >= 2 && !q.triples) {
            p = searchInexactShared(q, p);
            continue;
        }
        int visited;
        if (!isExact(q, pattern)) {
            visited = inexactSearch(q, pattern, m, s.hamming > 0 ? s.hamming : 0);
        } else {
            q.occurrenceCount = 0;
            memset(q.inputVector, 0, sizeof(uint32_t) * (size_t)q.catalogue.vectorWords);
            visited = exactSearch(q, pattern, m);
        }
        noteSearchFinished(q, visited);
        if (isExact(q, pattern)) reportExact(q, pattern, m);
        p++;
    }
}

void searchPatterns(QueryRun& q) {
    allocateOccurrences(q);
    searchPatternList(q);
    releaseTree(q.store);
}
