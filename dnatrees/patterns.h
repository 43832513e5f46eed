// The patterns of dnatrees search: from -p and from a file (FASTA or one pattern a
// line, plain or gzip, "-" for standard input), read in batches, and the IUPAC
// codes they may hold.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dnatrees/line_reader.h"

// Patterns are searched a batch at a time: one treequery run per batch, so memory
// stays bounded and a range of batches can be searched on its own (a shard).
constexpr size_t kSearchBatch = 10240;

struct Pattern {
    std::string name;   // -p: itself; FASTA: the header's first word; lines: the line number
    std::string given;  // as written
    bool degenerate = false;  // holds an IUPAC code other than A, C, G, T
};

// Bit sets of bases: A 1, C 2, G 4, T 8; an IUPAC code is the union of its bases,
// 0 for a character that is no code.
uint8_t baseSet(char c);
// The reverse complement; IUPAC codes become the codes of the complemented sets.
std::string reverseComplementIupac(const std::string& pattern);
// The text treequery searches: A, C, G, T as they are, every other code N (a base at
// no cost: the hits are then checked against the code's set).
std::string searchedText(const Pattern& p);

struct PatternSource {
    std::vector<std::string> given;  // -p patterns, searched first
    size_t nextGiven = 0;
    std::unique_ptr<LineReader> file;  // -f
    std::string path;
    int64_t longest = 0;  // the longest sequence: no pattern may be longer
    bool fasta = false, decided = false;
    std::string header, line;  // FASTA: the record whose header was read last
    long long headerLine = 0;
    bool pending = false;      // `line` holds a header not yet used
    long long read = 0;        // patterns read so far
};

void openPatterns(PatternSource& src, const std::vector<std::string>& given, const char* path, int64_t longest);
// Up to kSearchBatch patterns; false when there are none left. A pattern of length 0,
// one longer than every sequence, or one with a character that is no IUPAC code is a
// fatal error naming where it came from; so is a file without patterns.
bool readPatterns(PatternSource& src, std::vector<Pattern>& batch);
