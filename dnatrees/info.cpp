// dnatrees info DIR: what a data set holds, from its catalogues and its folder.
// dnatrees verify DIR: every file checked against its checksums (treequery -V).
#include <unistd.h>

#include <cstring>

#include "dnatrees/dnatrees.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

namespace {

enum { kGenome = 256, kUnverified };

const Subcommand kInfo = {
    "info", "DIR", "Show what the data set DIR holds: its sequences, their lengths, its files and build options.",
    "Lengths: fasta_length counts every character of a sequence but line breaks, indexed_length\n"
    "its bases A, C, G, T (the ones searched). --genome prints a genome file for bedtools.\n"};

const Subcommand kVerify = {
    "verify", "DIR",
    "Check every file of the data set DIR against its checksums and catalogues.",
    "One line per file: intact, damaged (why), missing or not covered. Status 0 when all\n"
    "is intact, 1 otherwise. Without checksum files nothing can be verified: the data set\n"
    "is refused unless --unverified is given.\n"};

// "index.ST/index_0.stdna" for a file of DIR.
std::string inDir(const DataSet& ds, const std::string& path) {
    const std::string folder = ds.stageDir + ds.prefix + ".ST/";
    if (path.compare(0, folder.size(), folder) == 0) return ds.prefix + ".ST/" + path.substr(folder.size());
    return path;
}

void printBuildRecord(const DataSet& ds) {
    const std::string path = trimSlashes(ds.stageDir) + "/build.tsv";
    FILE* f = fopen(path.c_str(), "r");
    if (!f) {
        printf("built_with\tunknown (not built by dnatrees index)\n");
        return;
    }
    char line[4096];
    bool header = true;
    while (fgets(line, sizeof line, f)) {
        if (header) {
            header = false;
            continue;
        }
        printf("built_%s", line);
    }
    fclose(f);
}

}  // namespace

int runInfo(int argc, char** argv) {
    bool genome = false, unverified = false;
    std::vector<OptionSpec> options = {
        {"genome", kGenome, nullptr, "print only 'name<TAB>length' lines, the genome file of bedtools"},
        {"unverified", kUnverified, nullptr, "accept a data set without checksum files"},
    };
    std::vector<std::string> args = parseOptions(argc, argv, kInfo, options, [&](int key, const char*) {
        if (key == kGenome) genome = true;
        if (key == kUnverified) unverified = true;
    });
    if (args.size() != 1) usageError("info", "give one data set directory");
    DataSet ds = openDataSet(args[0], kNeedNames, unverified);
    if (genome) {
        for (const SequenceName& n : ds.names)
            printf("%s\t%lld\n", tsvField(n.name).c_str(), static_cast<long long>(n.fastaLength));
        return 0;
    }
    int64_t bases = 0, bytes = 0;
    for (const SequenceName& n : ds.names) bases += n.filteredLength;
    std::vector<DataSetFile> files = listDataSetFiles(ds);
    for (const DataSetFile& f : files) bytes += f.bytes;
    printf("data_set\t%s\nsequences\t%zu\nbases\t%lld\ntrees\t%d\nfiles\t%zu\nbytes\t%lld\nchecksums\t%s\n",
           tsvField(ds.dir).c_str(), ds.names.size(), static_cast<long long>(bases), treeCount(ds), files.size(),
           static_cast<long long>(bytes), ds.hasSums ? "present" : "missing");
    if (ds.prefix == kDataSetPrefix) printBuildRecord(ds);
    printf("\nname\tfile\tfasta_length\tindexed_length\n");
    for (const SequenceName& n : ds.names)
        printf("%s\t%s\t%lld\t%lld\n", tsvField(n.name).c_str(), tsvField(n.file).c_str(),
               static_cast<long long>(n.fastaLength), static_cast<long long>(n.filteredLength));
    printf("\nfile\tbytes\n");
    for (const DataSetFile& f : files)
        printf("%s.ST/%s\t%lld\n", ds.prefix.c_str(), f.name.c_str(), static_cast<long long>(f.bytes));
    return 0;
}

int runVerify(int argc, char** argv) {
    bool unverified = false;
    std::vector<OptionSpec> options = {
        {"unverified", kUnverified, nullptr, "accept a data set without checksum files (what is covered is checked)"},
    };
    std::vector<std::string> args = parseOptions(argc, argv, kVerify, options, [&](int, const char*) {
        unverified = true;
    });
    if (args.size() != 1) usageError("verify", "give one data set directory");
    DataSet ds = openDataSet(args[0], 0, unverified);
    int pipeFds[2];
    makePipe(pipeFds);
    Stage treequery = startStage({"treequery", ds.stageDir, ds.prefix, "-q", "-V"}, -1, pipeFds[1]);
    close(pipeFds[1]);
    FILE* in = fdopen(pipeFds[0], "r");
    char line[8192];
    int files = 0, bad = 0;
    printf("file\tstate\n");
    while (fgets(line, sizeof line, in)) {
        line[strcspn(line, "\n")] = 0;
        char* colon = strstr(line, ": ");
        if (!colon) continue;
        *colon = 0;
        std::string path = line, state = colon + 2;
        // "intact (why)": a file that stays once the runs are removed.
        if (state.compare(0, 6, "intact") != 0) ++bad;
        ++files;
        printf("%s\t%s\n", tsvField(inDir(ds, path)).c_str(), state.c_str());
    }
    fclose(in);
    int status = waitStage(treequery);
    if (status > 1) fatal("verifying %s failed (treequery exited with status %d)\n", args[0].c_str(), status);
    fflush(stdout);
    if (bad) {
        fprintf(stderr, "dnatrees verify: %s: %d of %d files are not intact: rebuild it with dnatrees index\n",
                args[0].c_str(), bad, files);
        return 1;
    }
    if (!gQuiet) fprintf(stderr, "dnatrees verify: %s: all %d files intact\n", args[0].c_str(), files);
    return 0;
}
