// What dnatrees index shares between its files: the kinds of input files and the
// feed that turns FASTQ (and standard input) into FASTA for dnaprep.
#pragma once

#include <string>
#include <vector>

#include "dnatrees/dnatrees.h"

enum InputKind { kEmpty, kFasta, kFastq, kOther };

// The kind of a file by its first character that is not blank (gzip inflated first).
InputKind inputKind(const std::string& path);

// Writes every file in turn to `fd` as FASTA (FASTQ records become FASTA records);
// false when the reader closed the pipe before the end. A malformed FASTQ record, or
// a file that is neither, is a fatal error naming the file and the line.
bool feedInputs(const std::vector<std::string>& files, int fd);
