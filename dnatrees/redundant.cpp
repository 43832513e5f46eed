// dnatrees redundant DIR: sequences identical to or contained in another, on either
// strand (treequery's findRedundant), as TSV in FASTA coordinates.
#include "dnatrees/data_set.h"
#include "treequery/redundancy.h"

namespace {

enum { kAll = 256, kUnverified };

const Subcommand kCommand = {
    "redundant", "DIR [OPTION]...",
    "List the sequences of the data set DIR that are identical to another one or contained in one, on either "
    "strand.",
    "One row per redundant sequence, naming one representative: the longest sequence it\n"
    "lies in (ties: the first in input order); with --all one row per sequence it lies in.\n"
    "Columns: relation (identical or contained), sequence, length, other_sequence,\n"
    "other_length, strand ('-': it matches the other's reverse complement), start and end\n"
    "(1-based, inclusive) where it lies in the other, in the other's FASTA coordinates.\n"
    "Lengths count every character of a sequence but line breaks. Upper and lower case\n"
    "are the same base. N runs and other non-ACGT stretches at a sequence's ends are not\n"
    "compared; inside it they must meet the same stretches of the other, so a sequence\n"
    "never lies across an N run of the other.\n"};

const std::vector<OptionSpec> kOptions = {
    {"all", kAll, nullptr, "one row per pair (a sequence and each one it lies in)"},
    {"output", 'o', "FILE", "write the rows to FILE instead of standard output"},
    {"unverified", kUnverified, nullptr, "accept a data set without checksum files"},
    {"quiet", 'q', nullptr, "print nothing but errors and warnings"},
};

}  // namespace

int runRedundant(int argc, char** argv) {
    bool all = false, unverified = false;
    const char* output = nullptr;
    std::vector<std::string> args = parseOptions(argc, argv, kCommand, kOptions, [&](int key, const char* value) {
        switch (key) {
            case kAll: all = true; break;
            case 'o': output = value; break;
            case kUnverified: unverified = true; break;
            case 'q': gQuiet = true; break;
        }
    });
    if (args.size() != 1) usageError("redundant", "give one data set directory");
    DataSetQuery dq;
    openQueryFor(dq, args[0], unverified);
    const std::vector<RedundantRow> rows = findRedundant(dq.run, all);
    const std::vector<SequenceName>& names = dq.ds.names;

    RowWriter out;
    openRows(out, output);
    fprintf(out.out, "relation\tsequence\tlength\tother_sequence\tother_length\tstrand\tstart\tend\n");
    int redundant = 0, identical = 0;
    for (size_t k = 0; k < rows.size(); k++) {
        const RedundantRow& r = rows[k];
        const SequenceName &a = names[(size_t)r.input], &b = names[(size_t)r.other];
        const InputMap& map = dq.run.maps[(size_t)r.other];
        const int64_t first = fastaOffset(map, r.start) + 1;
        const int64_t last = fastaOffset(map, r.start + a.filteredLength - 1) + 1;
        fprintf(out.out, "%s\t%s\t%lld\t%s\t%lld\t%c\t%lld\t%lld\n", r.identical ? "identical" : "contained",
                tsvField(a.name).c_str(), (long long)a.fastaLength, tsvField(b.name).c_str(), (long long)b.fastaLength,
                r.reverse ? '-' : '+', (long long)first, (long long)last);
        if (k == 0 || rows[k - 1].input != r.input) {
            redundant++;
            identical += r.identical;
        }
    }
    closeRows(out);
    if (!gQuiet)
        fprintf(stderr, "dnatrees redundant: %d of %zu sequences redundant (%d identical, %d contained)\n", redundant,
                names.size(), identical, redundant - identical);
    return 0;
}
