// Opening a data set: where the user's DIR puts the stages' files, which of them a
// subcommand needs, and what to run when they are not all there.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "dnatrees/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treequery/open_run.h"

namespace {

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The command that builds DIR again from the files it was built from (when the names
// catalogue says which), for the messages of an unfinished or older data set.
std::string rebuildCommand(const DataSet& ds) {
    std::string command = "dnatrees index " + ds.dir;
    std::vector<std::string> files;
    if (exists(ds.base + ".stnames"))
        for (const SequenceName& n : readNames(ds.base))
            if (std::find(files.begin(), files.end(), n.file) == files.end()) files.push_back(n.file);
    if (files.empty()) return command + " FILE...";
    for (const std::string& f : files) command += " " + f;
    return command;
}

}  // namespace

std::vector<SequenceName> readNames(const std::string& base) {
    ChecksumFile sums;
    sums.load(base + ".stinsum");
    return readNamesCatalogue(base + ".stnames", sums);
}

std::string trimSlashes(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

DataSet openDataSet(const std::string& dir, int needs, bool unverified) {
    DataSet ds;
    ds.dir = dir;
    const std::string d = trimSlashes(dir);
    if (d.empty()) fatal("the data set directory is empty text: give its path\n");
    if (!isDirectory(d)) fatal("%s is not a directory: build a data set there with 'dnatrees index %s FILE...'\n",
                               dir.c_str(), dir.c_str());
    const std::string slash = d == "/" ? d : d + "/";
    const size_t cut = d.find_last_of('/');
    const std::string leaf = cut == std::string::npos ? d : d.substr(cut + 1);
    if (isDirectory(slash + kDataSetPrefix + ".ST")) {
        ds.stageDir = slash;
        ds.prefix = kDataSetPrefix;
    } else if (leaf.size() > 3 && leaf.compare(leaf.size() - 3, 3, ".ST") == 0) {
        // A data set of the stages given directly: X/name.ST holds name_0.stdna ...
        ds.stageDir = cut == std::string::npos ? "" : d.substr(0, cut + 1);
        ds.prefix = leaf.substr(0, leaf.size() - 3);
    } else {
        fatal("%s holds no data set (no %s.ST/ inside): build one with 'dnatrees index %s FILE...'\n", dir.c_str(),
              kDataSetPrefix, dir.c_str());
    }
    ds.base = ds.stageDir + ds.prefix + ".ST/" + ds.prefix;

    if (!exists(ds.base + ".stlengths"))
        fatal("%s holds no finished data set (no %s): rebuild it with '%s'\n", dir.c_str(),
              (ds.base + ".stlengths").c_str(), rebuildCommand(ds).c_str());
    if ((needs & kNeedTrees) && !exists(ds.base + ".stdiv"))
        fatal("%s has no trees (its build did not finish): rebuild it with '%s'\n", dir.c_str(),
              rebuildCommand(ds).c_str());
    const bool names = exists(ds.base + ".stnames") && exists(ds.base + ".stmap");
    if ((needs & kNeedNames) && !names)
        fatal("%s is an older data set without sequence names and coordinate map: rebuild it with '%s'\n",
              dir.c_str(), rebuildCommand(ds).c_str());

    for (const char* sum : {".stinsum", ".streesum"})
        if (!exists(ds.base + sum)) ds.missingSums.push_back(ds.base + sum);
    ds.hasSums = ds.missingSums.empty();
    if (!ds.hasSums) {
        std::string list;
        for (const std::string& m : ds.missingSums) list += (list.empty() ? "" : ", ") + m;
        if (!unverified)
            fatal("%s has no checksum file %s, so damage to it would go unnoticed: rebuild it with '%s', or give "
                  "--unverified to read it as it is\n",
                  dir.c_str(), list.c_str(), rebuildCommand(ds).c_str());
        fprintf(stderr, "# %s: reading unverified data (no checksum file %s)\n", dir.c_str(), list.c_str());
    }
    if (names) {
        ChecksumFile sums;
        sums.load(ds.base + ".stinsum");
        ds.names = readNamesCatalogue(ds.base + ".stnames", sums);
        ds.maps = readCoordinateMap(ds.base + ".stmap", sums);
    }
    return ds;
}

void openQueryFor(DataSetQuery& dq, const std::string& dir, bool unverified) {
    dq.ds = openDataSet(dir, kNeedTrees | kNeedNames, unverified);
    openQueryRun(dq.settings, dq.run, dq.ds.stageDir.c_str(), dq.ds.prefix.c_str(), false);
    dq.run.maps = std::move(dq.ds.maps);
}

std::vector<DataSetFile> listDataSetFiles(const DataSet& ds) {
    std::vector<DataSetFile> files;
    const std::string folder = ds.stageDir + ds.prefix + ".ST/";
    DIR* d = opendir(folder.c_str());
    if (!d) fatal("can't list %s\n", folder.c_str());
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        files.push_back({name, fileSizeByStat((folder + name).c_str())});
    }
    closedir(d);
    std::sort(files.begin(), files.end(), [](const DataSetFile& a, const DataSetFile& b) { return a.name < b.name; });
    return files;
}

int treeCount(const DataSet& ds) {
    int trees = 0;
    for (const DataSetFile& f : listDataSetFiles(ds))
        if (f.name.size() > 6 && f.name.compare(f.name.size() - 6, 6, ".stree") == 0) trees++;
    return trees;
}
