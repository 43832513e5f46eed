// The catalogue line, the index origin of -r, and the set table of traversal mode:
// custom sets (-s), singles (-1), pairs (-2), K sets (-k), N sets (-n), their heaps,
// the standard N and K arrays and the print buffer.
#include <cctype>
#include <climits>
#include <cstring>
#include <string>

#include "toolkit/catalogue.h"
#include "toolkit/checksum.h"
#include "toolkit/data_set.h"
#include "toolkit/options.h"
#include "toolkit/run.h"
#include "treequery/treequery.h"

namespace {

template <typename T>
T* allocate(size_t count, const char* what) {
    T* memory = static_cast<T*>(trackedCalloc(count > 0 ? count : 1, sizeof(T)));
    if (!memory) fatal("can't allocate %zu bytes for %s\n", count * sizeof(T), what);
    return memory;
}

ResultSet& newSet(QueryRun& q, int kind) {
    ResultSet& set = q.sets[q.setCount++];
    memset(&set, 0, sizeof set);
    set.kind = kind;
    return set;
}

void checkMember(const QueryRun& q, int member, int given) {
    if (member >= q.catalogue.inputs)
        fatal("setspecs: set member %d is not one of the %d inputs\n", given, q.catalogue.inputs);
}

// "-s 3:4,6:2,3,5": digits build a member, ":" closes a set, any other character
// only ends the member.
void parseCustomSets(const QuerySettings& s, QueryRun& q, const char* text) {
    const int origin = s.indexOrigin;
    ResultSet* current = nullptr;
    long long number = -1;
    auto appendPending = [&]() {
        if (number < 0) return;
        long long member = number - origin;
        number = -1;
        if (member < 0) return;
        checkMember(q, (int)member, (int)(member + origin));
        if (!current) {
            if (q.setCount >= kMaxSets)
                fatal("setspecs: too many sets %d (max %d)\n", q.setCount + 1, kMaxSets);
            current = &newSet(q, kCustomSet);
        }
        if (current->memberCount >= kMaxSetMembers)
            fatal("setspecs: too many set members %d (max %d)\n", current->memberCount + 1, kMaxSetMembers);
        current->members[current->memberCount++] = (int)member;
    };
    for (const char* c = text;; c++) {
        if (isdigit((unsigned char)*c)) {
            const char* digits = c;
            number = scanDigitRun(c);
            if (number < 0)
                fatal("setspecs: set member %.*s is not one of the %d inputs\n", (int)(c - digits), digits,
                      q.catalogue.inputs);
        }
        appendPending();
        if (*c == ':' || !*c) current = nullptr;  // a set is only made once it has a member
        if (!*c) break;
    }
    q.customSetCount = q.setCount;
}

// Digit runs of a K or N string (option -k or -n); the first 16 are kept. Returns all
// numbers seen.
int parseNumbers(const char* text, char option, int* numbers, int* kept) {
    int seen = 0;
    *kept = 0;
    if (!text) return 0;
    for (const char* c = text; *c;) {
        if (!isdigit((unsigned char)*c)) {
            c++;
            continue;
        }
        const char* digits = c;
        const long long value = scanDigitRun(c);
        if (value < 0)
            fatal("-%c: %.*s is too large a number of inputs (at most %d)\n", option, (int)(c - digits), digits,
                  INT_MAX);
        if (*kept < kMaxSetNumbers) numbers[(*kept)++] = (int)value;
        seen++;
    }
    return seen;
}

void printNumbers(const char* name, const int* numbers, int count) {
    std::string line;
    char item[16];
    for (int i = 0; i < count; i++) {
        snprintf(item, sizeof item, "%d ", numbers[i]);
        line += item;
    }
    note("%s %d: %s\n", name, count, line.c_str());
}

}  // namespace

void applyIndexOrigin(QuerySettings& s) {
    if (s.indexOrigin && s.rgenome != 0) s.rgenome -= 1;
}

void readCatalogue(QueryRun& q) {
    const QuerySettings& s = *q.settings;
    QueryCatalogue& c = q.catalogue;
    InputCatalogues found = findInputCatalogues(q.catalogueBase);
    const int n = found.inputs;
    if (n <= 0) fatal("lengths file \"%s\" lists no inputs\n", found.lengthsPath.c_str());
    c.lengths = allocate<int32_t>((size_t)n, "the lengths catalogue");
    c.bitLengths = allocate<int32_t>((size_t)n, "the bit lengths catalogue");
    readInputCatalogues(found, n, c.lengths, c.bitLengths, nullptr);
    c.inputs = n;
    q.texts.inputs = n;
    c.vectorWords = ((n - 1) >> 5) + 1;
    if (!gRun.quiet) {
        std::string line;
        char item[64];
        for (int i = 0; i < n && i < 4; i++) {
            snprintf(item, sizeof item, "%d ", c.lengths[i]);
            line += item;
        }
        note("%d inputs with lengths: %s%s%d max=%d total=%.0f\n", n, line.c_str(), n > 5 ? "... " : "",
             c.lengths[n - 1], found.longest, found.totalBases);
    }
    if (s.rgenome >= n)
        fatal("reference input %d is not one of the %d inputs\n", s.rgenome + s.indexOrigin, n);
}

void verifyCatalogue(const QueryRun& q) {
    const ChecksumFile* sums = q.catalogueBase == q.texts.inputBase  ? &q.texts.inputSums
                               : q.catalogueBase == q.texts.treeBase ? &q.texts.treeSums
                                                                     : nullptr;
    if (!sums || sums->path.empty()) return;
    verifyWholeFile(*sums, dataSetPath(q.catalogueBase, FileKind::lengths));
    verifyWholeFile(*sums, dataSetPath(q.catalogueBase, FileKind::bitLengths));
}

void buildSetTable(QuerySettings& s, QueryRun& q) {
    const int n = q.catalogue.inputs;
    if (s.setString) parseCustomSets(s, q, s.setString);

    long long singles = !s.singles ? 0 : s.rgenome >= 0 ? 1 : n;
    long long pairs = !s.pairs ? 0 : s.rgenome >= 0 ? n - 1 : (long long)n * (n - 1) / 2;
    long long requested = q.setCount + singles + pairs;
    if (requested > kMaxSets)
        fatal("too many sets requested: %d, max is %d\n", requested > INT_MAX ? INT_MAX : (int)requested, kMaxSets);
    if (s.singles) {
        for (int i = 0; i < n; i++) {
            if (s.rgenome >= 0 && i != s.rgenome) continue;
            ResultSet& set = newSet(q, kCustomSet);
            set.members[set.memberCount++] = i;
        }
    }
    if (s.pairs) {
        for (int i = 0; i < n; i++) {
            for (int j = i + 1; j < n; j++) {
                if (s.rgenome >= 0 && i != s.rgenome && j != s.rgenome) continue;
                ResultSet& set = newSet(q, kCustomSet);
                set.memberCount = 2;
                set.members[0] = s.rgenome >= 0 ? s.rgenome : i;
                set.members[1] = s.rgenome >= 0 ? (i == s.rgenome ? j : i) : j;
            }
        }
    }
    q.nsets = q.setCount;

    int nSeen = parseNumbers(s.nString, 'n', q.nNumbers, &q.nSetCount);
    int kSeen = parseNumbers(s.kString, 'k', q.kNumbers, &q.kSetCount);
    if (q.nsets + q.kSetCount + q.nSetCount > kMaxSets)
        fatal("too many sets requested: %d, max is %d\n", q.nsets + q.kSetCount + q.nSetCount,
              kMaxSets);
    if (!gRun.quiet) {
        note("parseNums: %d N numbers, %d K numbers\n", nSeen, kSeen);
        printNumbers("ksets", q.kNumbers, q.kSetCount);
        printNumbers("nsets", q.nNumbers, q.nSetCount);
    }
    for (int i = 0; i < q.kSetCount; i++) newSet(q, kKSet).members[0] = q.kNumbers[i];
    for (int i = 0; i < q.nSetCount; i++) newSet(q, kNSet).members[0] = q.nNumbers[i];

    if (s.bestnum <= 0) s.bestnum = kDefaultBestnum;
    for (int j = 0; j < q.setCount; j++) {
        q.sets[j].records = allocate<ResultRecord>((size_t)s.bestnum, "result records");
        q.sets[j].order = allocate<int>((size_t)s.bestnum, "result order");
        q.sets[j].capacity = s.bestnum;
    }
    if (s.sresults > 0) q.standardN = allocate<ResultRecord>((size_t)s.sresults, "standard N results");
    if (s.kresults > n + 1) s.kresults = n + 1;
    if (s.kresults > 0) q.standardK = allocate<ResultRecord>((size_t)s.kresults, "standard K results");
    if (s.prlength < 0) s.prlength = 0;
    q.printBuffer = allocate<char>((size_t)s.prlength + 1, "the print buffer");
    if (!gRun.quiet)
        note("%d result set(s), including %d custom sets (nsets=%d) and %d N sets and %d K sets, size of each %d\n",
             q.setCount, q.customSetCount, q.nsets, q.nSetCount, q.kSetCount, s.bestnum);
}
