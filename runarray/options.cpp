// Command line of the sorter: usage text, the option scan and the settings echo.
#include <cstdio>

#include "runarray/runarray.h"
#include "toolkit/options.h"
#include "toolkit/run.h"
#include "toolkit/threads.h"

namespace {

const char* const kUsage[] = {
    "%s <inputdir> <prefix> [-options...]\n",
    "\t-r <n> \t# run size - max number of suffixes in a partition\n",
    "\t-m <n> \t# memory to be used for output buffer (in Suffixes) - default 65536\n",
    "\t-A\t# All - put all inputs into one partition (overrides -r)\n",
    "\t-S\t# Single - process all inputs singly (overrides -A and -r))\n",
    "\t-N\t# No output - suppress output of Suffix files\n",
    "\t-Z\t# LCP Manzini - calculate and output LCP array .stlcp\n",
    "\t-z\t# Use a zero index origin in each output PSA.\n",
    "\t-j <n> \t# threads - sort up to <n> runs at once, sharing each run's work (0: all cores)\n",
    "\t-P\t# plan - print the runs (inputs, suffixes, buffer bytes) to stdout and sort nothing\n",
    "\t-O <s> \t# only runs <i>-<j> of the plan (or run <i>), each with a checksum file of its own, for -G\n",
    "\t-G\t# join - write the .stplengths and .strunsum files of runs sorted apart with -O\n",
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
    SortSettings& s = settings;
    const OptionRow rows[] = {
        numberRow('r', &s.maxSALen),
        numberRow('m', &s.outSize),
        refusedRow('J', "indexes of relevance are not built\n"),
        flagRow('A', &s.all),
        flagRow('S', &s.single),
        flagRow('N', &s.noSuffixes),
        flagRow('Z', &s.manzini),
        refusedRow('M', "the suffixes are always sorted with Mori's divsufsort\n"),
        flagRow('z', &s.zeroOrigin),
        textRow('j', &s.threadsText),
        flagRow('P', &s.printPlan),
        textRow('O', &s.onlyRuns),
        flagRow('G', &s.joinRuns),
        flagRow('q', &gRun.quiet),
        flagRow('v', &gRun.verbose),
        helpRow('h'),
    };
    CommandLine line = commandLine(rows, kUsage);
    line.mains[0] = &s.inputDir;
    line.mains[1] = &s.prefix;
    line.mainCount = 2;
    line.messages.pendingAtOption = "option value pending when reached '%s'\n";
    line.messages.pendingAtEnd = "Error: option value pending when reached end of args\n";
    line.messages.unrecognized = "unrecognized option '%s'\n";
    line.messages.extraMain = "at option '%s': main parameters already defined\n";
    bool mains = scanCommandLine(argc, argv, line).mains == 2;
    if (s.threadsText) {
        int requested = parseNumber(s.threadsText);
        if (requested < 0) fatal("thread count %d (-j) is not a number of threads\n", requested);
        s.threads = resolveThreads(requested);
    }
    if (s.printPlan + (s.onlyRuns != nullptr) + s.joinRuns > 1)
        fatal("-P, -O and -G are separate steps: give one of them\n");
    return mains;
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
    flag(settings.zeroOrigin, "iorigin ");
    if (settings.threadsText) { fprintf(stderr, "threads=%d ", settings.threads); words++; }
    flag(settings.printPlan, "plan ");
    if (settings.onlyRuns) { fprintf(stderr, "runs=%s ", settings.onlyRuns); words++; }
    flag(settings.joinRuns, "join ");
    fputs(words ? "\n" : "none\n", stderr);
}
