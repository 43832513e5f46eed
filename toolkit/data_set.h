// The files of a data set: one table of every file kind (its extension, record size,
// the program that writes it, the checksum file that covers it, and whether there is
// one per input, per run, per tree or one per data set), and the one place where
// their paths are formed. Every file of a data set lies in "<dir><prefix>.ST/" and
// is named "<prefix><extension>" or, numbered, "<prefix>_<n><extension>"; the README's
// file table lists the same kinds (a test holds the two together).
#pragma once

#include <string>

enum class FileKind {
    texts,       // .stdna: one byte per base of an input
    packed,      // .stbin: two bits per base (packed_input.h)
    lengths,     // .stlengths: bases per input (catalogue.h)
    bitLengths,  // .stblengths: bits per input
    names,       // .stnames: each input's name in its FASTA file (names_map.h)
    map,         // .stmap: where the filter removed characters (names_map.h)
    inputSums,   // .stinsum: checksums of dnaprep's files (checksum.h)
    runs,        // .stpsa: a run's prefixed suffix array (records.h)
    runLcp,      // .stlcp: a run's LCP array (runarray -Z)
    partitions,  // .stplengths: inputs per run
    runSums,     // .strunsum: checksums of runarray's files
    trees,       // .stree: one tree's node records (records.h)
    dividers,    // .stdiv: one divider record per tree (records.h)
    mergedPsa,   // .stpsa: the merged suffix array of treebuild -a
    mergedLcp,   // .stlcp: the merged LCP array of treebuild -a
    treeSums,    // .streesum: checksums of treebuild's files
};

enum class FileCount { perInput, perRun, perTree, one };

struct FileKindRow {
    FileKind kind;
    const char* extension;
    int recordBytes;       // bytes of one record; 0 for text, varints and checksum files
    const char* writer;    // the program that writes it
    FileKind coveredBy;    // its checksum file (a checksum file names itself: covered by none)
    FileCount count;
    const char* what;      // words for messages and the README
    // A file that stays when treebuild -R removes the runs and their checksum file
    // (the partitions catalogue: a later treebuild -S reads it): null for the others.
    // With its own checksum file gone and the trees' one there, the verifier counts it
    // intact, in these words.
    const char* keptAfterRuns = nullptr;
};

// Every kind, in the order of FileKind.
constexpr int kFileKindCount = 16;
extern const FileKindRow kFileKinds[kFileKindCount];

const FileKindRow& fileKind(FileKind kind);
inline const char* extensionOf(FileKind kind) { return fileKind(kind).extension; }
// True for the checksum files themselves.
inline bool isChecksumFile(FileKind kind) { return fileKind(kind).coveredBy == kind; }

// "<dir><prefix>.ST/", the folder of a data set (dir a text prefix, ending in "/" or empty).
std::string dataSetFolder(const char* dir, const char* prefix);
// "<dir><folder>.ST/<prefix>": the base of the files named <prefix> in the folder of
// data set <folder> (treebuild -S/-s reads the runs' partitions catalogue of another
// folder under the inputs' prefix). Every path is checked against the path limit.
std::string dataSetBase(const char* dir, const char* folder, const char* prefix);
inline std::string dataSetBase(const char* dir, const char* prefix) { return dataSetBase(dir, prefix, prefix); }
// "<base><extension>" of a kind there is one of.
std::string dataSetPath(const std::string& base, FileKind kind);
// "<base>_<number><extension>" of a kind there is one of per input, run or tree.
std::string dataSetPath(const std::string& base, FileKind kind, int number);
