// Command line of treequery: the scan, the settings echo, the usage text, the paths
// and the output destination.
#include <cstdarg>
#include <cstring>
#include <string>

#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/options.h"
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
    "\t-m <n> \t# max number of occurrences - abandon search (or just count) after\n",
    "\t-t <n> \t# threshold (lower) - matches must be at least this length\n",
    "\t-u <n> \t# frequency threshold - matches must occur no more than <n> times in each input\n",
    "\t-b <n> \t# best matches - find the <n> best (ie. longest) matches in the relevant categories\n",
    "\t-r <n> \t# reference genome - the given input must be \"involved\" in each result\n",
    "\t-S <n> \t# start - begin traversal at subtree <n> (for testing)\n",
    "\t-i <n> \t# iterations - traverse only <n> subtrees (for testing)\n",
    "\t-L <n> \t# length to print - patterns output to a maximum of this length\n",
    "\t-H <n> \t# Hamming distance - permit up to <n> chars of mismatch\n",
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
    "\t-A <s> \t# Hamming algorithm - walk (each tree once) or pieces (pieces of the pattern, their places checked); default pieces with -U, else walk\n",
    "\t-f <s> \t# pattern file - FASTA or one pattern a line, gzip or not, - for stdin (with -p: both)\n",
    "\t-F <s> \t# format - tsv or bed: one row per occurrence with sequence names and FASTA coordinates\n",
    "\t-B\t# both strands - search each pattern and its reverse complement (needs -F)\n",
    "\t-j <n> \t# threads - search pattern batches and walk trees on <n> threads (0: all cores)\n",
    "\t    \t# in patterns n or N matches any base at no cost, as * does\n",
    "\t-V\t# verify - check every file of the data set against its checksums and catalogues\n",
    "\t--shard <i/n> \t# shard - search only the i-th (from 1) of n consecutive shares of the -f patterns\n",
};

}  // namespace

int printQueryUsage(const char* program) {
    return printUsage(program, kUsage, (int)(sizeof(kUsage) / sizeof(kUsage[0])));
}

void scanOptions(int argc, char** argv, QuerySettings& s) {
    s.rgenome = -1;
    s.hamming = -1;
    s.prlength = 100;
    s.threads = 1;

    // One row per option; a new option is one more row here (plus its usage line
    // and echo word).
    const OptionRow rows[] = {
        helpRow('h'),
        textRow('d', &s.treeDir),
        textRow('x', &s.treePrefix),
        textRow('o', &s.outName),
        textRow('p', &s.patternArg),
        textRow('s', &s.setString),
        textRow('k', &s.kString),
        textRow('n', &s.nString),
        refusedRow('J', "indexes of relevance are not built\n"),
        textRow('f', &s.patternFile),
        textRow('F', &s.format),
        textRow('A', &s.hammingWalk),
        refusedRow('l', "each pattern is searched at its full length\n"),
        numberRow('m', &s.maxNum),
        numberRow('t', &s.threshold),
        numberRow('u', &s.tfreq),
        numberRow('b', &s.bestnum),
        numberRow('r', &s.rgenome),
        numberRow('S', &s.snumber),
        numberRow('i', &s.inumber),
        numberRow('L', &s.prlength),
        numberRow('H', &s.hamming),
        refusedRow('X', "context printing is not built\n"),
        numberRow('j', &s.threads),
        named(textRow(0, &s.shard), "shard"),
        // -0 and -K take their value only when one follows.
        optionalNumberRow('0', &s.sresults, kDefaultSresults),
        optionalNumberRow('K', &s.kresults, kDefaultKresults),
        flagRow('1', &s.singles),
        flagRow('2', &s.pairs),
        flagRow('C', &s.consolidate),
        flagRow('D', &s.printdivs),
        flagRow('I', &s.indexOrigin),
        flagRow('U', &s.usemmap),
        flagRow('a', &s.testdfs),
        flagRow('c', &s.countonly),
        flagRow('e', &s.equiv),
        flagRow('B', &s.bothStrands),
        flagRow('V', &s.verify),
        flagRow('q', &gRun.quiet),
        flagRow('v', &gRun.verbose),
    };
    CommandLine line = commandLine(rows, kUsage);
    line.mains[0] = &s.inputDir;
    line.mains[1] = &s.inputPrefix;
    line.mainCount = 2;
    line.dashIsArgument = true;  // "-f -": the patterns come from standard input
    line.messages.pendingAtOption = "command line: option value pending when reached '%s'\n";
    line.messages.pendingAtEnd = "command line: option value pending when end of args\n";
    line.messages.unrecognized = "Error: unrecognized option '%s'\n";
    line.messages.extraMain = "at option '%s': main parameters already defined\n";
    scanCommandLine(argc, argv, line);
    if (!s.inputPrefix) fatal("%s input prefix parameter specified!\n", "no");
    if (!s.inputPrefix[0]) fatal("%s input prefix parameter specified!\n", "empty");
    if (s.hammingWalk && strcmp(s.hammingWalk, "walk") != 0 && strcmp(s.hammingWalk, "pieces") != 0)
        fatal("-A takes walk or pieces, not '%s'\n", s.hammingWalk);
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
    text("patfile=%s ", s.patternFile);
    text("format=%s ", s.format);
    text("shard=%s ", s.shard);
    text("hamalgo=%s ", s.hammingWalk);
    number("maxNum=%d ", s.maxNum, s.maxNum != 0);
    number("rgenome=%d ", s.rgenome, s.rgenome >= 0);
    number("inumber=%d ", s.inumber, s.inumber != 0);
    number("snumber=%d ", s.snumber, s.snumber != 0);
    number("threshold=%d ", s.threshold, s.threshold != 0);
    number("tfreq=%d ", s.tfreq, s.tfreq != 0);
    number("bestnum=%d ", s.bestnum, s.bestnum != 0);
    number("prlength=%d ", s.prlength, s.prlength != 0);
    number("sresults=%d ", s.sresults, s.sresults != 0);
    number("kresults=%d ", s.kresults, s.kresults != 0);
    number("hamming=%d ", s.hamming, s.hamming >= 0);
    number("threads=%d ", s.threads, s.threads != 1);
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
    flag("bothstrands ", s.bothStrands);
    flag("verify ", s.verify);
    if (line.size() == heading) line += "none";
    note("%s\n", line.c_str());
}

void makePaths(QuerySettings& s, QueryRun& q) {
    if (!s.treeDir) s.treeDir = s.inputDir;
    if (!s.treePrefix) s.treePrefix = s.inputPrefix;
    q.texts.inputBase = dataSetBase(s.inputDir, s.inputPrefix);
    q.texts.treeBase = dataSetBase(s.treeDir, s.treePrefix);
    q.store.treeBase = q.texts.treeBase;
    q.catalogueBase = dataSetBase(s.treeDir, s.inputPrefix);
}

void openOutput(const QuerySettings& s, QueryRun& q) {
    q.out = stdout;
    if (!s.outName) return;
    q.out = fopen(s.outName, "w");
    if (!q.out) fatal("can't open file %s for output\n", s.outName);
}
