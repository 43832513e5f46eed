// Answers in the user's terms: patterns from files (-f), both strands (-B), and
// occurrences as TSV or BED rows (-F) that name sequences and give FASTA coordinates
// through the names catalogue and the coordinate map of dnaprep -N.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/input_stream.h"
#include "treequery/treequery.h"

enum OutputFormat { kFormatTables = 0, kFormatTsv = 1, kFormatBed = 2 };

// Patterns read from one batch to the next: memory stays bounded whatever the
// number of patterns. In read mode every batch reads again the tree records its
// descents reach, so a larger batch reads fewer records per pattern; the records
// read for one tree also take memory, about as much as the batch itself.
constexpr size_t kPatternBatch = 10240;

// One pattern as the user gave it and as it is searched.
struct UserPattern {
    std::string name;   // FASTA: the header's first word; plain text: the line number
    std::string given;  // as written (case kept)
    std::string text;   // searched: N (either case) turned into "*"
    long long line = 0; // first line of the pattern in its file (0 for -p)
};

// A pattern file, FASTA or one pattern a line, plain or gzip, "-" for standard input.
struct PatternFile {
    InputStream in;
    std::string path;
    long long longest = 0;  // longest input: no pattern may be longer
    std::vector<uint8_t> buffer;
    size_t pos = 0, end = 0;
    bool eof = false;
    long long line = 0;      // lines read so far
    int kind = 0;            // 0 undecided, 1 FASTA, 2 one pattern a line
    bool pendingHeader = false;
    std::string header;      // FASTA: name of the record whose header was read last
    long long headerLine = 0;
    long long patterns = 0;  // patterns read so far
};

// Opens the pattern file (a fatal error naming it when it cannot be opened).
void openPatternFile(PatternFile& f, const std::string& path, long long longest);
// Appends up to `limit` patterns; returns false once the file is exhausted (and
// none was appended). A file without patterns, a pattern of length 0, one longer than
// the longest input or one with a character other than a, c, g, t, N or "*" is a fatal
// error naming the file, the line and the pattern.
bool readPatternBatch(PatternFile& f, std::vector<UserPattern>& batch, size_t limit);

// --shard i/n: the patterns of -f numbered from 0 in file order, shard i of n keeps
// numbers (i-1) P / n up to i P / n of the P patterns, so that the rows of shards
// 1 .. n one after another are the rows of the whole file (the TSV header comes with
// shard 1). Without --shard every pattern is kept.
struct PatternShard {
    int index = 0;  // 1 .. count, 0 without --shard
    int count = 0;
    long long first = 0, end = 0;  // the pattern numbers kept
    long long seen = 0;            // patterns of the file read so far
};
// Reads "i/n" and, for the share, the pattern file once through to count its
// patterns (checking each as the search would).
PatternShard placeShard(const QuerySettings& s, long long longest);
// Drops the patterns of batch[from ..] that lie outside the shard; false once no
// later pattern is kept.
bool keepShard(PatternShard& shard, std::vector<UserPattern>& batch, size_t from);

// Checks a pattern's characters and fills its searched text ("where" names it in
// messages). Returns an empty string when all is well, else the message.
std::string preparePattern(UserPattern& p);

// "*" stays "*"; a, c, g, t in either case become their complements in the same case.
std::string reverseComplement(const std::string& pattern);

// -f, -B and -F against each other and the rest of the command line.
void checkUserTerms(const QuerySettings& s);
// The output format of -F (tables without it).
OutputFormat outputFormat(const QuerySettings& s);

// Reads the names catalogue and the coordinate map beside the inputs into the run;
// a missing file is an error naming it and saying to rerun dnaprep with -N, a damaged
// one (against .stinsum, loaded before) an error naming the block.
void loadFastaCoordinates(QueryRun& q);

// Pattern mode with -f or -F: every pattern of -p, then of -f, batch by batch.
void searchUserPatterns(QueryRun& q);

// Traversal with -F tsv: the rows of every table and the equivalence and containment
// relations, with sequence names and FASTA starts.
void printTraversalTsv(QueryRun& q);
