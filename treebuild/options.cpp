// Command line, settings echo, paths, catalogues and the sizes of the run.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "toolkit/data_set.h"
#include "toolkit/catalogue.h"
#include "toolkit/file_io.h"
#include "toolkit/options.h"
#include "toolkit/run.h"
#include "treebuild/suffix_tree.h"
#include "treebuild/treebuild.h"

namespace {

const char* const kUsage[] = {
    "%s <inputdir> <inputfileprefix> [-options...]\n",
    "\t-o <s> \t# use folder <s> for output, rather than input directory\n",
    "\t-p <s> \t# use prefix <s> for output files, rather than input file prefix\n",
    "\t-S <s> \t# use folder <s> for input suffix array files\n",
    "\t-s <s> \t# use prefix <s> for input suffix array files\n",
    "\t-m <n> \t# memory to be used for all Suffix input buffers (bytes)\n",
    "\t-M <n> \t# memory to be used per Suffix input buffer (bytes)\n",
    "\t-n <n> \t# max number of nodes per tree partition\n",
    "\t-N <n> \t# number-to-merge - merge only the first <n> SAs\n",
    "\t-q\t# quiet - no output to stderr\n",
    "\t-v\t# verbose - lots of output to stderr\n",
    "\t-a\t# array - make suffix array output, rather than suffix tree\n",
    "\t-X\t# no prefixes - completely avoid use of the suffix prefixes\n",
    "\t-H\t# Heap - use the original Heap for the merge\n",
    "\t-Z\t# Manzini - (try to) use externally generated LCP values\n",
    "\t-f\t# file pointers - open a file for each input suffix array\n",
    "\t-z\t# zero index origin - PSAs have inputs numbered from zero.\n",
    "\t-C\t# Compact - compress trees using hash sets etc.\n",
    "\t-j <n> \t# threads - above 1, write each finished tree while the next is built (0: all cores)\n",
    "\t-R\t# remove runs - delete the runs' .stpsa and .stlcp files once the trees are complete\n",
    "\t-K <s> \t# key range - build only the suffixes whose first bases lie in <from>:<to> (eg. ACG:CTT, :CTT)\n",
    "\t-P <s> \t# part - write the trees of -K as part <s> of the data set, for -G\n",
    "\t-Q <n> \t# ranges - print <n> key ranges holding about as many suffixes each, for -K\n",
    "\t-G <s> \t# join - number the trees of parts <s> (eg. -G 0,1,2) in key order, as one build leaves them\n",
    "\t-h\t# help - print this message\n",
    "Generates <n> .stree (\"suffix tree\") files, and one .stdiv file.\n",
    "Uses <k> .stbin and .stpsa files, plus the .*lengths files.\n",
};

int usage(const char* program) {
    return printUsage(program, kUsage, static_cast<int>(sizeof kUsage / sizeof kUsage[0]));
}

// -K, -P, -Q and -G each make a build of its own kind; other combinations would do
// nothing or leave files that look like a whole data set.
void checkRangeOptions(const BuildSettings& s) {
    if (s.rangeCount < 0) fatal("bad number of key ranges (-Q %d)\n", s.rangeCount);
    if ((s.keyRange != nullptr) != (s.partName != nullptr))
        fatal("-K and -P go together: a key range is built as a part, joined later with -G\n");
    int kinds = (s.keyRange != nullptr) + (s.rangeCount > 0) + (s.joinParts != nullptr);
    if (kinds > 1) fatal("-K, -Q and -G are separate steps: give one of them\n");
    if (kinds == 1 && s.arrayOutput) fatal("-a writes merged arrays: it takes no -K, -Q or -G\n");
    if (s.removeRuns && (s.keyRange || s.rangeCount))
        fatal("-R removes the runs that the other key ranges still need: give it to the join (-G)\n");
}

}  // namespace

void parseOptions(int argc, char** argv, BuildSettings& settings) {
    if (argc < 3) exit(usage(argv[0]));
    BuildSettings& s = settings;
    const OptionRow rows[] = {
        helpRow('h'),
        refusedRow('c', "no extra checks are built\n"),
        flagRow('v', &s.verbose, [] { gRun.verbose = 1; }),
        flagRow('a', &s.arrayOutput),
        refusedRow('l', "the array output of -a always writes the LCP array\n"),
        refusedRow('w', "there is one suffix comparison\n"),
        flagRow('X', &s.noPrefix),
        refusedRow('L', "the merge uses no heap unless -H is given\n"),
        flagRow('H', &s.heap),
        refusedRow('b', "runs have one record size; -Z reads the LCP files\n"),
        flagRow('f', &s.useFPs),
        flagRow('C', &s.compact),
        refusedRow('U', "packed inputs are always read into memory\n"),
        flagRow('z', &s.zeroOrigin),
        flagRow('Z', &s.manzini),
        flagRow('q', &gRun.quiet),
        flagRow('R', &s.removeRuns),
        textRow('o', &s.outputDir),
        textRow('p', &s.outputPrefix),
        textRow('S', &s.suffixDir),
        textRow('s', &s.suffixPrefix),
        refusedRow('J', "indexes of relevance are not built\n"),
        numberRow('n', &s.maxNodes),
        numberRow('m', reinterpret_cast<int*>(&s.maxSAMem)),
        numberRow('M', &s.sBuffSize),
        refusedRow('i', "suffix comparisons always run to the first difference\n"),
        refusedRow('x', "trees are cut by node count only (-n); -K cuts by key range\n"),
        numberRow('N', &s.nmerge),
        numberRow('j', &s.threads),
        textRow('K', &s.keyRange),
        textRow('P', &s.partName),
        numberRow('Q', &s.rangeCount),
        textRow('G', &s.joinParts),
    };
    CommandLine line = commandLine(rows, kUsage);
    line.mains[0] = &s.inputDir;
    line.mains[1] = &s.prefix;
    line.mainCount = 2;
    line.messages.pendingAtOption = "Error: option value pending when reached '%s'\n";
    line.messages.pendingAtEnd = "Error: option value pending when reached end of args\n";
    line.messages.unrecognized = "Error: unrecognized option '%s'\n";
    line.messages.extraMain = "main parameters already defined, at option '%s'\n";
    int mainParameters = scanCommandLine(argc, argv, line).mains;
    if (mainParameters < 2) {
        usage(argv[0]);
        fatal("missing main parameters: both <inputdir> and <inputfileprefix> are needed\n");
    }
    if (settings.maxNodes < 0) fatal("bad number of nodes per tree (-n %d)\n", settings.maxNodes);
    if (settings.sBuffSize < 0) fatal("bad stream buffer size (-M %d)\n", settings.sBuffSize);
    if (settings.nmerge < 0) fatal("bad number of inputs to merge (-N %d)\n", settings.nmerge);
    checkRangeOptions(settings);
}

void echoOptions(const BuildSettings& settings) {
    if (gRun.quiet) return;
    const BuildSettings& s = settings;
    fprintf(stderr, "# merge options: ");
    int words = 0;
    auto flag = [&](int on, const char* word) {
        if (on) {
            fputs(word, stderr);
            words++;
        }
    };
    auto text = [&](const char* value, const char* name) {
        if (value && value[0]) {
            fprintf(stderr, "%s=%s ", name, value);
            words++;
        }
    };
    flag(s.verbose, "verbose ");
    flag(s.arrayOutput, "sarray ");
    flag(s.noPrefix, "noprefix ");
    flag(s.heap, "hpflag ");
    flag(s.useFPs, "useFPs ");
    flag(s.compact, "compact ");
    flag(s.zeroOrigin, "iorigin ");
    flag(s.manzini, "Manzini ");
    text(s.outputDir, "odir");
    text(s.outputPrefix, "opfx");
    text(s.suffixDir, "sdir");
    text(s.suffixPrefix, "spfx");
    if (s.maxNodes) fprintf(stderr, "maxNodes=%d ", s.maxNodes), words++;
    if (s.maxSAMem) fprintf(stderr, "maxSAMem=%u ", s.maxSAMem), words++;
    if (s.sBuffSize) fprintf(stderr, "sBuffSize=%d ", s.sBuffSize), words++;
    if (s.nmerge) fprintf(stderr, "nmerge=%d ", s.nmerge), words++;
    if (s.threads >= 0) fprintf(stderr, "threads=%d ", resolveThreads(s.threads)), words++;
    flag(s.removeRuns, "rmruns ");
    text(s.keyRange, "keyrange");
    text(s.partName, "part");
    if (s.rangeCount) fprintf(stderr, "ranges=%d ", s.rangeCount), words++;
    text(s.joinParts, "join");
    fputs(words ? "\n" : "none\n", stderr);
}

void buildPaths(BuildSettings& settings, BuildState& build) {
    BuildSettings& s = settings;
    BuildState& b = build;
    if (!s.outputDir) s.outputDir = s.inputDir;
    if (!s.outputPrefix) s.outputPrefix = s.prefix;
    if (!s.suffixDir) s.suffixDir = s.inputDir;
    if (!s.suffixPrefix) s.suffixPrefix = s.prefix;
    b.inputBase = dataSetBase(s.inputDir, s.prefix);
    b.lengthsPath = dataSetPath(b.inputBase, FileKind::lengths);
    // The runs' folder, under the inputs' prefix.
    b.partitionsPath = dataSetPath(dataSetBase(s.suffixDir, s.suffixPrefix, s.prefix), FileKind::partitions);
    b.suffixBase = dataSetBase(s.suffixDir, s.suffixPrefix);
    b.outputDir = dataSetFolder(s.outputDir, s.outputPrefix);
    b.outputBase = dataSetBase(s.outputDir, s.outputPrefix);
    b.dividersPath = dataSetPath(b.outputBase, FileKind::dividers);
    // An existing directory is fine; a missing parent shows up when the first file is created.
    mkdir(b.outputDir.c_str(), 0755);
}

void readInputCatalogues(const BuildSettings& settings, BuildState& build) {
    BuildState& b = build;
    InputCatalogues found = findInputCatalogues(b.inputBase);
    int n = found.inputs;
    int64_t runs = catalogueEntries(b.partitionsPath);
    int p = runs > 0 ? static_cast<int>(runs) : 0;
    int nmerge = settings.nmerge;
    if (nmerge >= 1 && nmerge < n) {
        // The runs of a partitions catalogue hold every input: merging them while
        // loading only some inputs would compare suffixes of inputs never loaded.
        if (p > 0)
            fatal("-N %d cannot be used with the partitions catalogue \"%s\": its runs hold all %d inputs "
                  "(sort the first %d inputs on their own, or remove the catalogue to merge one stream per input)\n",
                  nmerge, b.partitionsPath.c_str(), n, nmerge);
        n = nmerge;
    }
    b.numInputs = n;
    b.numParts = p;
    b.numStreams = p > 0 ? p : n;
    b.lengths = static_cast<int32_t*>(trackedMalloc(sizeof(int32_t) * (n > 0 ? n : 1)));
    b.bitLengths = static_cast<int32_t*>(trackedMalloc(sizeof(int32_t) * (n > 0 ? n : 1)));
    b.partitions = static_cast<int32_t*>(trackedMalloc(sizeof(int32_t) * (p > 0 ? p : 1)));
    b.streamFirstInput = static_cast<int32_t*>(trackedMalloc(sizeof(int32_t) * (b.numStreams + 1)));
    b.streamInputCount = static_cast<int32_t*>(trackedMalloc(sizeof(int32_t) * (b.numStreams + 1)));
    if (!b.lengths || !b.bitLengths || !b.partitions || !b.streamFirstInput || !b.streamInputCount)
        fatal("can't allocate the catalogues of %d inputs and %d runs\n", n, p);
    loadChecksums(b.inputSums, dataSetPath(b.inputBase, FileKind::inputSums), "the inputs");
    readInputCatalogues(found, n, b.lengths, b.bitLengths, &b.inputSums);
    b.totalLength = found.totalBases;
    b.maxLength = found.longest;
    // The partitions catalogue lies beside the runs; the runs' checksum file lists it
    // when runarray wrote it under the runs' own prefix.
    loadChecksums(b.runSums, dataSetPath(b.suffixBase, FileKind::runSums), "the runs");
    if (p > 0) readPartitions(b.partitionsPath, p, b.partitions, n, &b.runSums);

    int64_t first = 0;
    for (int s = 0; s < b.numStreams; s++) {
        int count = p > 0 ? b.partitions[s] : 1;
        b.streamFirstInput[s] = static_cast<int32_t>(first);
        b.streamInputCount[s] = count;
        first += count;
    }
    if (!gRun.quiet)
        note("total length = %.0f, max input size = %d, number of inputs = %d, number of parts = %d\n",
             b.totalLength, b.maxLength, n, p > 0 ? p : n);
}

void sizeBuffers(const BuildSettings& settings, BuildState& build) {
    BuildState& b = build;
    const BuildSettings& s = settings;
    unsigned maxSAMem = s.maxSAMem ? s.maxSAMem : 300000000u;
    unsigned streams = b.numStreams > 0 ? static_cast<unsigned>(b.numStreams) : 1u;
    uint32_t records = s.sBuffSize ? static_cast<uint32_t>(s.sBuffSize) >> 4 : maxSAMem / (16u * streams);
    // A buffer must hold at least one record, or no block read would ever make progress.
    b.bufferRecords = records > 0 ? records : 1;
    if (s.maxNodes) {
        if (s.arrayOutput ? s.maxNodes < 1 : s.maxNodes < 3)
            fatal("-n %d is too small: a tree needs at least 3 node records, an array block 1 record\n",
                  s.maxNodes);
        b.maxNodes = s.maxNodes;
    } else {
        b.maxNodes = defaultMaxNodes(b.maxLength);
    }
    // -j above 1 overlaps writing each finished tree with building the next; the
    // merged arrays of -a are written as before.
    b.threads = s.threads < 0 ? 1 : resolveThreads(s.threads);
}

void printClosingStatistics(const BuildState& build) {
    if (gRun.quiet) return;
    int cpu = cpuMs();
    note("treebuild: mem %llu bytes, %d PFs, real %d ms, lcp %d ms, r/w %d/%d ms, time %d ms\n", memoryTotal(),
         static_cast<int>(majorFaults()), msClock() - build.startMs, static_cast<int>(build.lcpNs / 1e6),
         readTimeMs(), writeTimeMs(), cpu - build.startCpuMs);
}
