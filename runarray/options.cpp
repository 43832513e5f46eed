// Command line of the sorter: usage text, the option scan and the settings echo.
#include <cstdio>

#include "runarray/runarray.h"
#include "toolkit/run.h"

namespace {

const char* const kUsage[] = {
    "%s <inputdir> <prefix> [-options...]\n",
    "\t-r <n> \t# run size - max number of suffixes in a partition\n",
    "\t-m <n> \t# memory to be used for output buffer (in Suffixes) - default 65536\n",
    "\t-J <s> \t# indexes of relevance, eg. \"-J 1-4,6\" (unimplemented)\n",
    "\t-A\t# All - put all inputs into one partition (overrides -r)\n",
    "\t-S\t# Single - process all inputs singly (overrides -A and -r))\n",
    "\t-N\t# No output - suppress output of Suffix files\n",
    "\t-Z\t# LCP Manzini - calculate and output LCP array .stlcp\n",
    "\t-M\t# Mori (not Larsson) for SA. Deprecated, we always use Mori!\n",
    "\t-z\t# Use a zero index origin in each output PSA.\n",
    "\t-q\t# quiet - no output to stderr\n",
    "\t-v\t# verbose - lots of output to stderr\n",
    "\t-h\t# help - print this message\n",
    "Generates <n> .stpsa (\"suffix tree: prefixed suffix array\") files.\n",
    "Uses .stlengths, .stplengths and <n> .stdna (or .stsmn - obsolete) files.\n",
};

}  // namespace

int printRunarrayUsage(const char* program) {
    return printUsage(program, kUsage, (int)(sizeof kUsage / sizeof kUsage[0]));
}

bool scanOptions(int argc, char** argv, SortSettings& settings) {
    char pending = 0;  // the value option still waiting for its value
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            if (pending) fatal("option value pending when reached '%s'\n", arg);
            switch (arg[1]) {
                case 'r': case 'm': case 'J': pending = arg[1]; break;
                case 'A': settings.all = 1; break;
                case 'S': settings.single = 1; break;
                case 'N': settings.noSuffixes = 1; break;
                case 'Z': settings.manzini = 1; break;
                case 'M': settings.mori = 1; break;
                case 'z': settings.zeroOrigin = 1; break;
                case 'q': gRun.quiet = 1; break;
                case 'v': gRun.verbose = 1; break;
                case 'h': printRunarrayUsage(argv[0]); break;
                default: fatal("unrecognized option '%s'\n", arg);
            }
        } else if (pending) {
            if (pending == 'r') settings.maxSALen = parseNumber(arg);
            else if (pending == 'm') settings.outSize = parseNumber(arg);
            else settings.jOption = arg;
            pending = 0;
        } else if (!settings.inputDir) {
            settings.inputDir = arg;
        } else if (!settings.prefix) {
            settings.prefix = arg;
        } else {
            fatal("at option '%s': main parameters already defined\n", arg);
        }
    }
    if (pending) fatal("Error: option value pending when reached end of args\n");
    return settings.inputDir && settings.prefix;
}

void echoOptions(const SortSettings& settings) {
    if (gRun.quiet) return;
    fputs("# sorting options: ", stderr);
    int words = 0;
    auto flag = [&](int on, const char* word) {
        if (on) { fputs(word, stderr); words++; }
    };
    auto number = [&](int value, const char* format) {
        if (value) { fprintf(stderr, format, value); words++; }
    };
    flag(gRun.verbose, "verbose ");
    number(settings.maxSALen, "maxSALen=%d ");
    number(settings.outSize, "outsize=%d ");
    flag(settings.all, "all ");
    flag(settings.single, "single ");
    flag(settings.noSuffixes, "nosuff ");
    flag(settings.manzini, "Manzini ");
    flag(settings.mori, "Mori ");
    flag(settings.zeroOrigin, "iorigin ");
    if (settings.jOption) { fprintf(stderr, "Joption=%s ", settings.jOption); words++; }
    fputs(words ? "\n" : "none\n", stderr);
    if (settings.jOption) note("WARNING: J option unimplemented!\n");
    if (settings.mori) note("WARNING: M option deprecated!\n");
}
