// Tree store: dividers, one tree at a time (read into the tree buffer or mapped),
// blocks of records on demand, and the checks of damaged dividers and tree files.
#include "treequery/tree_store.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/data_set.h"
#include "toolkit/dividers.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

// A mapped tree. The exact search and the traversal keep its descriptor open while
// it is mapped; the Hamming search closes it at once.
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

TreeStore::TreeStore() = default;
TreeStore::~TreeStore() = default;

namespace {

// The exact search keeps up to kMaxMappedTrees trees mapped for the whole run, so that
// later patterns find their tree's pages already mapped (the least recently used one
// goes first); the traversal keeps only the tree it walks.
constexpr size_t kMaxMappedTrees = 128;

// Records of the grouped exact search come in pages of the file that are its checksum
// blocks: a page is read whole to its slot and verified there, with no second read or
// copy. A page holds 341 and a third records, so one record in three pages begins in
// one page and ends in the next.
constexpr uint32_t kRecordPage = kChecksumBlock;

// ---- The two ways in which tree records reach memory ----

// Every read of tree records: `length` bytes from `offset` of tree file `fd` into
// `buffer`, its blocks verified against `sums` on their first read. Returns the bytes
// read (fewer only at the end of the file), or -1 with errno set when a read fails.
ssize_t readTreeRange(VerifiedFile& sums, int fd, int64_t offset, void* buffer, size_t length) {
    return sums.readVerified(fd, offset, static_cast<char*>(buffer), length);
}

// Every mapping of a tree file: its first `bytes` bytes, read-only, its pieces missing
// from the page cache read in as huge pages; MAP_FAILED when the mapping fails. Its
// blocks are verified as records are reached: treeNode() and the Hamming walk per
// record (through store.mappedSums), the traversal whole.
void* mapTreeFile(int fd, size_t bytes) {
    void* address = mapFileReadOnly(fd, bytes);
    if (address != MAP_FAILED) readInMissingPieces(address, bytes);
    return address;
}

// ---- Mappings ----

void forgetLoadedTree(TreeStore& store) {
    store.tree = nullptr;
    store.mappedSums = nullptr;
    store.treeIndex = -1;
    store.treeNodes = 0;
}

void unmapOne(TreeStore& store, size_t k) {
    TreeMapping& m = *store.mappings[k];
    if (store.tree == m.address) forgetLoadedTree(store);
    if (munmap(m.address, m.bytes) != 0) fatal("problem with munmap\n");
    if (!gRun.quiet) note("munmap %ld (%d bytes) and close %d\n", (long)m.address, (int)m.bytes, m.fd.fd);
    m.address = nullptr;
    store.mappings.erase(store.mappings.begin() + (long)k);
}

void useMapping(TreeStore& store, const TreeMapping& m) {
    store.tree = static_cast<const Node*>(m.address);
    store.treeNodes = (int)(m.bytes / sizeof(Node));
    store.treeIndex = m.tree;
    VerifiedFile& sums = store.treeFiles[(size_t)m.tree];
    store.mappedSums = sums.covered ? &sums : nullptr;
}

std::string dividersPath(const TreeStore& store) { return dataSetPath(store.treeBase, FileKind::dividers); }

// Suffixes of the data set: one per base of every input.
long long suffixTotal(const TreeStore& store) {
    long long total = 0;
    for (int i = 0; i < store.catalogue->inputs; i++) total += store.catalogue->lengths[i];
    return total;
}

// How a tree file is brought in, which words a file too short for its divider gets:
// "problem loading tree from file" (with the byte counts for the traversal) when
// read, "problem with mmap: ... is shorter" when mapped.
enum TreeAccess { kReadForSearch, kReadForTraversal, kMapTree };

// Stops the run unless the open file `fd` of tree t holds exactly the records that
// divider t counts: a longer file is a divider that does not describe its tree.
void checkTreeFileSize(const TreeStore& store, int t, int fd, const std::string& path, TreeAccess access) {
    const int n = store.dividers[t].nodes;
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
        std::string dividers = dividersPath(store);
        fatal("suffix tree file \"%s\" has %lld bytes, but divider %d of ST dividers file \"%s\" gives it %d nodes "
              "(%lld bytes)\n",
              path.c_str(), size, t, dividers.c_str(), n, bytes);
    }
}

// Opens tree t's file for `caller`. For the Hamming search a file that cannot be
// opened ends the run on standard output as that search's failures do, and on
// standard error as every other load failure does, so that a script sees it in
// either place; a file without one whole record ends the run with status 255.
FileDescriptor openTreeFile(TreeStore& store, int t, const std::string& path, LoadCaller caller) {
    FileDescriptor fd(openFile(path.c_str(), 0));
    if (caller != kLoadForHamming) {
        if (!fd.ok()) fatal("can't open suffix tree file \"%s\"\n", path.c_str());
    } else {
        if (!fd.ok()) {
            errorLine("## ERROR: can't open suffix tree file \"%s\"\n", path.c_str());
            fatalTo(stdout, 255, "ERROR: Could not open tree file %s\n", path.c_str());
        }
        struct stat info;
        if (fstat(fd.fd, &info) == 0 && info.st_size < (off_t)sizeof(Node))
            fatalTo(stderr, 255, "## ERROR: tree file %s holds no node records\n", path.c_str());
    }
    TreeAccess access = store.mapped ? kMapTree : caller == kLoadForTraversal ? kReadForTraversal : kReadForSearch;
    checkTreeFileSize(store, t, fd.fd, path, access);
    store.treeFiles[(size_t)t].attachOnce(store.sums, path, (int64_t)sizeof(Node) * store.dividers[t].nodes);
    if (store.sharedMarks) store.treeFiles[(size_t)t].shareMarks(*store.sharedMarks, (size_t)t);
    return fd;
}

// -U for the Hamming search: every tree it selects is mapped once and stays mapped
// for the rest of the run, so later patterns find its pages in place.
void mapForHamming(TreeStore& store, int t) {
    if (store.hammingMaps.empty()) {
        releaseTree(store);  // the exact search's mappings, if any
        store.hammingMaps.resize((size_t)store.trees);
    }
    std::unique_ptr<TreeMapping>& map = store.hammingMaps[(size_t)t];
    if (!map) {
        std::string path = treePath(store, t);
        FileDescriptor fd = openTreeFile(store, t, path, kLoadForHamming);
        const size_t bytes = (size_t)store.dividers[t].nodes * sizeof(Node);
        void* address = mapTreeFile(fd.fd, bytes);
        if (address == MAP_FAILED) fatal("problem with mmap of tree file %s\n", path.c_str());
        if (!gRun.quiet) note("mmap %ld (%d bytes) with fd %d\n", (long)address, (int)bytes, fd.fd);
        map = std::make_unique<TreeMapping>();
        map->address = address;
        map->bytes = bytes;
        map->tree = t;
    }
    useMapping(store, *map);
}

}  // namespace

std::string treePath(const TreeStore& store, int t) { return dataSetPath(store.treeBase, FileKind::trees, t); }

void corruptTree(const TreeStore& store, const char* what, long long value) {
    corruptTreeFile(store, store.treeIndex, store.treeNodes, what, value);
}

void corruptTreeFile(const TreeStore& store, int t, int nodes, const char* what, long long value) {
    std::string path = treePath(store, t);
    fatal("corrupt suffix tree file \"%s\": %s %lld out of range (%d nodes, %d inputs)\n", path.c_str(), what, value,
          nodes, store.catalogue->inputs);
}

int leafPosition(const TreeStore& store, int input, long long depth) {
    return leafPositionIn(store, store.treeIndex, store.treeNodes, input, depth);
}

int leafPositionIn(const TreeStore& store, int t, int nodes, int input, long long depth) {
    long long bits = store.catalogue->bitLengths[input];
    if (depth < 0 || depth > bits) corruptTreeFile(store, t, nodes, "leaf bit depth", depth);
    return (int)((bits - depth) / 2);
}

void keyLetters(uint32_t key, char* text) {
    for (int i = 0; i < 16; i++) text[i] = "acgt"[(key >> (30 - 2 * i)) & 3u];
    text[16] = '\0';
}
std::string treeSumsPath(const TreeStore& store) { return dataSetPath(store.treeBase, FileKind::treeSums); }

bool loadTreeSums(TreeStore& store) { return store.sums.load(treeSumsPath(store)); }

void readDividers(TreeStore& store) {
    std::string path = dividersPath(store);
    store.treeIndex = -1;
    store.maxTreeNodes = 0;
    store.maxDepth = 0;
    readDividerFile(path, store.dividerRecords, &store.sums);
    if (store.dividerRecords.empty()) {
        // The tree builder writes no tree for a data set without bases: nothing to
        // find, and every answer is empty. Inputs with bases must have trees.
        if (suffixTotal(store) == 0) {
            store.trees = 0;
            return;
        }
        fatal("ST dividers file \"%s\" is empty\n", path.c_str());
    }
    store.dividers = store.dividerRecords.data();
    store.trees = (int)store.dividerRecords.size();
    store.treeFiles = std::vector<VerifiedFile>((size_t)store.trees);

    // Trees hold consecutive ranges of the sorted suffixes; the exact count needs the
    // leaves themselves (checkSuffixTotal).
    std::string problem = dividersProblem(path, store.dividers, store.trees, suffixTotal(store));
    if (!problem.empty()) fatal("%s\n", problem.c_str());
    store.treeLeaves.assign((size_t)store.trees, -1);
    for (int t = 0; t < store.trees; t++) {
        const Divider& d = store.dividers[t];
        if (d.nodes > store.maxTreeNodes) store.maxTreeNodes = d.nodes;
        if (d.maxDepth > store.maxDepth) store.maxDepth = d.maxDepth;
    }
    if (store.mapped) return;
    if (!gRun.quiet) note("Allocate treebuff: %d nodes\n", store.maxTreeNodes);
    size_t bytes = sizeof(Node) * (size_t)store.maxTreeNodes;
    store.treeBuffer = static_cast<Node*>(trackedMalloc(bytes));
    if (!store.treeBuffer) fatal("can't allocate %zu bytes for the tree buffer\n", bytes);
}

void printDividers(const TreeStore& store) {
    char low[17], high[17];
    for (int t = 0; t < store.trees; t++) {
        const Divider& d = store.dividers[t];
        keyLetters(d.from, low);
        keyLetters(d.to, high);
        printf("Divider %2d (file %2d, length %2d, depth %2d) is from %16s to %16s\n", t, d.tree, d.nodes, d.maxDepth,
               low, high);
    }
    fflush(stdout);
}

void releaseTree(TreeStore& store) {
    while (!store.mappings.empty()) unmapOne(store, store.mappings.size() - 1);
}

void loadTree(TreeStore& store, int t, LoadCaller caller) {
    const int n = store.dividers[t].nodes;
    if (store.mapped && caller == kLoadForHamming) {
        mapForHamming(store, t);
        if (store.mappedSums) store.mappedSums->verifyInMemory(store.tree, 0, sizeof(Node));
        if (isLeaf(store.tree[0])) corruptTree(store, "root record", 0);
        return;
    }
    if (!store.mapped && n > store.maxTreeNodes) {
        if (caller == kLoadForTraversal) fatal("insufficient memory for ST partition %d\n", t);
        fatal("too many tree nodes %d in tree %d, only %d allocated\n", n, t, store.maxTreeNodes);
    }
    if (!store.mapped && store.treeIndex == t && store.tree == store.treeBuffer) {
        store.treeReadMs = 0;  // still in the buffer from the previous pattern
        return;
    }
    const int start = msClock();
    if (store.mapped) {
        if (caller == kLoadForSearch) {
            for (auto& m : store.mappings) {
                if (m->tree != t) continue;
                m->lastUse = ++store.useClock;
                useMapping(store, *m);
                store.treeReadMs = 0;
                return;
            }
            if (store.mappings.size() >= kMaxMappedTrees) {
                size_t oldest = 0;
                for (size_t k = 1; k < store.mappings.size(); k++)
                    if (store.mappings[k]->lastUse < store.mappings[oldest]->lastUse) oldest = k;
                unmapOne(store, oldest);
            }
        } else {
            releaseTree(store);
        }
    }
    std::string path = treePath(store, t);
    FileDescriptor fd = openTreeFile(store, t, path, caller);
    const size_t bytes = sizeof(Node) * (size_t)n;
    forgetLoadedTree(store);
    if (store.mapped) {
        void* address = mapTreeFile(fd.fd, bytes);
        if (address == MAP_FAILED) fatal("problem with mmap\n");
        if (!gRun.quiet) note("mmap %ld (%d bytes) with fd %d\n", (long)address, (int)bytes, fd.fd);
        auto m = std::make_unique<TreeMapping>();
        m->address = address;
        m->bytes = bytes;
        m->fd = std::move(fd);
        m->tree = t;
        m->lastUse = ++store.useClock;
        useMapping(store, *m);
        store.mappings.push_back(std::move(m));
        if (caller == kLoadForTraversal && store.mappedSums) {
            // The traversal reaches every record: the whole tree is verified once, here.
            store.mappedSums->verifyInMemory(store.tree, 0, bytes);
            store.mappedSums = nullptr;
        }
    } else {
        ssize_t got = readTreeRange(store.treeFiles[(size_t)t], fd.fd, 0, store.treeBuffer, bytes);
        if (got < 0) fatal("can't read %s: %s\n", path.c_str(), strerror(errno));
        if ((size_t)got != bytes) {
            if (caller == kLoadForTraversal)
                fatal("problem loading tree from file \"%s\", nb=%d, tn=%d\n", path.c_str(), (int)bytes, (int)got);
            fatal("problem loading tree from file \"%s\"\n", path.c_str());
        }
        store.tree = store.treeBuffer;
        store.treeNodes = n;
        store.treeIndex = t;
    }
    if (isLeaf(treeNode(store, 0))) corruptTree(store, "root record", 0);
    store.treeReadMs = msClock() - start;
}

void validateTree(TreeStore& store) {
    const uint32_t n = (uint32_t)store.treeNodes;
    const Node* const tree = store.tree;
    const uint32_t inputs = (uint32_t)store.catalogue->inputs;
    long long leaves = 0;
    for (uint32_t i = 0; i < n; i++) {
        const Node& x = tree[i];
        if (isLeaf(x)) {
            if (leafInput(x) >= inputs) corruptTree(store, "input number", leafInput(x));
            leaves++;
        } else {
            if (child0(x) >= n) corruptTree(store, "record index", child0(x));
            if (child1(x) >= n) corruptTree(store, "record index", child1(x));
        }
    }
    if (moreFollows(tree[n - 1])) corruptTree(store, "leaf chain end", n);
    if (store.treeIndex >= 0 && (size_t)store.treeIndex < store.treeLeaves.size())
        store.treeLeaves[(size_t)store.treeIndex] = leaves;
}

void checkSuffixTotal(const TreeStore& store) {
    long long leaves = 0;
    for (long long count : store.treeLeaves) {
        if (count < 0) return;
        leaves += count;
    }
    const long long suffixes = suffixTotal(store);
    if (leaves != suffixes) {
        std::string path = dividersPath(store);
        fatal("ST dividers file \"%s\": its %d trees hold %lld suffixes, but the inputs have %lld\n", path.c_str(),
              store.trees, leaves, suffixes);
    }
}

// ---- Records read on demand (read mode of the grouped exact search) ----
// Kept apart from loadTree. Pages of records are read as walks reach them and stored
// one after the other at the front of the tree buffer, so that the memory a run
// touches is what its descents read, not the size of its largest tree. A page's
// generation stamp tells whether it was read for the tree now open. A record that
// straddles two pages is copied together from both once both are in (each verified
// whole when read): its bytes never come from a page that was not verified.
namespace {

// The bytes of page `page` of the open tree, read in when not yet there.
const char* recordPage(TreeStore& store, uint32_t page) {
    RecordReader& records = store.records;
    if (records.stamps[page] == records.generation)
        return reinterpret_cast<const char*>(store.treeBuffer) + (size_t)records.slots[page] * kRecordPage;
    const uint64_t treeBytes = (uint64_t)store.treeNodes * sizeof(Node);
    // The last page, perhaps short, keeps its own place at the end of the tree's room;
    // the others are full and fill the slots before it, whatever their order.
    const uint32_t lastPage = (uint32_t)((treeBytes - 1) / kRecordPage);
    const uint32_t slot = page == lastPage ? lastPage : records.nextSlot++;
    char* target = reinterpret_cast<char*>(store.treeBuffer) + (size_t)slot * kRecordPage;
    const uint64_t from = (uint64_t)page * kRecordPage;
    const size_t length = (size_t)std::min<uint64_t>(kRecordPage, treeBytes - from);
    ssize_t got = readTreeRange(store.treeFiles[(size_t)store.treeIndex], records.fd.fd, (int64_t)from, target, length);
    if (got != (ssize_t)length) fatal("problem loading tree from file \"%s\"\n", records.path.c_str());
    records.stamps[page] = records.generation;
    records.slots[page] = slot;
    return target;
}

// The record at byte `within` of page `page` that ends in the next page.
const Node& straddlingRecord(TreeStore& store, uint32_t page, uint32_t within) {
    RecordReader& records = store.records;
    Node& record = records.straddlers[page];
    if (records.straddlerStamps[page] != records.generation) {
        const char* head = recordPage(store, page);
        const char* tail = recordPage(store, page + 1);
        const size_t headBytes = kRecordPage - within;
        memcpy(reinterpret_cast<char*>(&record), head + within, headBytes);
        memcpy(reinterpret_cast<char*>(&record) + headBytes, tail, sizeof(Node) - headBytes);
        records.straddlerStamps[page] = records.generation;
    }
    return record;
}

}  // namespace

void openTreeRecords(TreeStore& store, int t) {
    const int n = store.dividers[t].nodes;
    if (n > store.maxTreeNodes) fatal("too many tree nodes %d in tree %d, only %d allocated\n", n, t, store.maxTreeNodes);
    store.records.path = treePath(store, t);
    store.records.fd = openTreeFile(store, t, store.records.path, kLoadForSearch);
    // Full pages before the last, which keeps its own place: a tree's pages never take
    // more room than its records.
    RecordReader& records = store.records;
    const size_t pages = ((size_t)store.maxTreeNodes * sizeof(Node) + kRecordPage - 1) / kRecordPage;
    if (records.stamps.size() < pages) {
        records.stamps.assign(pages, 0);
        records.slots.assign(pages, 0);
        records.straddlers.assign(pages, Node{});
        records.straddlerStamps.assign(pages, 0);
    }
    if (++records.generation == 0) {  // stamps wrapped: none may pass as current
        std::fill(records.stamps.begin(), records.stamps.end(), 0);
        std::fill(records.straddlerStamps.begin(), records.straddlerStamps.end(), 0);
        records.generation = 1;
    }
    records.nextSlot = 0;
    store.tree = nullptr;  // the buffer is no flat copy of the tree: reach records by treeRecord()
    store.treeNodes = n;
    store.treeIndex = t;
    store.treeReadMs = 0;
    if (isLeaf(treeRecord(store, 0))) corruptTree(store, "root record", 0);
}

const Node& treeRecord(TreeStore& store, uint32_t index) {
    if (index >= (uint32_t)store.treeNodes) corruptTree(store, "record index", index);
    const uint64_t at = (uint64_t)index * sizeof(Node);
    const uint32_t page = (uint32_t)(at / kRecordPage), within = (uint32_t)(at % kRecordPage);
    if (within + sizeof(Node) > kRecordPage) return straddlingRecord(store, page, within);
    return *reinterpret_cast<const Node*>(recordPage(store, page) + within);
}

bool askForWholeTree(const TreeStore& store, int t) {
    FileDescriptor fd(openFile(treePath(store, t).c_str(), 0));
    if (!fd.ok()) return false;  // the search's own opening says why
    const off_t bytes = (off_t)sizeof(Node) * store.dividers[t].nodes;
    // Pages spread over the file stand for the whole: when they are all in the page
    // cache, the tree is taken to be there (a read that would wait says it is not).
    constexpr int kSamples = 16;
    for (int k = 0; k < kSamples; k++) {
        char byte;
        struct iovec piece = {&byte, 1};
        if (preadv2(fd.fd, &piece, 1, bytes * k / kSamples, RWF_NOWAIT) != 1)
            return posix_fadvise(fd.fd, 0, bytes, POSIX_FADV_WILLNEED) == 0;
    }
    return false;
}

void closeTreeRecords(TreeStore& store) {
    store.records.fd.reset();
    store.tree = nullptr;
    store.treeNodes = 0;
    store.treeIndex = -1;
}
