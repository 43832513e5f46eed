// Command line of treequery: the scan, the settings echo, the usage text, the paths
// and the output destination.
#include <cstdarg>
#include <cstring>
#include <string>

#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treequery/treequery.h"

namespace {

const char* const kUsage[] = {
    "%s <inputdir> <inputfileprefix> [-options...]\n",
    "\t-d <s> \t# use directory <s> for suffix trees (default is input directory)\n",
    "\t-x <s> \t# use file prefix <s> for suffix trees (default is input prefix)\n",
    "\t-o <s> \t# output - write to the named file rather than stdout\n",
    "\t-p <s> \t# search for pattern\n",
    "\t-s <s> \t# sets - sets of inputs for which results should be gathered (eg. -s 3:4,6:2,3,5)\n",
    "\t-k <s> \t# ksets - numbers for which ninput results should be gathered (eg. -k 2,3,4)\n",
    "\t-n <s> \t# nsets - numbers for which nleaf results should be gathered (eg. -n 3,4)\n",
    "\t-J <s> \t# indexes of relevance, eg. \"-J 1-4,6\" (unimplemented)\n",
    "\t-l <n> \t# length of pattern (optional - full length is assumed)\n",
    "\t-m <n> \t# max number of occurrences - abandon search (or just count) after\n",
    "\t-t <n> \t# threshold (lower) - matches must be at least this length\n",
    "\t-u <n> \t# frequency threshold - matches must occur no more than <n> times in each input\n",
    "\t-b <n> \t# best matches - find the <n> best (ie. longest) matches in the relevant categories\n",
    "\t-r <n> \t# reference genome - the given input must be \"involved\" in each result\n",
    "\t-S <n> \t# start - begin traversal at subtree <n> (for testing)\n",
    "\t-i <n> \t# iterations - traverse only <n> subtrees (for testing)\n",
    "\t-L <n> \t# length to print - patterns output to a maximum of this length\n",
    "\t-H <n> \t# Hamming distance - permit up to <n> chars of mismatch\n",
    "\t-X <n> \t# context - print <n> chars each of left and right context (unimplemented)\n",
    "\t-a\t# test DFS - make an extra full traversal for running checks, getting stats, etc.\n",
    "\t-e\t# equivalence and containment relations - find inputs that are \"redundant\"\n",
    "\t-0\t# standard results - a results set for nleaves\n",
    "\t-K\t# standard results - a results set for ninputs\n",
    "\t-1\t# singles - get a result set for each distinct input\n",
    "\t-2\t# pairs - get a result set for each distinct pair of inputs\n",
    "\t-c\t# count only - no pattern offsets etc.\n",
    "\t-q\t# quiet - no output to stderr\n",
    "\t-v\t# verbose - lots of output to stderr\n",
    "\t-D\t# dividers - print info from dividers to stderr\n",
    "\t-I\t# index origin - use to number sequences in sets from one, not zero\n",
    "\t-C\t# consolidate - for <i> multiple pattern matches, make one result set rather than <i>\n",
    "\t-U\t# use mmap - try memory mapping instead of file reading\n",
    "\t-V\t# verify - check every file of the data set against its checksums and catalogues\n",
};

const char** stringOption(QuerySettings& s, char letter) {
    switch (letter) {
        case 'd': return &s.treeDir;
        case 'x': return &s.treePrefix;
        case 'o': return &s.outName;
        case 'p': return &s.patternArg;
        case 's': return &s.setString;
        case 'k': return &s.kString;
        case 'n': return &s.nString;
        case 'J': return &s.jString;
        default: return nullptr;
    }
}

int* numericOption(QuerySettings& s, char letter) {
    switch (letter) {
        case 'l': return &s.plen;
        case 'm': return &s.maxNum;
        case 't': return &s.threshold;
        case 'u': return &s.tfreq;
        case 'b': return &s.bestnum;
        case 'r': return &s.rgenome;
        case 'S': return &s.snumber;
        case 'i': return &s.inumber;
        case 'L': return &s.prlength;
        case 'H': return &s.hamming;
        case 'X': return &s.pcontext;
        case '0': return &s.sresults;
        case 'K': return &s.kresults;
        default: return nullptr;
    }
}

int* flagOption(QuerySettings& s, char letter) {
    switch (letter) {
        case '1': return &s.singles;
        case '2': return &s.pairs;
        case 'C': return &s.consolidate;
        case 'D': return &s.printdivs;
        case 'I': return &s.indexOrigin;
        case 'U': return &s.usemmap;
        case 'a': return &s.testdfs;
        case 'c': return &s.countonly;
        case 'e': return &s.equiv;
        case 'V': return &s.verify;
        case 'q': return &gRun.quiet;
        case 'v': return &gRun.verbose;
        default: return nullptr;
    }
}

// The text that printf would print, whole.
__attribute__((format(printf, 1, 2))) std::string formatString(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = formatText(fmt, args);
    va_end(args);
    return text;
}

// -0 and -K take their value only when one follows; otherwise these defaults.
int optionalDefault(char letter) { return letter == '0' ? kDefaultSresults : kDefaultKresults; }

}  // namespace

int printQueryUsage(const char* program) {
    return printUsage(program, kUsage, (int)(sizeof(kUsage) / sizeof(kUsage[0])));
}

void scanOptions(int argc, char** argv, QuerySettings& s) {
    s.rgenome = -1;
    s.hamming = -1;
    s.prlength = 100;

    const char** pendingString = nullptr;
    int* pendingNumber = nullptr;
    char pendingLetter = 0;
    int positional = 0;
    for (int a = 1; a < argc; a++) {
        char* arg = argv[a];
        if (arg[0] != '-') {
            if (pendingNumber) {
                *pendingNumber = parseNumber(arg);
                pendingNumber = nullptr;
            } else if (pendingString) {
                *pendingString = arg;
                pendingString = nullptr;
            } else if (positional == 0) {
                s.inputDir = arg;
                positional++;
            } else if (positional == 1) {
                s.inputPrefix = arg;
                positional++;
            } else {
                fatal("at option '%s': main parameters already defined\n", arg);
            }
            continue;
        }
        char letter = arg[1];
        if (pendingNumber || pendingString) {
            if (pendingNumber && (pendingLetter == '0' || pendingLetter == 'K')) {
                *pendingNumber = optionalDefault(pendingLetter);
                pendingNumber = nullptr;
            } else {
                fatal("command line: option value pending when reached '%s'\n", arg);
            }
        }
        if (letter == 'h') {
            printQueryUsage(argv[0]);
        } else if (const char** text = stringOption(s, letter)) {
            pendingString = text;
        } else if (int* n = numericOption(s, letter)) {
            pendingNumber = n;
        } else if (int* f = flagOption(s, letter)) {
            *f = 1;
        } else {
            fatal("Error: unrecognized option '%s'\n", arg);
        }
        pendingLetter = letter;
    }
    if (pendingNumber && (pendingLetter == '0' || pendingLetter == 'K')) {
        *pendingNumber = optionalDefault(pendingLetter);
    } else if (pendingNumber || pendingString) {
        fatal("command line: option value pending when end of args\n");
    }
    if (!s.inputPrefix) fatal("%s input prefix parameter specified!\n", "no");
    if (!s.inputPrefix[0]) fatal("%s input prefix parameter specified!\n", "empty");
}

void echoSettings(const QuerySettings& s) {
    if (gRun.quiet) return;
    std::string line = "search options: ";
    size_t heading = line.size();
    // Values are printed whole, however long a -s or -k list runs.
    auto text = [&](const char* fmt, const char* value) {
        if (value) line += formatString(fmt, value);
    };
    auto number = [&](const char* fmt, int value, bool show) {
        if (show) line += formatString(fmt, value);
    };
    auto flag = [&](const char* word, int on) {
        if (on) line += word;
    };
    text("pattern=%.30s ", s.patternArg);
    text("strsets=%s ", s.setString);
    text("tdir=%s ", s.treeDir);
    text("opfx=%s ", s.treePrefix);
    text("outname=%s ", s.outName);
    text("kstring=%s ", s.kString);
    text("nstring=%s ", s.nString);
    text("Joption=%s ", s.jString);
    number("plen=%d ", s.plen, s.plen != 0);
    number("maxNum=%d ", s.maxNum, s.maxNum != 0);
    number("rgenome=%d ", s.rgenome, s.rgenome >= 0);
    number("inumber=%d ", s.inumber, s.inumber != 0);
    number("snumber=%d ", s.snumber, s.snumber != 0);
    number("threshold=%d ", s.threshold, s.threshold != 0);
    number("tfreq=%d ", s.tfreq, s.tfreq != 0);
    number("bestnum=%d ", s.bestnum, s.bestnum != 0);
    number("prlength=%d ", s.prlength, s.prlength != 0);
    number("pcontext=%d ", s.pcontext, s.pcontext != 0);
    number("sresults=%d ", s.sresults, s.sresults != 0);
    number("kresults=%d ", s.kresults, s.kresults != 0);
    number("hamming=%d ", s.hamming, s.hamming >= 0);
    flag("countonly ", s.countonly);
    flag("verbose ", gRun.verbose);
    flag("equiv ", s.equiv);
    flag("singles ", s.singles);
    flag("pairs ", s.pairs);
    flag("testdfs ", s.testdfs);
    flag("printdivs ", s.printdivs);
    flag("IO=1 ", s.indexOrigin);
    flag("usemmap=1 ", s.usemmap);
    flag("consolid=1 ", s.consolidate);
    flag("verify ", s.verify);
    if (line.size() == heading) line += "none";
    note("%s\n", line.c_str());
    if (s.jString) note("WARNING: J option unimplemented!\n");
}

void makePaths(QuerySettings& s, QueryRun& q) {
    if (!s.treeDir) s.treeDir = s.inputDir;
    if (!s.treePrefix) s.treePrefix = s.inputPrefix;
    q.texts.inputBase = formatPath(kPathLimit, "%s%s%s/%s", s.inputDir, s.inputPrefix, ".ST", s.inputPrefix);
    q.texts.treeBase = formatPath(kPathLimit, "%s%s%s/%s", s.treeDir, s.treePrefix, ".ST", s.treePrefix);
    q.store.treeBase = q.texts.treeBase;
    q.catalogueBase = formatPath(kPathLimit, "%s%s%s/%s", s.treeDir, s.inputPrefix, ".ST", s.inputPrefix);
}

void openOutput(const QuerySettings& s, QueryRun& q) {
    q.out = stdout;
    if (!s.outName) return;
    q.out = fopen(s.outName, "w");
    if (!q.out) fatal("can't open file %s for output\n", s.outName);
}
