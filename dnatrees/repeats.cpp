// dnatrees repeats DIR: the longest maximal repeats of a data set with every copy
// (treequery's findRepeats), as TSV or BED in FASTA coordinates.
#include <cstring>

#include "dnatrees/data_set.h"
#include "treequery/repeats.h"

namespace {

enum { kInverted = 256, kBetween, kFormat, kUnverified };

const Subcommand kCommand = {
    "repeats", "DIR [OPTION]...",
    "List the longest repeats of the data set DIR, every copy of each.",
    "A repeat is a string with two or more copies that cannot be extended by a base on\n"
    "the left, nor on the right, in all its copies at once; one nested inside a longer\n"
    "repeat with the same copies is therefore never listed. With --inverted a copy may\n"
    "also be the reverse complement of the string (strand '-'); a repeat is told as the\n"
    "string of its first copy, which is on '+'. Repeats come by decreasing length, one row\n"
    "per copy: repeat (its number), length, copies, sequence, start and end (1-based,\n"
    "inclusive, FASTA coordinates) and strand. BED rows: sequence, start (0-based), end,\n"
    "name repeat<number>, score 0, strand. Bases are compared as A, C, G, T with N runs\n"
    "and other codes removed; a copy across a removed run is left out, and counted on\n"
    "standard error.\n"};

const std::vector<OptionSpec> kOptions = {
    {"min-length", 'l', "L", "list repeats of at least L bases (default 1)"},
    {"top", 'n', "N", "the N longest repeats (default 20; 0: every one)"},
    {"inverted", kInverted, nullptr, "also repeats with copies on opposite strands"},
    {"between", kBetween, nullptr, "only repeats with copies in at least two sequences"},
    {"format", kFormat, "FORMAT", "tsv (default: a header, 1-based inclusive) or bed (BED6, 0-based half-open)"},
    {"output", 'o', "FILE", "write the rows to FILE instead of standard output"},
    {"unverified", kUnverified, nullptr, "accept a data set without checksum files"},
    {"quiet", 'q', nullptr, "print nothing but errors and warnings"},
};

}  // namespace

int runRepeats(int argc, char** argv) {
    RepeatSettings r;
    RowFormat format = kTsv;
    bool unverified = false;
    const char* output = nullptr;
    std::vector<std::string> args = parseOptions(argc, argv, kCommand, kOptions, [&](int key, const char* value) {
        switch (key) {
            case 'l': r.minLength = numberValue("repeats", "--min-length", value, 1, 1LL << 40); break;
            case 'n': r.top = (int)numberValue("repeats", "--top", value, 0, 1 << 30); break;
            case kInverted: r.inverted = true; break;
            case kBetween: r.between = true; break;
            case kFormat:
                if (!strcmp(value, "tsv")) format = kTsv;
                else if (!strcmp(value, "bed")) format = kBed;
                else usageError("repeats", "--format is tsv or bed, not '%s'", value);
                break;
            case 'o': output = value; break;
            case kUnverified: unverified = true; break;
            case 'q': gQuiet = true; break;
        }
    });
    if (args.size() != 1) usageError("repeats", "give one data set directory");
    DataSetQuery dq;
    openQueryFor(dq, args[0], unverified);
    const std::vector<Repeat> repeats = findRepeats(dq.run, r);

    RowWriter out;
    openRows(out, output);
    if (format == kTsv) fprintf(out.out, "repeat\tlength\tcopies\tsequence\tstart\tend\tstrand\n");
    long long leftOut = 0;
    for (size_t k = 0; k < repeats.size(); k++) {
        const Repeat& rep = repeats[k];
        leftOut += rep.leftOut;
        for (const RepeatCopy& c : rep.copies) {
            const InputMap& map = dq.run.maps[(size_t)c.input];
            const long long start = fastaOffset(map, c.start), end = fastaOffset(map, c.start + rep.length - 1) + 1;
            const std::string name = tsvField(dq.ds.names[(size_t)c.input].name);
            const char strand = c.reverse ? '-' : '+';
            if (format == kTsv)
                fprintf(out.out, "%zu\t%lld\t%zu\t%s\t%lld\t%lld\t%c\n", k + 1, (long long)rep.length, rep.copies.size(),
                        name.c_str(), start + 1, end, strand);
            else
                fprintf(out.out, "%s\t%lld\t%lld\trepeat%zu\t0\t%c\n", name.c_str(), start, end, k + 1, strand);
        }
    }
    closeRows(out);
    if (leftOut > 0)
        fprintf(stderr, "dnatrees repeats: %lld cop%s across removed stretches (N runs) left out\n", leftOut,
                leftOut == 1 ? "y" : "ies");
    if (!gQuiet) fprintf(stderr, "dnatrees repeats: %zu repeats listed\n", repeats.size());
    return 0;
}
