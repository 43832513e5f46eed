// Tree files (.stree), their divider records (.stdiv), and the closing of each tree.
#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treebuild/tree_state.h"

namespace {

std::string temporaryDividersPath(const BuildState& build) { return temporaryName(build.dividersPath); }

// Clears the root and leaves it alone on the path. The other records of the tree just
// written stay as they are: each record is written in full when it comes into use.
void startEmptyTree(TreeState& tree) {
    tree.nodes[0] = TreeNode{};
    tree.inUse = 1;
    tree.path.clear();
    tree.path.push_back(PathEntry{0, 0, 0});
    tree.suffixes = 0;
    tree.c3 = tree.c4 = tree.c5 = tree.c6 = 0;
    tree.maxPath = 1;
    tree.lcpSum = tree.lcpCount = 0;
    tree.from = tree.to = 0;
    if (tree.compact) clearSets(tree);
}

void closeCurrentTree(BuildState& build, TreeState& tree) {
    if (tree.compact) recordPathStack(tree);
    writeTree(build, tree);
    startEmptyTree(tree);
}

}  // namespace

void openDividers(BuildState& build) {
    const std::string temporary = temporaryDividersPath(build);
    // A dividers file from an earlier build must not outlive a build that fails, nor
    // the checksum file that vouches for the earlier build's trees.
    std::remove(build.dividersPath.c_str());
    std::remove((build.outputBase + kTreeSums).c_str());
    build.dividersFd = openTemporary(build.dividersPath);
    if (build.dividersFd < 0) fatal("can't open ST dividers file %s for writing\n", temporary.c_str());
}

void closeDividers(BuildState& build) {
    const std::string temporary = temporaryDividersPath(build);
    if (closeFile(build.dividersFd) != 0) fatal("can't close ST dividers file %s\n", temporary.c_str());
    build.dividersFd = -1;
    if (!tryCommitFile(build.dividersPath))
        fatal("can't rename ST dividers file %s to %s\n", temporary.c_str(), build.dividersPath.c_str());
    build.sums.push_back(build.dividersHash.finish(build.dividersPath));
}

void writeTreeChecksums(const BuildState& build) { writeChecksumFile(build.outputBase + kTreeSums, build.sums); }

void writeTree(BuildState& build, TreeState& tree) {
    const int walkStart = cpuMs();
    const int maxDepth = pathMaxDepth(tree);
    NodeCounts counts{};
    if (tree.compact) counts = countNodes(tree.nodes);
    const int walkMs = cpuMs() - walkStart;

    TreeDivider divider{};
    divider.to = tree.to;
    divider.from = tree.from;
    divider.tree = tree.treeNumber;
    divider.nodes = tree.inUse;
    // The field is 16 bits; a deeper tree is recorded as the largest value, not wrapped.
    divider.maxDepth = maxDepth > kMaxDividerDepth ? kMaxDividerDepth : static_cast<uint16_t>(maxDepth);
    if (timedWriteChunked(build.dividersFd, &divider, sizeof divider) != static_cast<int64_t>(sizeof divider))
        fatal("could not write current divider element\n");
    build.dividersHash.add(&divider, sizeof divider);

    const std::string path = dataSetFile(build.outputBase, tree.treeNumber, ".stree");
    FileDescriptor file(openTemporary(path));
    if (!file.ok()) fatal("cannot open suffix array %s for writing tree\n", path.c_str());
    const size_t bytes = sizeof(TreeNode) * static_cast<size_t>(tree.inUse);
    const int64_t written = timedWriteChunked(file.fd, tree.nodes, bytes);
    if (written != static_cast<int64_t>(bytes))
        fatal("not all output tree nodes were written: %lld bytes and %d Nodes\n", static_cast<long long>(written),
              tree.inUse);
    if (closeFile(file.fd) != 0) fatal("cannot close tree file %s\n", path.c_str());
    file.fd = -1;
    commitFile(path);
    BlockHasher hash;
    hash.add(tree.nodes, bytes);
    build.sums.push_back(hash.finish(path));

    if (!gRun.quiet) {
        const int cpuNow = cpuMs();
        const int wallNow = msClock();
        const double meanLcp = tree.lcpCount > 0 ? tree.lcpSum / tree.lcpCount : 0.0;
        note("Tree %3d:  c3 %2d  c4 %2d  c6 %6d  maxd=%d (%d ms), alcp=%.0f, time %d ms, real %d ms\n",
             tree.treeNumber, tree.c3, tree.c4, tree.c6, maxDepth, walkMs, meanLcp, cpuNow - tree.lastCpuMs,
             wallNow - tree.lastWallMs);
        tree.lastCpuMs = cpuNow;
        tree.lastWallMs = wallNow;
        if (tree.compact) printCompactionLines(tree, counts);
    } else {
        tree.lastCpuMs = cpuMs();
        tree.lastWallMs = msClock();
    }

    addCurrentToTotals(build);
    build.totals.trees += 1;
    if (tree.maxPath > build.totals.maxPathHeight) build.totals.maxPathHeight = tree.maxPath;
    tree.treeNumber += 1;
}

void writeFullTree(BuildState& build, TreeState& tree) { closeCurrentTree(build, tree); }

void finishTrees(BuildState& build, TreeState& tree) {
    if (tree.inUse > 1)
        closeCurrentTree(build, tree);
    else
        addCurrentToTotals(build);
}
