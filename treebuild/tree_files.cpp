// Tree files (.stree), their divider records (.stdiv), and the closing of each tree.
#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treebuild/tree_state.h"

namespace {

std::string temporaryDividersPath() { return gBuild.dividersPath + ".tmp"; }

// Clears the root and leaves it alone on the path. The other records of the tree just
// written stay as they are: each record is written in full when it comes into use.
void startEmptyTree() {
    gTree.nodes[0] = TreeNode{};
    gTree.inUse = 1;
    gTree.path.clear();
    gTree.path.push_back(PathEntry{0, 0, 0});
    gTree.suffixes = 0;
    gTree.c3 = gTree.c4 = gTree.c5 = gTree.c6 = 0;
    gTree.maxPath = 1;
    gTree.lcpSum = gTree.lcpCount = 0;
    gTree.from = gTree.to = 0;
    if (gTree.compact) clearSets();
}

void closeCurrentTree() {
    if (gTree.compact) recordPathStack();
    writeTree();
    startEmptyTree();
}

}  // namespace

void openDividers() {
    const std::string temporary = temporaryDividersPath();
    // A dividers file from an earlier build must not outlive a build that fails.
    std::remove(gBuild.dividersPath.c_str());
    gBuild.dividersFd = openFile(temporary.c_str(), 1);
    if (gBuild.dividersFd < 0) fatal("can't open ST dividers file %s for writing\n", temporary.c_str());
}

void closeDividers() {
    const std::string temporary = temporaryDividersPath();
    if (closeFile(gBuild.dividersFd) != 0) fatal("can't close ST dividers file %s\n", temporary.c_str());
    gBuild.dividersFd = -1;
    if (std::rename(temporary.c_str(), gBuild.dividersPath.c_str()) != 0)
        fatal("can't rename ST dividers file %s to %s\n", temporary.c_str(), gBuild.dividersPath.c_str());
}

void writeTree() {
    const int walkStart = cpuMs();
    const int maxDepth = pathMaxDepth();
    NodeCounts counts{};
    if (gTree.compact) counts = countNodes(gTree.nodes);
    const int walkMs = cpuMs() - walkStart;

    TreeDivider divider{};
    divider.to = gTree.to;
    divider.from = gTree.from;
    divider.tree = gTree.treeNumber;
    divider.nodes = gTree.inUse;
    // The field is 16 bits; a deeper tree is recorded as the largest value, not wrapped.
    divider.maxDepth = maxDepth > kMaxDividerDepth ? kMaxDividerDepth : static_cast<uint16_t>(maxDepth);
    if (timedWriteChunked(gBuild.dividersFd, &divider, sizeof divider) != static_cast<int64_t>(sizeof divider))
        fatal("could not write current divider element\n");

    const std::string path = formatPath(kPathLimit, "%s_%d%s", gBuild.outputBase.c_str(), gTree.treeNumber, ".stree");
    FileDescriptor file(openFile(path.c_str(), 1));
    if (!file.ok()) fatal("cannot open suffix array %s for writing tree\n", path.c_str());
    const size_t bytes = sizeof(TreeNode) * static_cast<size_t>(gTree.inUse);
    const int64_t written = timedWriteChunked(file.fd, gTree.nodes, bytes);
    if (written != static_cast<int64_t>(bytes))
        fatal("not all output tree nodes were written: %lld bytes and %d Nodes\n", static_cast<long long>(written),
              gTree.inUse);
    if (closeFile(file.fd) != 0) fatal("cannot close tree file %s\n", path.c_str());
    file.fd = -1;

    if (!gRun.quiet) {
        const int cpuNow = cpuMs();
        const int wallNow = msClock();
        const double meanLcp = gTree.lcpCount > 0 ? gTree.lcpSum / gTree.lcpCount : 0.0;
        note("Tree %3d:  c3 %2d  c4 %2d  c6 %6d  maxd=%d (%d ms), alcp=%.0f, time %d ms, real %d ms\n",
             gTree.treeNumber, gTree.c3, gTree.c4, gTree.c6, maxDepth, walkMs, meanLcp, cpuNow - gTree.lastCpuMs,
             wallNow - gTree.lastWallMs);
        gTree.lastCpuMs = cpuNow;
        gTree.lastWallMs = wallNow;
        if (gTree.compact) printCompactionLines(counts);
    } else {
        gTree.lastCpuMs = cpuMs();
        gTree.lastWallMs = msClock();
    }

    addCurrentToTotals();
    gBuild.totals.trees += 1;
    if (gTree.maxPath > gBuild.totals.maxPathHeight) gBuild.totals.maxPathHeight = gTree.maxPath;
    gTree.treeNumber += 1;
}

void writeFullTree() { closeCurrentTree(); }

void finishTrees() {
    if (gTree.inUse > 1)
        closeCurrentTree();
    else
        addCurrentToTotals();
}
