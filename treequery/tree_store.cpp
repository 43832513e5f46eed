// Tree store: dividers, one tree at a time (read into the tree buffer or mapped),
// and substring fetches from the inputs' .stdna files.
#include "treequery/tree_store.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <memory>
#include <utility>
#include <vector>

#include "toolkit/file_io.h"
#include "toolkit/run.h"

namespace {

// A tree file can hold at most 2 GiB of 12-byte records.
constexpr int kMaxTreeNodes = 0x7fffffff / (int)sizeof(Node);

// Trees mapped with -U, each with the descriptor it was mapped from. The exact search
// keeps up to kMaxMappedTrees of them for the whole run, so that later patterns find
// their tree's pages already mapped (the least recently used one goes first); the
// traversal keeps only the tree it walks. releaseTree() unmaps them all.
struct TreeMapping {
    void* address = nullptr;
    size_t bytes = 0;
    FileDescriptor fd;
    int tree = -1;
    unsigned long lastUse = 0;
    TreeMapping() = default;
    TreeMapping(const TreeMapping&) = delete;
    TreeMapping& operator=(const TreeMapping&) = delete;
    ~TreeMapping() {
        if (address) munmap(address, bytes);
    }
};
constexpr size_t kMaxMappedTrees = 128;
std::vector<std::unique_ptr<TreeMapping>> gMappings;
unsigned long gUseClock = 0;

void unmapOne(size_t k) {
    TreeMapping& m = *gMappings[k];
    if (gQuery.tree == m.address) {
        gQuery.tree = nullptr;
        gQuery.treeIndex = -1;
        gQuery.treeNodes = 0;
    }
    if (munmap(m.address, m.bytes) != 0) fatal("problem with munmap\n");
    if (!gRun.quiet) note("munmap %ld (%d bytes) and close %d\n", (long)m.address, (int)m.bytes, m.fd.fd);
    m.address = nullptr;
    gMappings.erase(gMappings.begin() + (long)k);
}

void useMapping(const TreeMapping& m) {
    gQuery.tree = static_cast<const Node*>(m.address);
    gQuery.treeNodes = (int)(m.bytes / sizeof(Node));
    gQuery.treeIndex = m.tree;
}

std::string treePath(int t) { return formatPath(kPathLimit, "%s_%d%s", gQuery.treeBase, t, ".stree"); }

// Leaves of each tree that validateTree() has counted, -1 for a tree not yet counted.
std::vector<long long> gTreeLeaves;

}  // namespace

void corruptTree(const char* what, long long value) {
    std::string path = treePath(gQuery.treeIndex);
    fatal("corrupt suffix tree file \"%s\": %s %lld out of range (%d nodes, %d inputs)\n", path.c_str(), what, value,
          gQuery.treeNodes, gQuery.inputs);
}

int leafPosition(int input, long long depth) {
    long long bits = gQuery.bitLengths[input];
    if (depth < 0 || depth > bits) corruptTree("leaf bit depth", depth);
    return (int)((bits - depth) / 2);
}

void keyLetters(uint32_t key, char* text) {
    for (int i = 0; i < 16; i++) text[i] = "acgt"[(key >> (30 - 2 * i)) & 3u];
    text[16] = '\0';
}

namespace {

std::string dividersPath() { return formatPath(kPathLimit, "%s%s", gQuery.treeBase, ".stdiv"); }

// Suffixes of the data set: one per base of every input.
long long suffixTotal() {
    long long total = 0;
    for (int i = 0; i < gQuery.inputs; i++) total += gQuery.lengths[i];
    return total;
}

// Checks each divider against its neighbours and all of them against the catalogue.
// Trees hold consecutive ranges of the sorted suffixes, so their numbers run 0, 1, 2,
// ... and their keys never fall from one tree to the next. A tree of s suffixes has
// at least s + 1 records (root and one leaf each) and at most 2s (the first suffix
// adds one record, every later one at most two), so the node counts bound how many
// suffixes the trees can hold between them; the exact count needs the leaves
// themselves (checkSuffixTotal).
void checkDividers(const std::string& path) {
    long long fewest = 0, most = 0;
    for (int t = 0; t < gQuery.trees; t++) {
        const Divider& d = gQuery.dividers[t];
        if (d.nodes < 1 || d.nodes > kMaxTreeNodes)
            fatal("ST dividers file \"%s\": divider %d has an impossible node count %d\n", path.c_str(), t, d.nodes);
        if (d.tree != t)
            fatal("ST dividers file \"%s\": divider %d names tree %d, not tree %d\n", path.c_str(), t, d.tree, t);
        if (d.from > d.to)
            fatal("ST dividers file \"%s\": divider %d has its first key above its last\n", path.c_str(), t);
        if (t > 0 && gQuery.dividers[t - 1].to > d.from)
            fatal("ST dividers file \"%s\": divider %d has its first key below the last key of divider %d\n",
                  path.c_str(), t, t - 1);
        fewest += (d.nodes + 1) / 2;
        most += d.nodes - 1;
    }
    const long long suffixes = suffixTotal();
    if (suffixes < fewest || suffixes > most)
        fatal("ST dividers file \"%s\": its %d trees hold between %lld and %lld suffixes, but the inputs have %lld\n",
              path.c_str(), gQuery.trees, fewest, most, suffixes);
}

}  // namespace

void readDividers() {
    std::string path = dividersPath();
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) fatal("can't open ST dividers file \"%s\" \n", path.c_str());
    long size = -1;
    if (fseek(file, 0, SEEK_END) == 0) size = ftell(file);
    if (size < 0 || fseek(file, 0, SEEK_SET) != 0) {
        fclose(file);
        fatal("problem reading ST dividers file \"%s\"\n", path.c_str());
    }
    gQuery.treeIndex = -1;
    gQuery.maxTreeNodes = 0;
    gQuery.maxDepth = 0;
    if (size == 0) {
        fclose(file);
        // The tree builder writes no tree for a data set without bases: nothing to
        // find, and every answer is empty. Inputs with bases must have trees.
        if (suffixTotal() == 0) {
            gQuery.trees = 0;
            return;
        }
        fatal("ST dividers file \"%s\" is empty\n", path.c_str());
    }
    if (size % (long)sizeof(Divider) != 0) {
        fclose(file);
        fatal("ST dividers file \"%s\" has %ld bytes, not a whole number of %d-byte dividers\n", path.c_str(), size,
              (int)sizeof(Divider));
    }
    long count = size / (long)sizeof(Divider);
    if (count > 0x7fffffffL) {
        fclose(file);
        fatal("ST dividers file \"%s\" is too large (%ld bytes)\n", path.c_str(), size);
    }
    gQuery.dividers = static_cast<Divider*>(trackedMalloc((size_t)size));
    if (!gQuery.dividers) {
        fclose(file);
        fatal("can't allocate %ld bytes for the dividers of \"%s\"\n", size, path.c_str());
    }
    size_t got = fread(gQuery.dividers, sizeof(Divider), (size_t)count, file);
    fclose(file);
    if (got < (size_t)count) fatal("problem reading ST dividers file \"%s\"\n", path.c_str());
    gQuery.trees = (int)count;

    checkDividers(path);
    gTreeLeaves.assign((size_t)gQuery.trees, -1);
    for (int t = 0; t < gQuery.trees; t++) {
        const Divider& d = gQuery.dividers[t];
        if (d.nodes > gQuery.maxTreeNodes) gQuery.maxTreeNodes = d.nodes;
        if (d.maxDepth > gQuery.maxDepth) gQuery.maxDepth = d.maxDepth;
    }
    if (gSettings.usemmap) return;
    if (!gRun.quiet) note("Allocate treebuff: %d nodes\n", gQuery.maxTreeNodes);
    size_t bytes = sizeof(Node) * (size_t)gQuery.maxTreeNodes;
    gQuery.treeBuffer = static_cast<Node*>(trackedMalloc(bytes));
    if (!gQuery.treeBuffer) fatal("can't allocate %zu bytes for the tree buffer\n", bytes);
}

void printDividers() {
    char low[17], high[17];
    for (int t = 0; t < gQuery.trees; t++) {
        const Divider& d = gQuery.dividers[t];
        keyLetters(d.from, low);
        keyLetters(d.to, high);
        printf("Divider %2d (file %2d, length %2d, depth %2d) is from %16s to %16s\n", t, d.tree, d.nodes, d.maxDepth,
               low, high);
    }
    fflush(stdout);
}

void releaseTree() {
    while (!gMappings.empty()) unmapOne(gMappings.size() - 1);
}

void loadTree(int t, LoadCaller caller) {
    const int n = gQuery.dividers[t].nodes;
    if (!gSettings.usemmap && n > gQuery.maxTreeNodes) {
        if (caller == kLoadForTraversal) fatal("insufficient memory for ST partition %d\n", t);
        fatal("too many tree nodes %d in tree %d, only %d allocated\n", n, t, gQuery.maxTreeNodes);
    }
    if (!gSettings.usemmap && gQuery.treeIndex == t && gQuery.tree == gQuery.treeBuffer) {
        gQuery.treeReadMs = 0;  // still in the buffer from the previous pattern
        return;
    }
    const int start = msClock();
    if (gSettings.usemmap) {
        if (caller == kLoadForSearch) {
            for (auto& m : gMappings) {
                if (m->tree != t) continue;
                m->lastUse = ++gUseClock;
                useMapping(*m);
                gQuery.treeReadMs = 0;
                return;
            }
            if (gMappings.size() >= kMaxMappedTrees) {
                size_t oldest = 0;
                for (size_t k = 1; k < gMappings.size(); k++)
                    if (gMappings[k]->lastUse < gMappings[oldest]->lastUse) oldest = k;
                unmapOne(oldest);
            }
        } else {
            releaseTree();
        }
    }
    std::string path = treePath(t);
    FileDescriptor fd(openFile(path.c_str(), 0));
    if (!fd.ok()) fatal("can't open suffix tree file \"%s\"\n", path.c_str());
    const size_t bytes = sizeof(Node) * (size_t)n;
    gQuery.tree = nullptr;
    gQuery.treeIndex = -1;
    checkTreeFileSize(t, fd.fd, path,
                      gSettings.usemmap ? kMapTree : caller == kLoadForTraversal ? kReadForTraversal : kReadForSearch);
    if (gSettings.usemmap) {
        void* address = mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd.fd, 0);
        if (address == MAP_FAILED) fatal("problem with mmap\n");
        if (!gRun.quiet) note("mmap %ld (%d bytes) with fd %d\n", (long)address, (int)bytes, fd.fd);
        auto m = std::make_unique<TreeMapping>();
        m->address = address;
        m->bytes = bytes;
        m->fd = std::move(fd);
        m->tree = t;
        m->lastUse = ++gUseClock;
        useMapping(*m);
        gMappings.push_back(std::move(m));
    } else {
        size_t got = readFully(fd.fd, gQuery.treeBuffer, bytes, path.c_str());
        if (got != bytes) {
            if (caller == kLoadForTraversal)
                fatal("problem loading tree from file \"%s\", nb=%d, tn=%d\n", path.c_str(), (int)bytes, (int)got);
            fatal("problem loading tree from file \"%s\"\n", path.c_str());
        }
        gQuery.tree = gQuery.treeBuffer;
        gQuery.treeNodes = n;
        gQuery.treeIndex = t;
    }
    if (isLeaf(gQuery.tree[0])) corruptTree("root record", 0);
    gQuery.treeReadMs = msClock() - start;
}

void validateTree() {
    const uint32_t n = (uint32_t)gQuery.treeNodes;
    long long leaves = 0;
    for (uint32_t i = 0; i < n; i++) {
        const Node& x = gQuery.tree[i];
        if (isLeaf(x)) {
            leafInputChecked(x);
            leaves++;
        } else {
            if (child0(x) >= n) corruptTree("record index", child0(x));
            if (child1(x) >= n) corruptTree("record index", child1(x));
        }
    }
    if (moreFollows(gQuery.tree[n - 1])) corruptTree("leaf chain end", n);
    if (gQuery.treeIndex >= 0 && (size_t)gQuery.treeIndex < gTreeLeaves.size())
        gTreeLeaves[(size_t)gQuery.treeIndex] = leaves;
}

void checkSuffixTotal() {
    long long leaves = 0;
    for (long long count : gTreeLeaves) {
        if (count < 0) return;
        leaves += count;
    }
    const long long suffixes = suffixTotal();
    if (leaves != suffixes) {
        std::string path = dividersPath();
        fatal("ST dividers file \"%s\": its %d trees hold %lld suffixes, but the inputs have %lld\n", path.c_str(),
              gQuery.trees, leaves, suffixes);
    }
}

void checkTreeFileSize(int t, int fd, const std::string& path, TreeAccess access) {
    const int n = gQuery.dividers[t].nodes;
    const long long bytes = (long long)sizeof(Node) * n;
    struct stat info;
    if (fstat(fd, &info) != 0) fatal("can't find the size of suffix tree file \"%s\"\n", path.c_str());
    const long long size = (long long)info.st_size;
    if (size < bytes) {
        if (access == kMapTree)
            fatal("problem with mmap: suffix tree file \"%s\" is shorter than its %d nodes\n", path.c_str(), n);
        if (access == kReadForTraversal)
            fatal("problem loading tree from file \"%s\", nb=%d, tn=%d\n", path.c_str(), (int)bytes, (int)size);
        fatal("problem loading tree from file \"%s\"\n", path.c_str());
    }
    if (size > bytes) {
        std::string dividers = dividersPath();
        fatal("suffix tree file \"%s\" has %lld bytes, but divider %d of ST dividers file \"%s\" gives it %d nodes "
              "(%lld bytes)\n",
              path.c_str(), size, t, dividers.c_str(), n, bytes);
    }
}

void fetchSubstring(int input, int offset, int n, char* buffer) {
    std::string path = formatPath(kPathLimit, "%s_%d%s", gQuery.inputBase, input, ".stdna");
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        fprintf(stderr, "## ERROR: can't read file %s to get substring\n", path.c_str());
        return;
    }
    if (fseek(file, offset, SEEK_SET) != 0) {
        fclose(file);
        fatal("fseek failure, file %s, offset %d\n", path.c_str(), offset);
    }
    size_t got = fread(buffer, 1, n > 0 ? (size_t)n : 0, file);
    fclose(file);
    if (got != (size_t)(n > 0 ? n : 0))
        fatal("can't read %d bytes at offset %d from file %s; n=%d\n", n, offset, path.c_str(), (int)got);
    buffer[n > 0 ? n : 0] = '\0';
}

// ---- Records read on demand (read mode of the grouped exact search) ----
// Kept apart from loadTree. Blocks of whole records are read as walks reach them and
// stored one after the other at the front of the tree buffer, so that the memory a
// run touches is what its descents read, not the size of its largest tree. A block's
// generation stamp tells whether it was read for the tree now open.
namespace {

constexpr uint32_t kBlockRecords = 341;  // 4092 bytes: about one page of the file
struct RecordReader {
    FileDescriptor fd;
    std::string path;
    std::vector<uint32_t> stamps;  // per block of the file: generation that read it
    std::vector<uint32_t> slots;   // per block: where in the buffer it was put
    uint32_t generation = 0;
    uint32_t nextSlot = 0;
};
RecordReader gRecords;

void readRecordBlock(uint32_t block) {
    const uint32_t first = block * kBlockRecords;
    uint32_t count = (uint32_t)gQuery.treeNodes - first;
    if (count > kBlockRecords) count = kBlockRecords;
    // The last block, perhaps short, keeps its own place at the end of the tree's room;
    // the others are full and fill the slots before it, whatever their order.
    const uint32_t lastBlock = ((uint32_t)gQuery.treeNodes - 1) / kBlockRecords;
    const uint32_t slot = block == lastBlock ? lastBlock : gRecords.nextSlot++;
    Node* target = gQuery.treeBuffer + (size_t)slot * kBlockRecords;
    const size_t length = sizeof(Node) * count;
    ssize_t got = timedPread64(gRecords.fd.fd, target, length, (int64_t)sizeof(Node) * first);
    if (got != (ssize_t)length) fatal("problem loading tree from file \"%s\"\n", gRecords.path.c_str());
    gRecords.stamps[block] = gRecords.generation;
    gRecords.slots[block] = slot;
}

}  // namespace

void openTreeRecords(int t) {
    const int n = gQuery.dividers[t].nodes;
    if (n > gQuery.maxTreeNodes) fatal("too many tree nodes %d in tree %d, only %d allocated\n", n, t, gQuery.maxTreeNodes);
    gRecords.path = treePath(t);
    gRecords.fd.reset(openFile(gRecords.path.c_str(), 0));
    if (!gRecords.fd.ok()) fatal("can't open suffix tree file \"%s\"\n", gRecords.path.c_str());
    checkTreeFileSize(t, gRecords.fd.fd, gRecords.path, kReadForSearch);
    // Blocks hold whole records, so a tree's blocks never take more room than its records.
    const size_t blocks = (size_t)gQuery.maxTreeNodes / kBlockRecords + 1;
    if (gRecords.stamps.size() < blocks) {
        gRecords.stamps.assign(blocks, 0);
        gRecords.slots.assign(blocks, 0);
    }
    if (++gRecords.generation == 0) {  // stamps wrapped: none may pass as current
        std::fill(gRecords.stamps.begin(), gRecords.stamps.end(), 0);
        gRecords.generation = 1;
    }
    gRecords.nextSlot = 0;
    gQuery.tree = nullptr;  // the buffer is no flat copy of the tree: reach records by treeRecord()
    gQuery.treeNodes = n;
    gQuery.treeIndex = t;
    gQuery.treeReadMs = 0;
    if (isLeaf(treeRecord(0))) corruptTree("root record", 0);
}

const Node& treeRecord(uint32_t index) {
    if (index >= (uint32_t)gQuery.treeNodes) corruptTree("record index", index);
    const uint32_t block = index / kBlockRecords;
    if (gRecords.stamps[block] != gRecords.generation) readRecordBlock(block);
    return gQuery.treeBuffer[(size_t)gRecords.slots[block] * kBlockRecords + index % kBlockRecords];
}

void closeTreeRecords() {
    gRecords.fd.reset();
    gQuery.tree = nullptr;
    gQuery.treeNodes = 0;
    gQuery.treeIndex = -1;
}
