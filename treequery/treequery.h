// treequery: finds patterns in a data set's suffix trees, or walks every tree to
// gather the longest repeats into result sets.
//
// State of one run, passed to the functions that use it:
//  - QuerySettings: the command line (strings point into argv; numbers as given,
//    then maxNum/bestnum defaults and the index origin applied by the driver).
//    quiet and verbose live in the toolkit's gRun (gRun.quiet, gRun.verbose).
//  - QueryRun: the catalogue, the tree store (tree_store.h) and the input texts
//    (input_text.h), the set table and standard arrays (traversal mode), patterns and
//    occurrences (pattern mode), the output stream and the equivalence counters.
//
// Who defines what (every file of the folder):
//  - main.cpp              order of work
//  - options.cpp           scanOptions, echoSettings, usage, paths, output
//  - patterns.cpp          parsePatterns, patternText, checkExactPatterns, searchPatterns
//  - pattern_file.cpp      the patterns of -f, a batch at a time (user_terms.h)
//  - user_terms.cpp        -f, -B and -F: rows in FASTA terms (user_terms.h)
//  - set_table.cpp         readCatalogue, buildSetTable (set table, standard arrays, print buffer)
//  - tree_store.cpp        dividers, tree loading and checks (tree_store.h)
//  - input_text.cpp        every read of the inputs' texts (input_text.h)
//  - verify.cpp            verifyDataSet, the whole data set checked (-V)
//  - exact_search.cpp      exactSearch, exactSearchGroup (exact_search.h)
//  - exact_report.cpp      reportExact
//  - inexact_search.cpp    inexactSearch (inexact_search.h)
//  - traversal.cpp         runTraversal: the walk's set-up and the loop over the trees (traversal.h)
//  - result_walk.cpp       the result walk of one tree (traversal_walk.h)
//  - test_walk.cpp         the test walk of -a (traversal_walk.h)
//  - traversal_threads.cpp the trees walked by the threads of -j and merged in order (traversal_walk.h)
//  - result_sets.cpp       the standard arrays and the bounded heaps of the result sets (traversal.h)
//  - traversal_tables.cpp  the traversal tables (traversal.h)
//  - equivalence.cpp       identical and contained inputs on the walk's leaf chains (traversal.h)
//  - workers.cpp           the threads of -j and their ordered results (workers.h)
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/file_io.h"
#include "toolkit/names_map.h"
#include "toolkit/records.h"
#include "toolkit/run.h"
#include "treequery/input_text.h"
#include "treequery/tree_store.h"

constexpr int kMaxSets = 300;         // slots of the set table
constexpr int kMaxSetMembers = 20;    // members of one custom set, single or pair
constexpr int kMaxSetNumbers = 16;    // K numbers (-k) and N numbers (-n) kept
constexpr int kDefaultBestnum = 20;   // heap size of a result set when -b is 0
constexpr int kDefaultMaxNum = 100;   // occurrences kept per pattern when -m is 0
constexpr int kDefaultSresults = 100; // -0 without a value
constexpr int kDefaultKresults = 200; // -K without a value

struct QuerySettings {
    const char* inputDir;     // 1st positional
    const char* inputPrefix;  // 2nd positional
    const char* treeDir;      // -d (input directory when not given)
    const char* treePrefix;   // -x (input prefix when not given); named in every "#tab:" title
    const char* outName;      // -o (standard output when not given)
    const char* patternArg;   // -p (pattern mode when given); split in place
    const char* setString;    // -s
    const char* kString;      // -k
    const char* nString;      // -n
    int maxNum;               // -m; 100 in pattern mode when 0
    int threshold;            // -t minimum match length in characters
    int tfreq;                // -u
    int bestnum;              // -b; 20 when 0
    int rgenome;              // -r; -1 = none; zero-based after the index origin
    int snumber;              // -S first tree to traverse
    int inumber;              // -i traversal stops before this tree (0 = all)
    int prlength;             // -L; 100 by default, 0 drops the Pattern column
    int hamming;              // -H; -1 = exact search
    int sresults;             // -0 size of the standard N array
    int kresults;             // -K size of the standard K array (lowered to inputs + 1)
    int singles;              // -1
    int pairs;                // -2
    int consolidate;          // -C
    int printdivs;            // -D
    int indexOrigin;          // -I: 0 or 1
    int usemmap;              // -U
    const char* hammingWalk;  // -A walk or pieces: the Hamming search's algorithm (null: pieces with -U, else walk)
    int testdfs;              // -a
    int countonly;            // -c
    int equiv;                // -e
    const char* patternFile;  // -f: patterns from a file ("-": standard input)
    const char* format;       // -F: tsv or bed (the tables when not given)
    int bothStrands;          // -B
    int threads;              // -j: 1 by default, 0 for every core
    int verify;               // -V
    const char* shard;        // --shard i/n: only the i-th of n equal shares of the -f patterns
};

// One result of the traversal: seven signed 32-bit fields in this order.
struct ResultRecord {
    int32_t K;         // distinct inputs holding the string (0 without kvectors)
    int32_t N;         // leaves below the node
    int32_t where;     // first 32 bits of the node's input bit vector
    int32_t length;    // bit depth with its lowest bit cleared
    int32_t NC;        // standard arrays: nodes with this N (or K) at this length
    int32_t sequence;  // input of the reported occurrence
    int32_t position;  // its character position
};
static_assert(sizeof(ResultRecord) == 28);

enum SetKind { kCustomSet = 0, kKSet = 1, kNSet = 2 };

// One slot of the set table. Custom sets, singles and pairs are kCustomSet with
// 1..20 zero-based members; K and N sets have memberCount 0 and their number in
// members[0]. records/order hold `capacity` entries each (-b, allocated by
// buildSetTable); heapSize and total start at 0.
struct ResultSet {
    int kind;
    int memberCount;
    int members[kMaxSetMembers];
    ResultRecord* records;
    int* order;
    int capacity;  // records kept at most (-b)
    int heapSize;
    int total;  // candidates offered ("results total")
};

// Base code of a pattern letter in either case (a = 0, c = 1, g = 2, t = 3), or -1.
inline int baseCode(char c) {
    switch (c) {
        case 'a': case 'A': return 0;
        case 'c': case 'C': return 1;
        case 'g': case 'G': return 2;
        case 't': case 'T': return 3;
        default: return -1;
    }
}

// One occurrence of a pattern: input number and character position (zero-based).
struct Occurrence {
    int32_t input;
    int32_t position;
};
static_assert(sizeof(Occurrence) == 8);

// A pattern triple of -p: input, start offset, length, as given (before the origin).
struct PatternTriple {
    int input;
    int offset;
    int length;
};

struct WorkerPool;  // workers.h

// A pattern searched by pieces (the Hamming search, inexact_search.cpp) is cut into at
// most this many: piece i starts at character start[i], is length[i] characters long
// and is allowed budget[i] mismatches.
constexpr int kMaxPieces = 8;
struct PieceSplit {
    int pieces = 1;
    int start[kMaxPieces];
    int length[kMaxPieces];
    int budget[kMaxPieces];
};

struct QueryRun {
    const QuerySettings* settings = nullptr;
    // -j above 1: the worker threads' runs (workers.h), else null.
    WorkerPool* pool = nullptr;

    // "<tree dir><input prefix>.ST/<input prefix>": the catalogues. The bases of the
    // inputs and the trees are the texts' and the store's (input_text.h, tree_store.h).
    std::string catalogueBase;

    FILE* out = nullptr;  // -o file or stdout: every result table

    QueryCatalogue catalogue;
    TreeStore store;
    InputTexts texts;

    // Pattern mode (patterns.cpp, exact_search.cpp).
    int patternCount{};       // text patterns or triples
    char** patterns{};      // text patterns (pointers into the -p argument), or null
    PatternTriple* triples{}; // pattern triples, or null
    int maxPatternLength{};   // longest text pattern or triple length
    char* patternBuffer{};    // maxPatternLength + 1 bytes: text of a triple
    char* verifyBuffer{};     // maxPatternLength + 1 bytes: text read for verification
    Occurrence* occurrences{};  // maxNum entries in collection order
    int occurrenceCount{};      // all leaves collected, also beyond maxNum
    uint32_t* inputVector{};    // inputs that hold an occurrence (vectorWords words)
    int tableHeaderPrinted{};   // -C: the one header has been written

    // The Hamming search's cut into pieces for patterns of pieceLength characters within
    // pieceDistance (-1: none chosen yet): the patterns of a file mostly share both.
    PieceSplit pieceCut;
    int pieceLength = -1;
    int pieceDistance = -1;

    // Traversal mode (set_table.cpp fills, traversal fills the heaps and prints).
    ResultSet sets[kMaxSets]{};
    int setCount{};        // all sets in the table
    int customSetCount{};  // sets of -s
    int nsets{};           // custom + singles + pairs (printed as custom sets)
    int kSetCount{};       // K sets, after the nsets
    int nSetCount{};       // N sets, after the K sets
    int kNumbers[kMaxSetNumbers]{};
    int nNumbers[kMaxSetNumbers]{};
    ResultRecord* standardN{};  // sresults records, or null
    ResultRecord* standardK{};  // kresults records, or null
    char* printBuffer{};        // prlength + 1 bytes

    // Equivalence and containment (-e), printed by the driver after the traversal.
    int equivClasses{};
    int equivRedundant{};
    int equivLargest{};
    int contained{};

    // -F: names and coordinate maps of the inputs (user_terms.cpp), and with -e the
    // equivalence and containment rows, written after the tables.
    std::vector<SequenceName> names;
    std::vector<InputMap> maps;
    std::vector<std::string> relations;

    // Clock readings taken just before the dividers are read.
    int startMs{};
    int startCpuMs{};
};


// options.cpp
void scanOptions(int argc, char** argv, QuerySettings& s);  // whole scan, defaults, prefix check
void echoSettings(const QuerySettings& s);                  // "search options: ..." unless quiet
int printQueryUsage(const char* program);                   // returns 1
void makePaths(QuerySettings& s, QueryRun& q);
// verify.cpp: -V, the whole data set against its checksums and catalogues, one line
// per file on the output; returns the exit status (0: every file intact).
int verifyDataSet(const QuerySettings& s, QueryRun& q);  // the three bases; fills treeDir/treePrefix defaults
void openOutput(const QuerySettings& s, QueryRun& q);  // -o or stdout

// patterns.cpp
void parsePatterns(QuerySettings& s, QueryRun& q);  // -p argument: text patterns or triples; maxNum default
void checkPatternTriples(QueryRun& q);              // triple inputs against the catalogue (after reading it)
void checkExactPatterns(QueryRun& q);               // refuses characters outside a, c, g, t (any case)
const char* patternText(QueryRun& q, int p);        // text of pattern p (a triple is read into patternBuffer)
void allocateOccurrences(QueryRun& q);              // occurrence array, input vector, verification buffer
void searchPatterns(QueryRun& q);  // every pattern in order: search, "Search finished", report
void searchPatternList(QueryRun& q);  // the loop of searchPatterns over the patterns in q (allocated)

// set_table.cpp
void applyIndexOrigin(QuerySettings& s);          // -r one-based with -I, checked against the inputs
void readCatalogue(QueryRun& q);                  // lengths, vector words, catalogue line
// The catalogue against the checksum file of its base, once the checksum files are
// loaded (it is read before them, for its line): a damaged catalogue stops the run.
void verifyCatalogue(const QueryRun& q);
void buildSetTable(QuerySettings& s, QueryRun& q);  // custom/single/pair/K/N sets, heaps, standard arrays

// exact_search.cpp: finds every occurrence of `pattern` (m characters, a/c/g/t in
// either case) into q.occurrences/occurrenceCount/inputVector (cleared by the
// caller); returns the number of trees visited.
int exactSearch(QueryRun& q, const char* pattern, int m);

// exact_report.cpp: the count line on stderr and (unless -c) the exact results table.
void reportExact(QueryRun& q, const char* pattern, int m);
// "s" unless n is 1.
inline const char* plural(int n) { return n == 1 ? "" : "s"; }

// traversal.cpp: walks the trees from -S to -i; with -a the test walk only, else the
// result walk followed by every traversal table on q.out.
void runTraversal(QueryRun& q);

// inexact_search.cpp: Hamming-distance search of one pattern (HD >= 0, "*" matches
// any base) in the trees of the tree base (-d, -x); prints its own table; returns
// the number of trees searched.
int inexactSearch(QueryRun& q, const char* pattern, int m, int hd);
