// The input files of dnatrees index: what each holds (FASTA, FASTQ or nothing, told
// by its first character, gzip or plain), and FASTQ read as sequences by turning it
// into FASTA on the way to dnaprep: the name from the '@' line, the qualities skipped.
// Time O(bytes), memory one read buffer and one record.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "dnatrees/index.h"
#include "dnatrees/line_reader.h"
#include "toolkit/run.h"

namespace {

// Writes all of `text` to the pipe; false once the reader is gone.
bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

[[noreturn]] void badRecord(const LineReader& r, const char* what) {
    fatal("%s line %lld: malformed FASTQ record: %s\n", r.in.name.c_str(), r.line, what);
}

// FASTQ records as FASTA: "@name ..." and the sequence lines up to "+", then quality
// lines until they are as long as the sequence.
bool copyFastq(LineReader& r, std::string& line, int fd) {
    std::string out, seq;
    do {
        if (line.empty()) continue;  // blank lines between records
        if (line[0] != '@') badRecord(r, "a record starts with '@'");
        out.assign(1, '>');
        out.append(line, 1, std::string::npos);
        out += '\n';
        seq.clear();
        bool plus = false;
        while (r.next(line)) {
            if (!line.empty() && line[0] == '+') {
                plus = true;
                break;
            }
            seq += line;
        }
        if (!plus) badRecord(r, "the file ends before the '+' line");
        size_t quality = 0;
        while (quality < seq.size() && r.next(line)) quality += line.size();
        if (quality != seq.size()) badRecord(r, "the qualities are not as long as the sequence");
        out += seq + "\n";
        if (!writeAll(fd, out)) return false;
    } while (r.next(line));
    return true;
}

}  // namespace

InputKind inputKind(const std::string& path) {
    LineReader r(path);
    std::string line;
    if (!r.nextFilled(line)) return kEmpty;
    const char first = line[line.find_first_not_of(" \t")];
    return first == '>' ? kFasta : first == '@' ? kFastq : kOther;
}

bool feedInputs(const std::vector<std::string>& files, int fd) {
    for (const std::string& path : files) {
        LineReader r(path);
        std::string line;
        if (!r.nextFilled(line)) continue;
        if (line[0] == '@') {
            if (!copyFastq(r, line, fd)) return false;
            continue;
        }
        if (line[0] != '>')
            fatal("%s line %lld is neither a FASTA header ('>') nor a FASTQ record ('@')\n", r.in.name.c_str(), r.line);
        do {
            line += '\n';
            if (!writeAll(fd, line)) return false;
        } while (r.next(line));
    }
    return true;
}
