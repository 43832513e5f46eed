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
#include "toolkit/run.h"
#include "treequery/exact_search.h"
#include "treequery/tree_store.h"
#include "treequery/treequery.h"

namespace {

bool hasDigit(const char* text) {
    for (; *text; text++)
        if (isdigit((unsigned char)*text)) return true;
    return false;
}

void parseTriples(const char* arg) {
    std::vector<long long> numbers;
    for (const char* c = arg; *c;) {
        if (!isdigit((unsigned char)*c)) {
            c++;
            continue;
        }
        long long value = 0;
        for (; isdigit((unsigned char)*c); c++) {
            value = value * 10 + (*c - '0');
            if (value > INT_MAX) fatal("bad numeric pattern argument\n");
        }
        numbers.push_back(value);
    }
    if (numbers.size() % 3 != 0) fatal("bad numeric pattern argument\n");
    int count = (int)(numbers.size() / 3);
    gQuery.triples = static_cast<PatternTriple*>(trackedMalloc(sizeof(PatternTriple) * (size_t)count));
    if (!gQuery.triples) fatal("can't allocate %d pattern triples\n", count);
    for (int p = 0; p < count; p++) {
        PatternTriple& t = gQuery.triples[p];
        t.input = (int)numbers[3 * p];
        t.offset = (int)numbers[3 * p + 1];
        t.length = (int)numbers[3 * p + 2];
        if (t.length == 0) fatal("bad numeric pattern argument: pattern triple %d,%d,%d has length 0\n", t.input,
                                 t.offset, t.length);
        if (t.length > gQuery.maxPatternLength) gQuery.maxPatternLength = t.length;
    }
    gQuery.patternCount = count;
    if (!gRun.quiet)
        note("%d pattern triple%s, maxlength=%d\n", count, plural(count), gQuery.maxPatternLength);
}

void parseWords(char* arg) {
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
    gQuery.patterns = static_cast<char**>(trackedMalloc(sizeof(char*) * words.size()));
    if (!gQuery.patterns) fatal("can't allocate %d patterns\n", count);
    for (int p = 0; p < count; p++) {
        gQuery.patterns[p] = words[p];
        int length = (int)strlen(words[p]);
        if (length > gQuery.maxPatternLength) gQuery.maxPatternLength = length;
    }
    gQuery.patternCount = count;
    if (!gRun.quiet)
        note("%d distinct pattern%s, maxlength=%d\n", count, plural(count), gQuery.maxPatternLength);
}

char* allocateText(const char* what) {
    size_t bytes = (size_t)gQuery.maxPatternLength + 1;
    char* text = static_cast<char*>(trackedMalloc(bytes));
    if (!text) fatal("can't allocate %zu bytes for the %s\n", bytes, what);
    return text;
}

}  // namespace

void parsePatterns() {
    if (!gSettings.patternArg) return;
    if (gSettings.maxNum == 0) gSettings.maxNum = kDefaultMaxNum;
    char* arg = const_cast<char*>(gSettings.patternArg);  // points into argv: split in place
    if (!arg[0]) fatal("bad pattern parameter\n");
    if (hasDigit(arg))
        parseTriples(arg);
    else
        parseWords(arg);
}

void checkPatternTriples() {
    const int origin = gSettings.indexOrigin;
    for (int p = 0; p < gQuery.patternCount && gQuery.triples; p++) {
        const PatternTriple& t = gQuery.triples[p];
        int input = t.input - origin;
        int offset = t.offset - origin;
        if (input < 0 || input >= gQuery.inputs)
            fatal("pattern triple %d,%d,%d: input %d is not one of the %d inputs%s\n", t.input, t.offset, t.length,
                  t.input, gQuery.inputs, origin ? " (numbered from 1)" : "");
        if (offset < 0 || (long long)offset + t.length > gQuery.lengths[input])
            fatal("pattern triple %d,%d,%d: offset %d and length %d reach beyond input %d of length %d%s\n",
                  t.input, t.offset, t.length, t.offset, t.length, t.input, gQuery.lengths[input],
                  origin ? " (numbered from 1)" : "");
    }
}

void checkExactPatterns() {
    if (!gQuery.patterns || gSettings.hamming >= 0) return;
    for (int p = 0; p < gQuery.patternCount; p++) {
        const char* pattern = gQuery.patterns[p];
        if (strchr(pattern, '*')) continue;  // goes to the inexact search
        for (const char* c = pattern; *c; c++) {
            if (strchr("acgtACGT", *c)) continue;
            if (isprint((unsigned char)*c))
                fatal("pattern \"%s\": character '%c' is not a base (a, c, g or t)\n", pattern, *c);
            fatal("pattern \"%s\": byte 0x%02x is not a base (a, c, g or t)\n", pattern, (unsigned char)*c);
        }
    }
}

void allocateOccurrences() {
    size_t bytes = sizeof(Occurrence) * (size_t)gSettings.maxNum;
    gQuery.occurrences = static_cast<Occurrence*>(trackedMalloc(bytes > 0 ? bytes : 1));
    if (!gQuery.occurrences) fatal("can't allocate %zu bytes for %d occurrences\n", bytes, gSettings.maxNum);
    gQuery.inputVector = static_cast<uint32_t*>(trackedCalloc((size_t)gQuery.vectorWords, sizeof(uint32_t)));
    if (!gQuery.inputVector) fatal("can't allocate the input vector of %d words\n", gQuery.vectorWords);
    gQuery.verifyBuffer = allocateText("verification buffer");
    if (gQuery.triples) gQuery.patternBuffer = allocateText("pattern buffer");
}

const char* patternText(int p) {
    if (!gQuery.triples) return gQuery.patterns[p];
    const PatternTriple& t = gQuery.triples[p];
    int input = t.input - gSettings.indexOrigin;
    int offset = t.offset - gSettings.indexOrigin;
    std::string path = formatPath(kPathLimit, "%s_%d%s", gQuery.inputBase, input, ".stdna");
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) fatal("can't open input DNA file %s\n", path.c_str());
    if (fseek(file, offset, SEEK_SET) != 0) {
        fclose(file);
        fatal("fseek failure, file %s, offset %d\n", path.c_str(), offset);
    }
    size_t got = fread(gQuery.patternBuffer, 1, (size_t)t.length, file);
    fclose(file);
    if (got != (size_t)t.length)
        fatal("problem reading DNA file %s, %d bytes wanted, got %d\n", path.c_str(), t.length, (int)got);
    gQuery.patternBuffer[t.length] = '\0';
    return gQuery.patternBuffer;
}

namespace {

bool isExact(const char* pattern) { return gSettings.hamming < 0 && !strchr(pattern, '*'); }

void noteSearchFinished(int visited) {
    if (!gRun.quiet) note("Search finished, %d tree%s (of %d) visited\n", visited, plural(visited), gQuery.trees);
}

// Patterns searched together in read mode: bounded so that their kept occurrences
// and input vectors stay within some tens of megabytes.
int groupLimit() {
    long long perPattern = 8LL * gSettings.maxNum + 4LL * gQuery.vectorWords + 64;
    long long limit = (64LL << 20) / perPattern;
    if (limit > 4096) limit = 4096;
    return limit < 1 ? 1 : (int)limit;
}

// Exact patterns from `first` on (at most groupLimit()), searched as a group and
// reported in order; returns the pattern after the group.
int searchGroup(int first) {
    std::vector<std::string> texts;
    const int limit = groupLimit();
    int p = first;
    for (; p < gQuery.patternCount && (int)texts.size() < limit; p++) {
        const char* pattern = patternText(p);
        if (!isExact(pattern)) break;
        texts.emplace_back(pattern);
    }
    std::vector<ExactResult> results;
    exactSearchGroup(texts, results);
    for (size_t k = 0; k < texts.size(); k++) {
        const ExactResult& r = results[k];
        for (const std::string& line : r.notes) note("%s", line.c_str());
        noteSearchFinished(r.visited);
        std::copy(r.kept.begin(), r.kept.end(), gQuery.occurrences);
        gQuery.occurrenceCount = r.count;
        std::copy(r.inputs.begin(), r.inputs.end(), gQuery.inputVector);
        reportExact(texts[k].c_str(), (int)texts[k].size());
    }
    return p;
}

}  // namespace

void searchPatterns() {
    allocateOccurrences();
    for (int p = 0; p < gQuery.patternCount;) {
        const char* pattern = patternText(p);
        int m = (int)strlen(pattern);
        // Read mode: patterns that select the same tree share one reading of it.
        if (!gSettings.usemmap && isExact(pattern)) {
            p = searchGroup(p);
            continue;
        }
        int visited;
        if (!isExact(pattern)) {
            visited = inexactSearch(pattern, m, gSettings.hamming > 0 ? gSettings.hamming : 0, gSettings.treeDir,
                                    gSettings.treePrefix);
        } else {
            gQuery.occurrenceCount = 0;
            memset(gQuery.inputVector, 0, sizeof(uint32_t) * (size_t)gQuery.vectorWords);
            visited = exactSearch(pattern, m);
        }
        noteSearchFinished(visited);
        if (isExact(pattern)) reportExact(pattern, m);
        p++;
    }
    releaseTree();
}
