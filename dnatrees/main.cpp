// dnatrees <command> [options]: index DNA collections into suffix trees on disk and
// search them. Each command is one row of the table below and one file of its own.
#include <cstdio>
#include <cstring>

#include "dnatrees/dnatrees.h"

namespace {

struct CommandRow {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* summary;
};

const CommandRow kSubcommands[] = {
    {"index", runIndex, "build a data set from FASTA or FASTQ files (plain or gzip)"},
    {"search", runSearch, "find patterns on both strands, exact or with mismatches, IUPAC codes allowed"},
    {"info", runInfo, "show what a data set holds (sequences, lengths, files, build options)"},
    {"verify", runVerify, "check every file of a data set against its checksums"},
    {"redundant", runRedundant, "list sequences identical to or contained in another, on either strand"},
    {"repeats", runRepeats, "list the longest repeats with every copy, optionally inverted ones"},
};

void printCommands(FILE* out) {
    fprintf(out,
            "Usage: dnatrees COMMAND [OPTION]... ARGUMENT...\n"
            "Index DNA collections with suffix trees on disk and search them.\n\nCommands:\n");
    for (const CommandRow& c : kSubcommands) fprintf(out, "  %-10s%s\n", c.name, c.summary);
    fprintf(out,
            "\nOptions:\n"
            "  -h, --help     display this help and exit\n"
            "      --version  output version information and exit\n"
            "\n'dnatrees COMMAND --help' describes a command's arguments and options.\n"
            "\nReport bugs to the dnatrees maintainers.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printCommands(stderr);
        return 2;
    }
    const char* name = argv[1];
    if (!strcmp(name, "-h") || !strcmp(name, "--help")) {
        printCommands(stdout);
        return 0;
    }
    if (!strcmp(name, "--version")) {
        printf("%s\n", dnatreesVersion());
        return 0;
    }
    for (const CommandRow& c : kSubcommands)
        if (!strcmp(c.name, name)) return c.run(argc - 1, argv + 1);
    fprintf(stderr, "dnatrees: '%s' is not a command\nTry 'dnatrees --help' for the list of commands.\n", name);
    return 2;
}
