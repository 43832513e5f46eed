// The table of a data set's file kinds and the forming of their paths.
#include "toolkit/data_set.h"

#include "toolkit/file_io.h"
#include "toolkit/run.h"

const FileKindRow kFileKinds[kFileKindCount] = {
    {FileKind::texts, ".stdna", 1, "dnaprep", FileKind::inputSums, FileCount::perInput, "one byte per base"},
    {FileKind::packed, ".stbin", 4, "dnaprep", FileKind::inputSums, FileCount::perInput, "two bits per base"},
    {FileKind::lengths, ".stlengths", 4, "dnaprep", FileKind::inputSums, FileCount::one, "bases of each input"},
    {FileKind::bitLengths, ".stblengths", 4, "dnaprep", FileKind::inputSums, FileCount::one, "bits of each input"},
    {FileKind::names, ".stnames", 0, "dnaprep", FileKind::inputSums, FileCount::one, "names catalogue (-N)"},
    {FileKind::map, ".stmap", 0, "dnaprep", FileKind::inputSums, FileCount::one, "coordinate map (-N)"},
    {FileKind::inputSums, ".stinsum", 0, "dnaprep", FileKind::inputSums, FileCount::one, "checksums of the inputs"},
    {FileKind::runs, ".stpsa", 16, "runarray", FileKind::runSums, FileCount::perRun, "prefixed suffix array"},
    {FileKind::runLcp, ".stlcp", 4, "runarray", FileKind::runSums, FileCount::perRun, "LCP array (-Z)"},
    {FileKind::partitions, ".stplengths", 4, "runarray", FileKind::runSums, FileCount::one, "inputs of each run",
     "no checksum: the runs are removed"},
    {FileKind::runSums, ".strunsum", 0, "runarray", FileKind::runSums, FileCount::one, "checksums of the runs"},
    {FileKind::trees, ".stree", 12, "treebuild", FileKind::treeSums, FileCount::perTree, "node records of a tree"},
    {FileKind::dividers, ".stdiv", 24, "treebuild", FileKind::treeSums, FileCount::one, "one record per tree"},
    {FileKind::mergedPsa, ".stpsa", 16, "treebuild", FileKind::treeSums, FileCount::one, "merged suffix array (-a)"},
    {FileKind::mergedLcp, ".stlcp", 4, "treebuild", FileKind::treeSums, FileCount::one, "merged LCP array (-a)"},
    {FileKind::treeSums, ".streesum", 0, "treebuild", FileKind::treeSums, FileCount::one, "checksums of the trees"},
};

const FileKindRow& fileKind(FileKind kind) { return kFileKinds[static_cast<int>(kind)]; }

std::string dataSetFolder(const char* dir, const char* prefix) {
    return formatPath(kPathLimit, "%s%s%s/", dir, prefix, ".ST");
}

std::string dataSetBase(const char* dir, const char* folder, const char* prefix) {
    return formatPath(kPathLimit, "%s%s%s/%s", dir, folder, ".ST", prefix);
}

std::string dataSetPath(const std::string& base, FileKind kind) {
    return formatPath(kPathLimit, "%s%s", base.c_str(), extensionOf(kind));
}

std::string dataSetPath(const std::string& base, FileKind kind, int number) {
    return formatPath(kPathLimit, "%s_%d%s", base.c_str(), number, extensionOf(kind));
}
