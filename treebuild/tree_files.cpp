// Tree files (.stree), their divider records (.stdiv), and the closing of each tree.
//
// With -j above 1 a writer thread writes each finished tree (its divider record and
// its .stree file, under the file's temporary name) from one buffer while the merge
// builds the next tree in the other. The builder keeps everything else: it opens each
// tree's temporary file when it hands the tree over, and once the writer is done with
// it, renames the file into place, records its checksum and prints its report lines,
// so that files, checksums and lines come in tree order, as from one thread. A write
// that fails stops the writer; the builder stops the run with its message at the next
// hand-over or at the end. Extra memory: the second tree buffer.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/data_set.h"
#include "toolkit/dividers.h"
#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treebuild/tree_state.h"

namespace {

// Clears the root and leaves it alone on the path. The other records of the tree just
// written stay as they are: each record is written in full when it comes into use.
// (So may the other buffer of -j, which still holds the tree before.)
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

// A finished tree, and for its report line its depth, walk time and record counts.
struct ClosedTree {
    FinishedTree files;
    int maxDepth = 0;
    int walkMs = 0;
    NodeCounts counts{};
};

ClosedTree closeTree(const BuildState& build, const TreeState& tree) {
    ClosedTree c;
    const int walkStart = cpuMs();
    c.maxDepth = pathMaxDepth(tree);
    if (tree.compact) c.counts = countNodes(tree.nodes);
    c.walkMs = cpuMs() - walkStart;

    TreeDivider& divider = c.files.divider;
    divider.to = tree.to;
    divider.from = tree.from;
    divider.tree = tree.treeNumber;
    divider.nodes = tree.inUse;
    // The field is 16 bits; a deeper tree is recorded as the largest value, not wrapped.
    divider.maxDepth = c.maxDepth > kMaxDividerDepth ? kMaxDividerDepth : static_cast<uint16_t>(c.maxDepth);
    c.files.nodes = tree.nodes;
    c.files.records = tree.inUse;
    c.files.path = dataSetPath(build.outputBase, FileKind::trees, tree.treeNumber);
    return c;
}

// Appends the divider record; false, with the failure in `status`, when it cannot.
bool writeDivider(BuildState& build, const FinishedTree& t, WorkerStatus& status) {
    return build.dividers.append(t.divider, status);
}

// Writes the tree's records to its open temporary file, closes it and hashes the
// records for the checksum file; false, with the failure in `status`, when it cannot.
bool writeTreeFile(FinishedTree& t, WorkerStatus& status) {
    FileDescriptor file(t.fd);
    t.fd = -1;
    const size_t bytes = sizeof(TreeNode) * static_cast<size_t>(t.records);
    const int64_t written = writeAll(file.fd, t.nodes, bytes);
    if (written != static_cast<int64_t>(bytes))
        return failWorker(status, "not all output tree nodes were written: %lld bytes and %d Nodes\n",
                          static_cast<long long>(written), t.records);
    const int closed = closeFile(file.fd);
    file.fd = -1;
    if (closed != 0) return failWorker(status, "cannot close tree file %s\n", t.path.c_str());
    BlockHasher hash;
    hash.add(t.nodes, bytes);
    t.sum = hash.finish(t.path);
    return true;
}

int openTreeFile(const FinishedTree& t) {
    int fd = openTemporary(t.path);
    if (fd < 0) fatal("cannot open suffix array %s for writing tree\n", t.path.c_str());
    return fd;
}

// The tree is whole: into place, into the checksums, and its lines out.
void commitTree(BuildState& build, FinishedTree& t) {
    commitFile(t.path);
    build.sums.push_back(std::move(t.sum));
    if (!t.lines.empty()) {
        build.progress.clear();
        fputs(t.lines.c_str(), stderr);
    }
}

// The report lines of a tree (none when quiet); the tree's clocks restart here.
std::string reportLines(TreeState& tree, const ClosedTree& c) {
    const int cpuNow = cpuMs();
    const int wallNow = msClock();
    std::string lines;
    if (!gRun.quiet) {
        const double meanLcp = tree.lcpCount > 0 ? tree.lcpSum / tree.lcpCount : 0.0;
        lines = formatString("# Tree %3d:  c3 %2d  c4 %2d  c6 %6d  maxd=%d (%d ms), alcp=%.0f, time %d ms, real %d ms\n",
                        tree.treeNumber, tree.c3, tree.c4, tree.c6, c.maxDepth, c.walkMs, meanLcp,
                        cpuNow - tree.lastCpuMs, wallNow - tree.lastWallMs);
        if (tree.compact) lines += compactionLines(tree, c.counts);
    }
    tree.lastCpuMs = cpuNow;
    tree.lastWallMs = wallNow;
    return lines;
}

// The run totals take the tree's counters; the next tree gets the next number.
void countTree(BuildState& build, TreeState& tree) {
    addCurrentToTotals(build);
    build.totals.trees += 1;
    if (tree.maxPath > build.totals.maxPathHeight) build.totals.maxPathHeight = tree.maxPath;
    tree.treeNumber += 1;
}

void writerLoop(BuildState* build, TreeWriter* w) {
    std::unique_lock<std::mutex> hold(w->lock);
    for (;;) {
        w->changed.wait(hold, [w] { return w->busy || w->closing; });
        if (!w->busy) return;
        // The builder leaves the job alone while it is busy.
        hold.unlock();
        WorkerStatus status;
        const bool written = writeDivider(*build, w->job, status) && writeTreeFile(w->job, status);
        hold.lock();
        w->status = std::move(status);
        w->busy = false;
        w->written = written;
        w->changed.notify_all();
        if (!written) return;
    }
}

TreeWriter& startedWriter(BuildState& build, TreeState& tree) {
    if (!tree.spare) {
        tree.spare = static_cast<TreeNode*>(trackedCalloc(static_cast<size_t>(tree.capacity), sizeof(TreeNode)));
        if (tree.spare == nullptr) fatal("couldn't allocate %d nodes for treeBuff\n", tree.capacity);
    }
    if (!tree.writer) tree.writer = std::make_unique<TreeWriter>();
    TreeWriter& w = *tree.writer;
    if (!w.thread.joinable()) {
        w.busy = w.closing = w.written = false;
        w.status = WorkerStatus();
        w.thread = std::thread(writerLoop, &build, &w);
    }
    return w;
}

// Waits until the writer is done with the tree handed to it last; commits that tree,
// or stops the run with the message of its failed write.
void settleWriter(BuildState& build, TreeWriter& w) {
    bool failed, written;
    {
        std::unique_lock<std::mutex> hold(w.lock);
        w.changed.wait(hold, [&w] { return !w.busy; });
        failed = w.status.failed();
        written = w.written;
        w.written = false;
    }
    if (failed) {
        w.thread.join();  // the writer stops after a failure
        exitWithFailure(w.status);
    }
    if (written) commitTree(build, w.job);
}

// -j above 1: settles the tree before, hands the writer this one and goes on in the
// other buffer.
void handOverTree(BuildState& build, TreeState& tree) {
    ClosedTree c = closeTree(build, tree);
    c.files.lines = reportLines(tree, c);
    countTree(build, tree);
    TreeWriter& w = startedWriter(build, tree);
    settleWriter(build, w);
    c.files.fd = openTreeFile(c.files);
    {
        std::lock_guard<std::mutex> hold(w.lock);
        w.job = std::move(c.files);
        w.busy = true;
    }
    w.changed.notify_all();
    std::swap(tree.nodes, tree.spare);
}

void closeCurrentTree(BuildState& build, TreeState& tree) {
    if (tree.compact) recordPathStack(tree);
    if (build.threads > 1)
        handOverTree(build, tree);
    else
        writeTree(build, tree);
    startEmptyTree(tree);
}

}  // namespace

void openDividers(BuildState& build) {
    // A dividers file from an earlier build must not outlive a build that fails, nor
    // the checksum file that vouches for the earlier build's trees.
    std::remove((dataSetPath(build.outputBase, FileKind::treeSums)).c_str());
    build.dividers.open(build.dividersPath);
}

void closeDividers(BuildState& build) { build.sums.push_back(build.dividers.finish()); }

void writeTreeChecksums(const BuildState& build) { writeChecksumFile(dataSetPath(build.outputBase, FileKind::treeSums), build.sums); }

void writeTree(BuildState& build, TreeState& tree) {
    ClosedTree c = closeTree(build, tree);
    WorkerStatus status;
    if (!writeDivider(build, c.files, status)) exitWithFailure(status);
    c.files.fd = openTreeFile(c.files);
    if (!writeTreeFile(c.files, status)) exitWithFailure(status);
    c.files.lines = reportLines(tree, c);
    commitTree(build, c.files);
    countTree(build, tree);
}

void stopTreeWriter(TreeState& tree) {
    if (!tree.writer || !tree.writer->thread.joinable()) return;
    TreeWriter& w = *tree.writer;
    {
        std::lock_guard<std::mutex> hold(w.lock);
        w.closing = true;
    }
    w.changed.notify_all();
    w.thread.join();
}

void writeFullTree(BuildState& build, TreeState& tree) { closeCurrentTree(build, tree); }

void finishTrees(BuildState& build, TreeState& tree) {
    if (tree.inUse > 1)
        closeCurrentTree(build, tree);
    else
        addCurrentToTotals(build);
    if (tree.writer && tree.writer->thread.joinable()) {
        settleWriter(build, *tree.writer);
        stopTreeWriter(tree);
    }
}
