// The join of parts built one key range each (-K, -P): the parts' trees become the
// data set's trees, numbered in key order, with one dividers file and one checksum
// file, as one build of every range would leave them.
//
// Each part's dividers file is verified whole against the part's checksum file; each
// tree keeps its bytes and is only renamed, so its checksum entry moves over from the
// part's checksum file without a read of the tree (treequery -V reads them all).
// Time O(trees) renames; extra memory the dividers and block tables of the trees.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <string>
#include <vector>

#include "toolkit/data_set.h"
#include "toolkit/dividers.h"
#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treebuild/treebuild.h"

namespace {

// One part as its build left it.
struct Part {
    std::string name;
    std::string base;               // "<output base>.part-<name>"
    ChecksumFile sums;
    std::vector<TreeDivider> dividers;
};

std::vector<std::string> splitNames(const char* list) {
    std::vector<std::string> names;
    std::string name;
    for (const char* c = list;; c++) {
        if (*c == ',' || *c == 0) {
            if (name.empty()) fatal("part list \"%s\" (-G) has an empty name\n", list);
            if (std::find(names.begin(), names.end(), name) != names.end())
                fatal("part list \"%s\" (-G) names part %s twice\n", list, name.c_str());
            names.push_back(name);
            name.clear();
            if (*c == 0) break;
        } else {
            name += *c;
        }
    }
    return names;
}

Part readPart(const BuildState& build, const std::string& name) {
    Part part;
    part.name = name;
    part.base = partBase(build.outputBase, name);
    const std::string sumsPath = dataSetPath(part.base, FileKind::treeSums);
    if (!part.sums.load(sumsPath))
        fatal("part %s is not complete (no checksum file %s): build it again with -K and -P %s\n", name.c_str(),
              sumsPath.c_str(), name.c_str());
    const std::string path = dataSetPath(part.base, FileKind::dividers);
    readDividerFile(path, part.dividers, &part.sums);
    std::string problem = dividersProblem(path, part.dividers.data(), (int)part.dividers.size(), -1);
    if (!problem.empty()) fatal("part %s: %s\n", name.c_str(), problem.c_str());
    return part;
}

// The runs' files go once the joined trees are in place (-R), as after one build; their
// partitions catalogue stays, as after one build (the verifier counts it intact).
void removeRuns(const BuildState& build) {
    int64_t partitions = fileSizeByStat(build.partitionsPath.c_str());
    int64_t inputs = fileSizeByStat(build.lengthsPath.c_str());
    int64_t runs = (partitions >= 4 ? partitions : std::max<int64_t>(inputs, 0)) / 4;
    SuffixStreams streams;
    streams.streams.resize(static_cast<size_t>(runs));
    removeRunFiles(build, streams);
}

}  // namespace

void joinParts(const BuildSettings& settings, BuildState& build) {
    std::vector<Part> all;
    for (const std::string& name : splitNames(settings.joinParts)) all.push_back(readPart(build, name));
    // Key order: each part's trees follow the trees of the parts whose keys are lower.
    std::vector<const Part*> parts;
    for (const Part& part : all)
        if (!part.dividers.empty()) parts.push_back(&part);
    std::stable_sort(parts.begin(), parts.end(),
                     [](const Part* a, const Part* b) { return a->dividers.front().from < b->dividers.front().from; });
    for (size_t p = 1; p < parts.size(); p++)
        if (parts[p - 1]->dividers.back().to > parts[p]->dividers.front().from)
            fatal("parts %s and %s hold overlapping keys: each part needs a key range of its own\n",
                  parts[p - 1]->name.c_str(), parts[p]->name.c_str());

    // The data set's dividers and checksum file would vouch for trees that are replaced.
    std::remove(build.dividersPath.c_str());
    std::remove((dataSetPath(build.outputBase, FileKind::treeSums)).c_str());
    std::vector<ChecksumEntry> sums;
    std::vector<TreeDivider> dividers;
    for (const Part* part : parts) {
        for (const TreeDivider& divider : part->dividers) {
            const std::string from = dataSetPath(part->base, FileKind::trees, divider.tree);
            const std::string to = dataSetPath(build.outputBase, FileKind::trees, static_cast<int>(dividers.size()));
            const ChecksumFile::Item* item = part->sums.find(from);
            int64_t size = fileSizeByStat(from.c_str());
            if (!item || size < 0 || static_cast<uint64_t>(size) != item->bytes ||
                size != static_cast<int64_t>(sizeof(TreeNode)) * divider.nodes)
                fatal("part %s: tree file %s is missing or is not the tree its divider and checksum describe\n",
                      part->name.c_str(), from.c_str());
            sums.push_back(listedEntry(part->sums, *item, to));
            if (rename(from.c_str(), to.c_str()) != 0)
                fatal("can't rename %s to %s: %s\n", from.c_str(), to.c_str(), strerror(errno));
            TreeDivider joined = divider;
            joined.tree = static_cast<int32_t>(dividers.size());
            dividers.push_back(joined);
        }
    }

    DividersWriter out;
    out.open(build.dividersPath);
    WorkerStatus status;
    for (const TreeDivider& divider : dividers)
        if (!out.append(divider, status)) exitWithFailure(status);
    sums.push_back(out.finish());
    writeChecksumFile(dataSetPath(build.outputBase, FileKind::treeSums), sums);

    for (const Part& part : all) {
        std::remove((dataSetPath(part.base, FileKind::dividers)).c_str());
        std::remove((dataSetPath(part.base, FileKind::treeSums)).c_str());
    }
    if (!gRun.quiet) note("joined %zu parts: %zu trees\n", all.size(), dividers.size());
    if (settings.removeRuns) removeRuns(build);
}
