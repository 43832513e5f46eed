#include "toolkit/checksum.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>
#if defined(__x86_64__)
#include <xxh_x86dispatch.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "toolkit/file_io.h"
#include "toolkit/run.h"

namespace {

constexpr char kMagic[8] = {'D', 'T', 'S', 'U', 'M', 1, 0, 0};

// Files written under their temporary name and not yet renamed: removed at exit, so
// a failed run leaves no half-written file behind (and never one under its real
// name). Part of the run conventions, like the exit status of fatal(). Threads of a
// program open and rename their files at once, and one of them may stop the program
// while others write: every use of the list holds gTemporariesLock.
std::mutex gTemporariesLock;
std::vector<std::string> gTemporaries;
void removeTemporaries() {
    std::lock_guard<std::mutex> hold(gTemporariesLock);
    for (const std::string& path : gTemporaries) unlink(temporaryName(path).c_str());
}

// Stops the program with the message, or records it in *fault (the first one only)
// for a worker whose owner ends the run; false either way.
bool raise(WorkerStatus* fault, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool raise(WorkerStatus* fault, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = formatText(fmt, args);
    va_end(args);
    if (!fault) fatal("%s", text.c_str());
    return failWorker(*fault, "%s", text.c_str());
}

std::string baseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The checksum file's name without its extension: the data set's prefix.
std::string stemOf(const std::string& checksumPath) {
    std::string name = baseName(checksumPath);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

uint64_t wholeHash(uint64_t bytes, const std::vector<uint64_t>& blocks) {
    XXH3_state_t* state = XXH3_createState();
    if (!state) fatal("can't allocate a checksum state\n");
    XXH3_64bits_reset(state);
    XXH3_64bits_update(state, &bytes, sizeof bytes);
    XXH3_64bits_update(state, blocks.data(), blocks.size() * sizeof(uint64_t));
    uint64_t h = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    return h;
}

template <typename T>
void put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Reads exactly `size` bytes at `offset`; otherwise an error naming `path` (see raise).
bool preadExactly(int fd, void* buffer, size_t size, uint64_t offset, const std::string& path,
                  WorkerStatus* fault = nullptr) {
    ssize_t got = readAll(fd, buffer, size, (int64_t)offset);
    if (got == (ssize_t)size) return true;
    return raise(fault, "can't read %zu bytes at offset %llu of %s%s%s\n", size, (unsigned long long)offset,
                 path.c_str(), got < 0 ? ": " : " (file ends)", got < 0 ? strerror(errno) : "");
}

// What a block whose hash differs from its checksum is called, wherever it is found.
std::string damagedBlock(const std::string& path, uint64_t block, uint64_t start, size_t size, uint64_t found,
                         uint64_t expected) {
    return formatString("%s is damaged: block %llu (bytes %llu to %llu) has checksum %016llx, expected %016llx\n",
                        path.c_str(), (unsigned long long)block, (unsigned long long)start,
                        (unsigned long long)(start + size - 1), (unsigned long long)found,
                        (unsigned long long)expected);
}

// Bytes read and hashed at a time when whole blocks are read on use: small enough to
// stay in the cache between the read and the hash.
constexpr size_t kHotPiece = 256 * 1024;

}  // namespace

std::string firstFault(const ChecksumFile& sums, const ChecksumFile::Item& item, const std::string& path) {
    std::vector<uint64_t> table;
    std::string problem = sums.readBlockTable(item, table);
    if (!problem.empty()) return problem;
    int64_t size = fileSizeByStat(path.c_str());
    if (size < 0) return "missing";
    if ((uint64_t)size != item.bytes)
        return "holds " + std::to_string(size) + " bytes, its checksum says " + std::to_string(item.bytes);
    FileDescriptor fd(openFile(path.c_str(), 0));
    if (!fd.ok()) return std::string("can't open it: ") + strerror(errno);
    std::vector<char> buffer(sums.blockSize);
    for (size_t b = 0; b < table.size(); b++) {
        uint64_t offset = b * sums.blockSize;
        size_t size = (size_t)std::min<uint64_t>(sums.blockSize, item.bytes - offset);
        preadExactly(fd.fd, buffer.data(), size, offset, path);
        uint64_t found = blockHash(buffer.data(), size);
        if (found != table[b]) {
            char text[160];
            snprintf(text, sizeof text, "block %zu (bytes %llu to %llu) has checksum %016llx, expected %016llx", b,
                     (unsigned long long)offset, (unsigned long long)(offset + size - 1), (unsigned long long)found,
                     (unsigned long long)table[b]);
            return text;
        }
    }
    return "";
}

// The same XXH3-64 values either way; on x86-64 the library picks the widest vector
// unit of the machine at run time (AVX2 hashes blocks about half again as fast).
uint64_t blockHash(const void* data, size_t size) {
#if defined(__x86_64__)
    return XXH3_64bits_dispatch(data, size);
#else
    return XXH3_64bits(data, size);
#endif
}

struct BlockHasher::State {
    XXH3_state_t* xxh = nullptr;
    uint32_t fill = 0;  // bytes of the open block
    ChecksumEntry entry;
};

BlockHasher::BlockHasher() : state_(std::make_unique<State>()) {
    state_->xxh = XXH3_createState();
    if (!state_->xxh) fatal("can't allocate a checksum state\n");
    XXH3_64bits_reset(state_->xxh);
}

BlockHasher::~BlockHasher() {
    if (state_) XXH3_freeState(state_->xxh);
}

BlockHasher::BlockHasher(BlockHasher&&) noexcept = default;

BlockHasher& BlockHasher::operator=(BlockHasher&& other) noexcept {
    if (this != &other) {
        if (state_) XXH3_freeState(state_->xxh);
        state_ = std::move(other.state_);
    }
    return *this;
}

void BlockHasher::add(const void* data, size_t size) {
    State& s = *state_;
    const char* p = static_cast<const char*>(data);
    s.entry.bytes += size;
    while (size > 0) {
        size_t take = std::min<size_t>(size, kChecksumBlock - s.fill);
        XXH3_64bits_update(s.xxh, p, take);
        s.fill += (uint32_t)take;
        p += take;
        size -= take;
        if (s.fill == kChecksumBlock) {
            s.entry.blocks.push_back(XXH3_64bits_digest(s.xxh));
            XXH3_64bits_reset(s.xxh);
            s.fill = 0;
        }
    }
}

ChecksumEntry BlockHasher::finish(const std::string& path) {
    State& s = *state_;
    if (s.fill > 0) s.entry.blocks.push_back(XXH3_64bits_digest(s.xxh));
    ChecksumEntry done = std::move(s.entry);
    done.name = baseName(path);
    done.whole = wholeHash(done.bytes, done.blocks);
    s.entry = ChecksumEntry();
    s.fill = 0;
    XXH3_64bits_reset(s.xxh);
    return done;
}

ChecksumEntry hashFile(const std::string& path, WorkerStatus* fault) {
    ChecksumEntry entry;
    entry.name = baseName(path);
    FileDescriptor fd(openFile(path.c_str(), 0));
    if (!fd.ok()) {
        raise(fault, "can't open %s to checksum it: %s\n", path.c_str(), strerror(errno));
        return entry;
    }
    std::vector<char> buffer(kChecksumBlock * 16);
    for (;;) {
        const ssize_t n = readAll(fd.fd, buffer.data(), buffer.size());
        if (n < 0) {
            raise(fault, "can't read %s: %s\n", path.c_str(), strerror(errno));
            return entry;
        }
        const size_t got = (size_t)n;
        for (size_t at = 0; at < got; at += kChecksumBlock)
            entry.blocks.push_back(blockHash(buffer.data() + at, std::min<size_t>(kChecksumBlock, got - at)));
        entry.bytes += got;
        if (got < buffer.size()) break;
    }
    entry.whole = wholeHash(entry.bytes, entry.blocks);
    return entry;
}

std::string checksumName(const std::string& checksumPath, const std::string& filePath) {
    std::string name = baseName(filePath), stem = stemOf(checksumPath);
    if (stem.empty() || name.compare(0, stem.size(), stem) != 0) return name;
    std::string marked(1, '*');
    marked.append(name, stem.size(), std::string::npos);
    return marked;
}

void writeChecksumFile(const std::string& path, const std::vector<ChecksumEntry>& entries) {
    std::vector<std::string> names;
    for (const ChecksumEntry& e : entries) names.push_back(checksumName(path, e.name));
    std::string head(kMagic, sizeof kMagic);
    put(head, kChecksumBlock);
    put(head, (uint32_t)entries.size());
    size_t headBytes = head.size() + sizeof(uint64_t);
    for (const std::string& name : names) headBytes += 4 + name.size() + 4 * sizeof(uint64_t);
    uint64_t tableOffset = headBytes;
    for (size_t i = 0; i < entries.size(); i++) {
        const ChecksumEntry& e = entries[i];
        put(head, (uint32_t)names[i].size());
        head += names[i];
        put(head, e.bytes);
        put(head, e.whole);
        put(head, tableOffset);
        put(head, blockHash(e.blocks.data(), e.blocks.size() * sizeof(uint64_t)));
        tableOffset += e.blocks.size() * sizeof(uint64_t);
    }
    put(head, blockHash(head.data(), head.size()));
    int fd = openTemporary(path);
    if (fd < 0) fatal("can't create checksum file %s: %s\n", temporaryName(path).c_str(), strerror(errno));
    writeOrDie(fd, head.data(), head.size(), path.c_str());
    for (const ChecksumEntry& e : entries)
        writeOrDie(fd, e.blocks.data(), e.blocks.size() * sizeof(uint64_t), path.c_str());
    if (closeFile(fd) != 0) fatal("can't close %s: %s\n", path.c_str(), strerror(errno));
    commitFile(path);
}

namespace {

// Parses the directory of a checksum file (`size` bytes at `data`) into `sums`: what
// is wrong with it, or "".
std::string readDirectory(ChecksumFile& sums, const char* data, size_t size) {
    std::vector<ChecksumFile::Item>& items = sums.items;
    uint32_t& blockSize = sums.blockSize;
    size_t at = sizeof kMagic;
    bool past = false;
    auto take = [&](void* out, size_t n) {
        if (at + n > size) {
            past = true;
            return;
        }
        memcpy(out, data + at, n);
        at += n;
    };
    uint32_t count = 0;
    take(&blockSize, 4);
    take(&count, 4);
    if (blockSize == 0 || count > size / 36) return "header fields out of range";
    items.resize(count);
    for (ChecksumFile::Item& item : items) {
        uint32_t nameLength = 0;
        take(&nameLength, 4);
        if (past || nameLength > size - at) return "name runs past the end";
        item.name.assign(data + at, nameLength);
        at += nameLength;
        take(&item.bytes, 8);
        take(&item.whole, 8);
        take(&item.tableOffset, 8);
        take(&item.tableHash, 8);
    }
    sums.byName.clear();
    for (size_t i = 0; i < items.size(); i++) sums.byName.emplace(items[i].name, i);
    uint64_t headHash = 0;
    size_t headEnd = at;
    take(&headHash, 8);
    if (past) return "directory runs past the end";
    if (headHash != blockHash(data, headEnd)) return "directory checksum differs";
    for (const ChecksumFile::Item& item : items) {
        uint64_t tableBytes = (item.bytes / blockSize + (item.bytes % blockSize != 0)) * sizeof(uint64_t);
        if (item.tableOffset > size || tableBytes > size - item.tableOffset) return "block table runs past the end";
    }
    return "";
}

}  // namespace

ChecksumBytes::~ChecksumBytes() {
    if (mapped) munmap(const_cast<char*>(data), size);
}

std::string ChecksumFile::read(const std::string& checksumPath) {
    *this = ChecksumFile();
    FileDescriptor fd(openFile(checksumPath.c_str(), 0));
    if (!fd.ok()) return "missing";
    struct stat info;
    if (fstat(fd.fd, &info) != 0 || info.st_size < (off_t)(sizeof kMagic + 8 + 8)) return "no checksum header";
    auto held = std::make_shared<ChecksumBytes>();
    held->size = (size_t)info.st_size;
    void* address = mmap(nullptr, held->size, PROT_READ, MAP_SHARED, fd.fd, 0);
    if (address != MAP_FAILED) {
        held->data = static_cast<const char*>(address);
        held->mapped = true;
    } else {
        held->copy.assign(held->size, '\0');
        if (readFully(fd.fd, held->copy.data(), held->size, checksumPath.c_str()) != held->size)
            return "no checksum header";
        held->data = held->copy.data();
    }
    if (memcmp(held->data, kMagic, sizeof kMagic) != 0) return "no checksum header";
    std::string problem = readDirectory(*this, held->data, held->size);
    if (!problem.empty()) {
        *this = ChecksumFile();
        return problem;
    }
    path = checksumPath;
    bytes = std::move(held);
    return "";
}

bool ChecksumFile::load(const std::string& checksumPath) {
    std::string problem = read(checksumPath);
    if (problem == "missing") return false;
    if (!problem.empty()) fatal("checksum file %s is damaged (%s)\n", checksumPath.c_str(), problem.c_str());
    return true;
}

const ChecksumFile::Item* ChecksumFile::find(const std::string& filePath) const {
    std::string name = checksumName(path, filePath);
    if (!byName.empty()) {
        auto found = byName.find(name);
        return found == byName.end() ? nullptr : &items[found->second];
    }
    for (const Item& item : items)  // items not read by read() (or read in part)
        if (item.name == name) return &item;
    return nullptr;
}

std::string ChecksumFile::pathOf(const Item& item) const {
    std::string name = item.name;
    if (!name.empty() && name[0] == '*') name = stemOf(path) + name.substr(1);
    return folderOf(path) + name;
}

const char* ChecksumFile::tableInPlace(const Item& item, std::string& problem) const {
    const size_t tableBytes = (size_t)(item.bytes / blockSize + (item.bytes % blockSize != 0)) * sizeof(uint64_t);
    if (!bytes) {
        problem = "checksum file " + path + " is not loaded";
        return nullptr;
    }
    const char* table = bytes->data + item.tableOffset;  // inside: checked by read()
    if (blockHash(table, tableBytes) == item.tableHash) return table;
    problem = "block table of " + baseName(pathOf(item)) + " differs from its checksum";
    return nullptr;
}

std::string ChecksumFile::readBlockTable(const Item& item, std::vector<uint64_t>& table) const {
    table.assign(item.bytes / blockSize + (item.bytes % blockSize != 0), 0);
    std::string problem;
    const char* inPlace = tableInPlace(item, problem);
    if (inPlace) memcpy(table.data(), inPlace, table.size() * sizeof(uint64_t));
    return problem;
}

std::vector<uint64_t> ChecksumFile::blockTable(const Item& item, WorkerStatus* fault) const {
    std::vector<uint64_t> table;
    std::string problem = readBlockTable(item, table);
    if (!problem.empty()) raise(fault, "checksum file %s is damaged (%s)\n", path.c_str(), problem.c_str());
    return table;
}

ChecksumEntry listedEntry(const ChecksumFile& sums, const ChecksumFile::Item& item, const std::string& path) {
    ChecksumEntry entry;
    entry.name = baseName(path);
    entry.bytes = item.bytes;
    entry.whole = item.whole;
    entry.blocks = sums.blockTable(item);
    return entry;
}

bool loadChecksums(ChecksumFile& sums, const std::string& path, const char* what) {
    if (sums.load(path)) return true;
    if (gRun.verbose) note("no checksum file %s: %s are read unverified\n", path.c_str(), what);
    noteUnverified(path);
    return false;
}

void noteUnverified(const std::string& missing) {
    if (gRun.unverifiedNoted) return;
    gRun.unverifiedNoted = 1;
    note("running unverified: no checksum file %s, so damaged files would go unnoticed\n", missing.c_str());
}

void VerifiedFile::attach(const ChecksumFile* sums, const std::string& filePath, int64_t fileBytes) {
    path = filePath;
    covered = false;
    if (!sums || sums->path.empty()) return;
    const ChecksumFile::Item* item = sums->find(filePath);
    if (!item) {
        raise(fault, "%s is not listed in checksum file %s\n", filePath.c_str(), sums->path.c_str());
        return;
    }
    if (fileBytes < 0 || (uint64_t)fileBytes != item->bytes) {
        raise(fault, "%s holds %lld bytes, its checksum file %s says %llu\n", filePath.c_str(), (long long)fileBytes,
              sums->path.c_str(), (unsigned long long)item->bytes);
        return;
    }
    bytes = item->bytes;
    blockSize = sums->blockSize;
    std::string problem;
    table = sums->tableInPlace(*item, problem);
    if (!table) {
        raise(fault, "checksum file %s is damaged (%s)\n", sums->path.c_str(), problem.c_str());
        return;
    }
    tableOwner = sums->bytes;
    verified.assign(item->bytes / blockSize + (item->bytes % blockSize != 0), 0);
    covered = true;
}

void VerifiedFile::verifyBlock(uint64_t block, uint64_t offset, uint64_t length, const void* data, int fd) {
    if (sharedVerified(block)) return;
    uint64_t start = block * blockSize;
    size_t size = (size_t)std::min<uint64_t>(blockSize, bytes - start);
    uint64_t found;
    if (data && start >= offset && start + size <= offset + length) {
        found = blockHash(static_cast<const char*>(data) + (start - offset), size);
    } else {
        std::vector<char> buffer(size);
        if (!preadExactly(fd, buffer.data(), size, start, path, fault)) return;
        found = blockHash(buffer.data(), size);
    }
    if (found != expected(block)) {
        raise(fault, "%s", damagedBlock(path, block, start, size, found, expected(block)).c_str());
        return;
    }
    markVerified(block);
}

void VerifiedFile::verifyOnUse(uint64_t b, const char* data) {
    if (sharedVerified(b)) return;
    const uint64_t start = b * blockSize;
    const size_t size = (size_t)std::min<uint64_t>(blockSize, bytes - start);
    // A search reaches blocks all over the file, so the table entry is seldom in the
    // cache: asked for first, it arrives while the block is hashed.
    __builtin_prefetch(table + b * sizeof(uint64_t));
    const uint64_t found = blockHash(data, size);
    if (found != expected(b)) stopOnDamage(damagedBlock(path, b, start, size, found, expected(b)));
    markVerified(b);
}

std::atomic<uint8_t>* SharedMarks::forFile(size_t index, size_t blocks) {
    std::lock_guard<std::mutex> guard(lock_);
    if (index >= marks_.size()) {
        marks_.resize(index + 1);
        blocks_.resize(index + 1, 0);
    }
    if (!marks_[index]) {
        marks_[index] = std::make_unique<std::atomic<uint8_t>[]>(blocks);  // value-initialised: 0
        blocks_[index] = blocks;
    }
    return blocks_[index] == blocks ? marks_[index].get() : nullptr;
}

void VerifiedFile::verifyInMemorySlow(const void* fileBytes, uint64_t offset, uint64_t length) {
    const uint64_t first = offset / blockSize, last = (offset + length - 1) / blockSize;
    const char* data = static_cast<const char*>(fileBytes);
    for (uint64_t b = first; b <= last && b < verified.size(); b++)
        if (!verified[b]) verifyOnUse(b, data + b * blockSize);
}

ssize_t VerifiedFile::readVerified(int fd, int64_t offset, char* buffer, size_t length) {
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    if ((uint64_t)offset >= bytes || blocksVerified((uint64_t)offset, length)) return readAll(fd, buffer, length, offset);
    const uint64_t end = std::min<uint64_t>((uint64_t)offset + length, bytes);
    if ((uint64_t)offset % blockSize == 0 && (end % blockSize == 0 || end == bytes)) {
        // Whole blocks (a whole tree): verified where they were read to, a piece at a
        // time while the piece is still in the cache.
        const size_t piece = (size_t)blockSize * std::max<size_t>(1, kHotPiece / blockSize);
        size_t done = 0;
        while (done < length) {
            const size_t want = std::min(piece, length - done);
            const uint64_t at = (uint64_t)offset + done;
            ssize_t got = readAll(fd, buffer + done, want, (int64_t)at);
            if (got < 0) return got;
            for (uint64_t b = at / blockSize;
                 b < verified.size() && std::min<uint64_t>((b + 1) * blockSize, bytes) <= at + (uint64_t)got; b++)
                if (!verified[b]) verifyOnUse(b, buffer + (b * blockSize - (uint64_t)offset));
            done += (size_t)got;
            if ((size_t)got < want) break;
        }
        return (ssize_t)done;
    }
    // Whole blocks from the first to the last the range overlaps, in one read: on the
    // stack when they are at most two (the bases of a check, a few records), so that a
    // short read allocates nothing.
    const uint64_t spanStart = (uint64_t)offset / blockSize * blockSize;
    const uint64_t spanEnd = std::min<uint64_t>((end + blockSize - 1) / blockSize * blockSize, bytes);
    const size_t spanBytes = (size_t)(spanEnd - spanStart);
    char onStack[2 * kChecksumBlock];
    std::vector<char> allocated;
    char* span = onStack;
    if (spanBytes > sizeof onStack) {
        allocated.resize(spanBytes);
        span = allocated.data();
    }
    ssize_t got = readAll(fd, span, spanBytes, (int64_t)spanStart);
    if (got < 0) return got;
    if ((uint64_t)got < spanBytes)
        stopOnDamage(formatString("%s holds fewer bytes than its checksum file says (%llu)\n", path.c_str(),
                                  (unsigned long long)bytes));
    for (uint64_t b = spanStart / blockSize; b * blockSize < spanEnd; b++)
        if (!verified[b]) verifyOnUse(b, span + (b * blockSize - spanStart));
    const size_t handed = (size_t)(end - (uint64_t)offset);
    memcpy(buffer, span + ((uint64_t)offset - spanStart), handed);
    // Bytes asked for beyond the file's end are the caller's short read, as without checks.
    return (ssize_t)handed;
}

void verifyWholeFile(const ChecksumFile& sums, const std::string& path) {
    if (sums.path.empty()) return;
    const ChecksumFile::Item* item = sums.find(path);
    if (!item) fatal("%s is not listed in checksum file %s\n", path.c_str(), sums.path.c_str());
    std::string fault = firstFault(sums, *item, path);
    if (!fault.empty()) fatal("%s is damaged: %s\n", path.c_str(), fault.c_str());
}

std::string temporaryName(const std::string& path) { return path + ".tmp"; }

int openTemporary(const std::string& path) {
    std::string temporary = formatPath(kPathLimit, "%s", temporaryName(path).c_str());
    int fd = openFile(temporary.c_str(), 1);
    if (fd < 0) return fd;
    std::lock_guard<std::mutex> hold(gTemporariesLock);
    static bool cleanupRegistered = false;
    if (!cleanupRegistered) cleanupRegistered = atexit(removeTemporaries) == 0;
    gTemporaries.push_back(path);
    return fd;
}

bool tryCommitFile(const std::string& path) {
    if (rename(temporaryName(path).c_str(), path.c_str()) != 0) return false;
    std::lock_guard<std::mutex> hold(gTemporariesLock);
    auto at = std::find(gTemporaries.begin(), gTemporaries.end(), path);
    if (at != gTemporaries.end()) gTemporaries.erase(at);
    return true;
}

void commitFile(const std::string& path) {
    if (!tryCommitFile(path))
        fatal("can't rename %s to %s: %s\n", temporaryName(path).c_str(), path.c_str(), strerror(errno));
}
