// Command line of dnaprep: the scan, the usage text and the options echo.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dnaprep/prep.h"
#include "toolkit/options.h"
#include "toolkit/run.h"

namespace {

const char* const kUsage[] = {
    "%s <inputdir> <outputdir> <prefix> [-options...] <fastafiles...>\n",
    "\t-q\t# quiet - no output to stderr\n",
    "\t-v\t# verbose - lots of output to stderr\n",
    "\t-Q\t# QUIET - really quiet - no output to stdout\n",
    "\t-t\t# tandem repeat mask - treat all lower case acgt as Ns\n",
    "\t-u\t# upper-case - write out ACGT rather than acgt DNA\n",
    "\t-g\t# get counts - collect counts of all chars within DNA sections\n",
    "\t-f\t# fast parse - only count reads, line breaks and bytes per file; no inputs are written\n",
    "\t-N\t# names - also write the names catalogue (.stnames) and the coordinate map (.stmap)\n",
    "\t-h\t# help - print this message\n",
    "\t-s <n> \t# start index - when to start writing output - default 0\n",
    "\t-n <n> \t# total number of input sequences to read from file(s)\n",
    "\t-m <n> \t# memory to be used for input buffer (in bytes)\n",
    "\t-d <n> \t# memory to be used for output DNA buffer (in bytes)\n",
    "\t-k <n> \t# memory to be used for output key buffer (in bytes)\n",
    "\t-T <n> \t# tailchop - remove all but one when contig tail of length at least <n>\n",
    "\t-C <n> \t# context -  print <n> bytes each from begin and end of DNA sequence\n",
    "\t-o <s> \t# output - write to the named file rather than stdout\n",
    "Generates <n> .stdna and .stbin files, and one .stlengths and .stblengths file.\n",
    "A FASTA file may be gzip-compressed; \"-\" reads standard input.\n",
};

// Values that no buffer or count can take (only reachable through text such as " -5",
// since an argument that starts with '-' is an option).
void checkValues(const PrepSettings& s) {
    if (s.sindex < 0) fatal("start index %d must not be negative\n", s.sindex);
    if (s.nseqs < 0) fatal("number of sequences %d must not be negative\n", s.nseqs);
    if (s.buffset < 0) fatal("can't allocate %d bytes for buffer\n", s.buffset);
    if (s.dnabset < 0) fatal("can't allocate %d bytes for DNA buffer\n", s.dnabset);
    if (s.tailchop < 0) fatal("tailchop threshold %d must not be negative\n", s.tailchop);
    if (s.pcontext < 0) fatal("context length %d must not be negative\n", s.pcontext);
}

}  // namespace

void usageExit(const char* program) {
    printUsage(program, kUsage, sizeof(kUsage) / sizeof(kUsage[0]));
    exit(1);
}

// Options may stand anywhere before the first FASTA file; the first argument that is
// neither an option, nor its value, nor a main parameter starts the file list, and
// everything after it is a file name, even text that begins with '-'.
void scanArguments(int argc, char** argv, PrepSettings& s) {
    const OptionRow rows[] = {
        flagRow('q', &gRun.quiet),
        flagRow('v', &gRun.verbose),
        flagRow('Q', &s.quietOut),
        flagRow('t', &s.trmask),
        flagRow('u', &s.ucase),
        flagRow('g', &s.gcounts),
        flagRow('f', &s.fparse),
        flagRow('N', &s.names),
        helpRow('h', [] { exit(1); }),
        numberRow('s', &s.sindex),
        numberRow('n', &s.nseqs),
        numberRow('m', &s.buffset),
        numberRow('d', &s.dnabset),
        numberRow('k', &s.keybset),
        numberRow('T', &s.tailchop),
        refusedRow('F', "the sequence name is always the whole header\n"),
        numberRow('C', &s.pcontext),
        textRow('o', &s.outname),
        refusedRow('x', "the test string is not used\n"),
    };
    CommandLine line = commandLine(rows, kUsage);
    line.mains[0] = &s.inputDir;
    line.mains[1] = &s.outputDir;
    line.mains[2] = &s.prefix;
    line.mainCount = 3;
    line.dashIsArgument = true;  // a lone "-" is standard input
    line.filesFollowMains = true;
    line.messages.pendingAtOption = "option value pending when reached '%s'\n";
    line.messages.unrecognized = "unrecognized option '%s'\n";
    ScanResult scan = scanCommandLine(argc, argv, line);
    if (!scan.firstFile) fatal("no input FASTA files specified.\n");
    s.firstFile = scan.firstFile;
    checkValues(s);
}

void echoSettings(const PrepSettings& s) {
    if (gRun.quiet) return;
    fprintf(stderr, "# fasta options: ");
    int words = 0;
    auto flag = [&](int on, const char* word) {
        if (on) { fprintf(stderr, "%s ", word); ++words; }
    };
    auto value = [&](int v, const char* name) {
        if (v) { fprintf(stderr, "%s=%d ", name, v); ++words; }
    };
    auto text = [&](const char* v, const char* name) {
        if (v) { fprintf(stderr, "%s=%s ", name, v); ++words; }
    };
    flag(s.quietOut, "Quiet");
    flag(gRun.verbose, "verbose");
    flag(s.trmask, "trmask");
    flag(s.ucase, "ucase");
    flag(s.gcounts, "gcounts");
    flag(s.fparse, "fparse");
    value(s.sindex, "sindex");
    value(s.nseqs, "nseqs");
    value(s.buffset, "buffset");
    value(s.dnabset, "dnabset");
    value(s.keybset, "keybset");
    value(s.tailchop, "tailchop");
    value(s.pcontext, "pcontext");
    text(s.outname, "outname");
    flag(s.names, "names");
    if (!words) fprintf(stderr, "none");
    fprintf(stderr, "\n");
}

// The FASTA argument cut at its last full stop, when that lies after the last slash
// and is not the first character ("chr1.fa" -> "chr1", ".fa" and "a.b/c" stay whole).
std::string fileNameOf(const char* argument) {
    std::string name(argument);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return name;
    size_t slash = name.rfind('/');
    if (slash != std::string::npos && slash > dot) return name;
    name.resize(dot);
    return name;
}
