// The catalogue line, the index origin of -r, and the set table of traversal mode:
// custom sets (-s), singles (-1), pairs (-2), K sets (-k), N sets (-n), their heaps,
// the standard N and K arrays and the print buffer.
#include <cctype>
#include <climits>
#include <cstring>
#include <string>

#include "toolkit/catalogue.h"
#include "toolkit/run.h"
#include "treequery/treequery.h"

namespace {

template <typename T>
T* allocate(size_t count, const char* what) {
    T* memory = static_cast<T*>(trackedCalloc(count > 0 ? count : 1, sizeof(T)));
    if (!memory) fatal("can't allocate %zu bytes for %s\n", count * sizeof(T), what);
    return memory;
}

ResultSet& newSet(int kind) {
    ResultSet& set = gQuery.sets[gQuery.setCount++];
    memset(&set, 0, sizeof set);
    set.kind = kind;
    return set;
}

void checkMember(int member, int given) {
    if (member >= gQuery.inputs)
        fatal("setspecs: set member %d is not one of the %d inputs\n", given, gQuery.inputs);
}

// "-s 3:4,6:2,3,5": digits build a member, ":" closes a set, any other character
// only ends the member.
void parseCustomSets(const char* text) {
    const int origin = gSettings.indexOrigin;
    ResultSet* current = nullptr;
    long long number = -1;
    auto appendPending = [&]() {
        if (number < 0) return;
        long long member = number - origin;
        number = -1;
        if (member < 0) return;
        checkMember(member > INT_MAX ? INT_MAX : (int)member, (int)(member + origin));
        if (!current) {
            if (gQuery.setCount >= kMaxSets)
                fatal("setspecs: too many sets %d (max %d)\n", gQuery.setCount + 1, kMaxSets);
            current = &newSet(kCustomSet);
        }
        if (current->memberCount >= kMaxSetMembers)
            fatal("setspecs: too many set members %d (max %d)\n", current->memberCount + 1, kMaxSetMembers);
        current->members[current->memberCount++] = (int)member;
    };
    for (const char* c = text;; c++) {
        if (*c && isdigit((unsigned char)*c)) {
            if (number < 0) number = 0;
            if (number <= INT_MAX) number = number * 10 + (*c - '0');
            continue;
        }
        appendPending();
        if (*c == ':' || !*c) current = nullptr;  // a set is only made once it has a member
        if (!*c) break;
    }
    gQuery.customSetCount = gQuery.setCount;
}

// Digit runs of a K or N string; the first 16 are kept. Returns all numbers seen.
int parseNumbers(const char* text, int* numbers, int* kept) {
    int seen = 0;
    *kept = 0;
    if (!text) return 0;
    for (const char* c = text; *c;) {
        if (!isdigit((unsigned char)*c)) {
            c++;
            continue;
        }
        long long value = 0;
        for (; isdigit((unsigned char)*c); c++)
            if (value <= INT_MAX) value = value * 10 + (*c - '0');
        if (*kept < kMaxSetNumbers) numbers[(*kept)++] = value > INT_MAX ? INT_MAX : (int)value;
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

void applyIndexOrigin() {
    if (gSettings.indexOrigin && gSettings.rgenome != 0) gSettings.rgenome -= 1;
}

void readCatalogue() {
    int n = readLengthCatalogues(gQuery.catalogueBase, &gQuery.lengths, &gQuery.bitLengths);
    if (n <= 0) fatal("lengths file \"%s.stlengths\" lists no inputs\n", gQuery.catalogueBase);
    gQuery.inputs = n;
    gQuery.vectorWords = ((n - 1) >> 5) + 1;
    int longest = 0;
    double total = 0;
    for (int i = 0; i < n; i++) {
        if (gQuery.lengths[i] < 0 || gQuery.bitLengths[i] < 0)
            fatal("catalogue \"%s\": input %d has a negative length\n", gQuery.catalogueBase, i);
        if (gQuery.lengths[i] > longest) longest = gQuery.lengths[i];
        total += gQuery.lengths[i];
    }
    if (!gRun.quiet) {
        std::string line;
        char item[64];
        for (int i = 0; i < n && i < 4; i++) {
            snprintf(item, sizeof item, "%d ", gQuery.lengths[i]);
            line += item;
        }
        note("%d inputs with lengths: %s%s%d max=%d total=%.0f\n", n, line.c_str(), n > 5 ? "... " : "",
             gQuery.lengths[n - 1], longest, total);
        if (gQuery.bitLengths[0] > 2 * (long long)gQuery.lengths[0])
            note("Inputs come from partitioned large file with tail length %d\n",
                 gQuery.bitLengths[0] / 2 - gQuery.lengths[0]);
    }
    if (gSettings.rgenome >= n)
        fatal("reference input %d is not one of the %d inputs\n", gSettings.rgenome + gSettings.indexOrigin, n);
}

void buildSetTable() {
    Settings& s = gSettings;
    const int n = gQuery.inputs;
    if (s.setString) parseCustomSets(s.setString);

    long long singles = !s.singles ? 0 : s.rgenome >= 0 ? 1 : n;
    long long pairs = !s.pairs ? 0 : s.rgenome >= 0 ? n - 1 : (long long)n * (n - 1) / 2;
    long long requested = gQuery.setCount + singles + pairs;
    if (requested > kMaxSets)
        fatal("too many sets requested: %d, max is %d\n", requested > INT_MAX ? INT_MAX : (int)requested, kMaxSets);
    if (s.singles) {
        for (int i = 0; i < n; i++) {
            if (s.rgenome >= 0 && i != s.rgenome) continue;
            ResultSet& set = newSet(kCustomSet);
            set.members[set.memberCount++] = i;
        }
    }
    if (s.pairs) {
        for (int i = 0; i < n; i++) {
            for (int j = i + 1; j < n; j++) {
                if (s.rgenome >= 0 && i != s.rgenome && j != s.rgenome) continue;
                ResultSet& set = newSet(kCustomSet);
                set.memberCount = 2;
                set.members[0] = s.rgenome >= 0 ? s.rgenome : i;
                set.members[1] = s.rgenome >= 0 ? (i == s.rgenome ? j : i) : j;
            }
        }
    }
    gQuery.nsets = gQuery.setCount;

    int nSeen = parseNumbers(s.nString, gQuery.nNumbers, &gQuery.nSetCount);
    int kSeen = parseNumbers(s.kString, gQuery.kNumbers, &gQuery.kSetCount);
    if (gQuery.nsets + gQuery.kSetCount + gQuery.nSetCount > kMaxSets)
        fatal("too many sets requested: %d, max is %d\n", gQuery.nsets + gQuery.kSetCount + gQuery.nSetCount,
              kMaxSets);
    if (!gRun.quiet) {
        note("parseNums: %d N numbers, %d K numbers\n", nSeen, kSeen);
        printNumbers("ksets", gQuery.kNumbers, gQuery.kSetCount);
        printNumbers("nsets", gQuery.nNumbers, gQuery.nSetCount);
    }
    for (int i = 0; i < gQuery.kSetCount; i++) newSet(kKSet).members[0] = gQuery.kNumbers[i];
    for (int i = 0; i < gQuery.nSetCount; i++) newSet(kNSet).members[0] = gQuery.nNumbers[i];

    if (s.bestnum <= 0) s.bestnum = kDefaultBestnum;
    for (int j = 0; j < gQuery.setCount; j++) {
        gQuery.sets[j].records = allocate<ResultRecord>((size_t)s.bestnum, "result records");
        gQuery.sets[j].order = allocate<int>((size_t)s.bestnum, "result order");
    }
    if (s.sresults > 0) gQuery.standardN = allocate<ResultRecord>((size_t)s.sresults, "standard N results");
    if (s.kresults > n + 1) s.kresults = n + 1;
    if (s.kresults > 0) gQuery.standardK = allocate<ResultRecord>((size_t)s.kresults, "standard K results");
    if (s.prlength < 0) s.prlength = 0;
    gQuery.printBuffer = allocate<char>((size_t)s.prlength + 1, "the print buffer");
    if (!gRun.quiet)
        note("%d result set(s), including %d custom sets (nsets=%d) and %d N sets and %d K sets, size of each %d\n",
             gQuery.setCount, gQuery.customSetCount, gQuery.nsets, gQuery.nSetCount, gQuery.kSetCount, s.bestnum);
}
