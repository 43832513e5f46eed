// The dividers file of a data set's trees (.stdiv): one TreeDivider record per tree,
// in tree order (records.h). Its one reader and one writer: the tree builder writes
// it a record per finished tree (or, joining parts, all at once), and the searches,
// the join and the verifier read it whole through readDividerFile.
// Time: one read or write of the file and one hash of it; extra memory none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/records.h"
#include "toolkit/run.h"

// Most records a tree file can hold: its bytes must fit a 32-bit signed count.
constexpr int kMaxTreeRecords = 0x7fffffff / (int)sizeof(TreeNode);

// Reads the dividers file at `path` whole into `dividers`, verified against `sums`
// (when it is loaded; null: unverified). Stops with an error naming the file when it
// cannot be opened or read, is not a whole number of records, or is damaged; with
// `fault`, the first such failure is recorded there instead and false returned (for a
// verifier that goes on to the next file).
bool readDividerFile(const std::string& path, std::vector<TreeDivider>& dividers, const ChecksumFile* sums,
                     WorkerStatus* fault = nullptr);

// What is wrong with the dividers of one data set's trees (no newline), "" when
// nothing: trees numbered 0, 1, 2, ... in order, node counts of 1 to kMaxTreeRecords,
// keys that never fall within a tree or from one tree to the next, and, when
// `suffixes` is not negative, node counts that can hold that many suffixes between
// them (a tree of s suffixes has at least s + 1 records and at most 2s).
std::string dividersProblem(const std::string& path, const TreeDivider* dividers, int trees, int64_t suffixes);

// Writes a dividers file under its temporary name, a record at a time, hashing as it
// goes; finish() puts it into place.
struct DividersWriter {
    std::string path;
    FileDescriptor file;
    BlockHasher hash;
    // Removes a dividers file an earlier build left at `path` (it must not outlive a
    // build that fails) and opens the temporary file: stops when it cannot.
    void open(const std::string& dividersPath);
    // Appends one record; false, with the failure in `status`, when it cannot.
    bool append(const TreeDivider& divider, WorkerStatus& status);
    // Closes the file and renames it into place (stops when it cannot); returns its checksums.
    ChecksumEntry finish();
};
