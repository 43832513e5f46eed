// Input texts: the owner of every read of the inputs' .stdna files (one byte per
// base, as the converter wrote them). Files are opened once and kept open (or
// mapped) across trees and patterns; every byte comes in through readTextRange()
// or mapText() in input_text.cpp, and every block of a text is verified against the
// checksum file "<base>.stinsum" of its base (when there is one) the first time a
// base in it is read or, mapped, compared.
//
// Where the .stdna files are looked for. An input's text is "<base>_<input>.stdna",
// with one of two bases (both "<dir><prefix>.ST/<prefix>"):
//  - the input base, made of the two positional arguments: pattern triples, the
//    exact search's check against the text, and the Pattern cells of the traversal
//    tables;
//  - the tree base, made of -d and -x (each defaulting to its positional argument):
//    the Hamming search's confirmation of candidates.
// Without -d and -x the two are the same place. With them, a data set whose trees lie
// elsewhere needs its texts beside the inputs for the first kind and beside the trees
// for the second.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/file_io.h"

enum TextPlace { kUnderInputBase, kUnderTreeBase };

// A .stdna file mapped whole for the Hamming search's confirmations.
struct MappedText {
    int input = -1;
    TextPlace place = kUnderTreeBase;  // the base it was mapped under (the tree base when both are one)
    const char* text = nullptr;
    size_t size = 0;
    uint64_t lastAsked = 0;  // the texts' request count when this text was last asked for
    MappedText() = default;
    MappedText(const MappedText&) = delete;
    MappedText& operator=(const MappedText&) = delete;
    ~MappedText() { release(); }
    void release();
};

// Descriptors kept open at once before they are all closed and the count restarts.
constexpr int kMaxOpenTexts = 256;
// Texts kept mapped at once, the one asked for longest ago giving way first.
constexpr int kMappedTexts = 64;

struct InputTexts {
    std::string inputBase;  // see above
    std::string treeBase;
    int inputs = 0;         // inputs of the catalogue: the descriptor table's size
    // With mapped trees (-U) the exact search's checks compare against mapped texts as
    // well: a search of many patterns then makes no read call per check.
    bool mapChecks = false;

    // Descriptors of the input base's texts, by input.
    std::vector<FileDescriptor> open;
    int openCount = 0;

    // Mapped texts (the tree base's; with mapChecks the input base's as well).
    MappedText mapped[kMappedTexts];
    int mappedLast = 0;  // the slot of the last confirmation
    uint64_t asked = 0;  // requests for mapped texts so far

    // Checksums of the texts under each base (the tree base's only when it is another
    // place); empty when there are none. Per input, the blocks verified so far.
    ChecksumFile inputSums, treeSums;
    std::vector<VerifiedFile> inputFiles, treeFiles;

    // Every text of the input base, lower case, read whole (verified) by a caller that
    // keeps them in memory: textMatches() then compares there instead of reading the
    // file again. Null otherwise.
    const std::vector<std::string>* resident = nullptr;
};

// Loads the checksum files of the texts; returns the paths of those that are missing.
std::vector<std::string> loadTextSums(InputTexts& texts);

// "<base>_<input>.stdna" under the base that `place` names.
std::string textPath(const InputTexts& texts, TextPlace place, int input);

// Fetches n characters (none when n <= 0) of `input` from `offset` into buffer and
// ends them with a terminator. A file that cannot be opened is reported on standard
// error and leaves the buffer as it was (returns false); a short read ends the run.
bool fetchSubstring(InputTexts& texts, int input, int offset, int n, char* buffer);

// The `length` characters of a pattern triple (input and offset zero-based) into
// buffer, terminated; any failure ends the run.
void readPatternText(InputTexts& texts, int input, int offset, int length, char* buffer);

// Compares the pattern with m characters of `input` from `start`, without regard to
// letter case (inputs are stored all lower or all upper case); `scratch` holds m bytes.
// With mapChecks the text is mapped when it can be; any failure takes the read path,
// whose messages are the same either way.
bool textMatches(InputTexts& texts, const char* pattern, int m, int input, int start, char* scratch);
// Asks for the text that textMatches() will compare at `start` to come into the caches,
// when it lies in a text mapped already; does nothing otherwise.
void prefetchTextMatch(const InputTexts& texts, int input, int start);

// The m characters of `input` (under the tree base) from `position` on, in a mapping
// that stays valid until kMappedTexts other inputs have been asked for. Failures end
// the run on standard output with status 255, as the Hamming search's do; so does a
// damaged block, under the caller's HammingDamageRoute.
const char* confirmText(InputTexts& texts, int input, int position, int m);

// The m characters of `input` (under the input base) from `offset` on, verified, as
// stored (not terminated): in the text's mapping with mapChecks (valid until
// kMappedTexts other inputs are asked for), else read into `buffer` (m + 1 bytes).
// Any failure ends the run ("## ERROR: ", status 1).
const char* textBases(InputTexts& texts, int input, int offset, int m, char* buffer);

// Every input's text whole, lower case (lengths[i] bases of input i), for `resident`.
std::vector<std::string> readWholeTexts(InputTexts& texts, const int32_t* lengths);

// Closes every descriptor and unmaps every text.
void closeTexts(InputTexts& texts);
