// The names catalogue (<prefix>.stnames) and the coordinate map (<prefix>.stmap) of a
// data set: what each input was called in its FASTA file, and where the characters
// that the filter removed (wildcards, garbage) and the tail chop lay, so that an
// offset into an input can be turned back into an offset into its FASTA sequence.
//
// .stnames is text, one header line and then one line per input in input order, four
// tab-separated fields: name, file, fasta_length, filtered_length. Tabs, line breaks
// and backslashes inside a name or file are written as \t, \n, \r and \\.
//
// .stmap is binary; every number is an unsigned LEB128 varint (7 bits a byte, low
// bits first, top bit set on all bytes but the last):
//   "STMAP01\n"                                    8 bytes
//   per input, in input order:
//     per removed stretch, in sequence order: length (>= 1), gap
//     0                                            end of the stretches
//     kept                                         bases of the input, after the chop
//     chopped                                      bases the tail chop removed
//   input count (8 bytes, little-endian), "STMAPEND"
// A stretch's filtered offset is the number of bases before it (chopped ones
// included); its gap is that offset minus the previous stretch's (or 0's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/checksum.h"

constexpr char kMapMagic[] = "STMAP01\n";
constexpr char kMapEnd[] = "STMAPEND";
constexpr char kNamesHeader[] = "name\tfile\tfasta_length\tfiltered_length\n";

struct SequenceName {
    std::string name;
    std::string file;
    int64_t fastaLength = 0;
    int64_t filteredLength = 0;
};

// The removed stretches of one input as sorted filtered offsets, each with the number
// of characters removed up to and including it.
struct InputMap {
    std::vector<int64_t> at;
    std::vector<int64_t> removedThrough;
    int64_t kept = 0;
    int64_t chopped = 0;
};

// Appends `value` as a varint.
void appendVarint(std::string& out, uint64_t value);
// A field of the names catalogue with tabs, line breaks and backslashes escaped.
std::string escapeField(const std::string& text);

// Both readers stop with "## ERROR: " naming the file when it is missing (saying that
// the data set was made without it), unreadable, not in its format, or, when `sums`
// (the data set's .stinsum, which lists both) is loaded, damaged: a changed name or
// stretch length would otherwise shift every row after it without a word. An empty
// `sums` (a data set made before checksum files) reads them unverified.
std::vector<SequenceName> readNamesCatalogue(const std::string& path, const ChecksumFile& sums);
std::vector<InputMap> readCoordinateMap(const std::string& path, const ChecksumFile& sums);

// FASTA offset (0-based, line breaks not counted) of the base at filtered offset
// `filtered`, 0 <= filtered < kept + chopped. O(log g) for g removed stretches.
int64_t fastaOffset(const InputMap& map, int64_t filtered);
// True when a removed stretch lies between two bases of the filtered interval [a, b),
// that is, when the interval does not occur in the FASTA sequence as one piece.
bool spansRemoved(const InputMap& map, int64_t a, int64_t b);
// Characters of the FASTA sequence: bases, chopped bases and removed characters.
int64_t fastaLength(const InputMap& map);
