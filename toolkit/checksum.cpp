#include "toolkit/checksum.h"

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>
#if defined(__x86_64__)
#include <xxh_x86dispatch.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "toolkit/file_io.h"
#include "toolkit/run.h"

namespace {

constexpr char kMagic[8] = {'D', 'T', 'S', 'U', 'M', 1, 0, 0};

// Files written under their temporary name and not yet renamed: removed at exit, so
// a failed run leaves no half-written file behind (and never one under its real name).
std::vector<std::string> gTemporaries;
void removeTemporaries() {
    for (const std::string& path : gTemporaries) unlink(temporaryName(path).c_str());
}

std::string baseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint64_t wholeHash(uint64_t bytes, const std::vector<uint64_t>& blocks) {
    XXH3_state_t* state = XXH3_createState();
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

// Reads exactly `size` bytes at `offset`, or stops naming `path`.
void preadExactly(int fd, void* buffer, size_t size, uint64_t offset, const std::string& path) {
    char* p = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t got = timedPread64(fd, p, size, (int64_t)offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) fatal("can't read %zu bytes at offset %llu of %s%s%s\n", size, (unsigned long long)offset,
                            path.c_str(), got < 0 ? ": " : " (file ends)", got < 0 ? strerror(errno) : "");
        p += got;
        size -= (size_t)got;
        offset += (uint64_t)got;
    }
}

}  // namespace

// The same XXH3-64 values either way; on x86-64 the library picks the widest vector
// unit of the machine at run time (AVX2 hashes blocks about half again as fast).
uint64_t blockHash(const void* data, size_t size) {
#if defined(__x86_64__)
    return XXH3_64bits_dispatch(data, size);
#else
    return XXH3_64bits(data, size);
#endif
}

ChecksumEntry hashFile(const std::string& path) {
    FileDescriptor fd(openFile(path.c_str(), 0));
    if (!fd.ok()) fatal("can't open %s to checksum it: %s\n", path.c_str(), strerror(errno));
    ChecksumEntry entry;
    entry.name = baseName(path);
    std::vector<char> buffer(kChecksumBlock * 16);
    for (;;) {
        size_t got = readFully(fd.fd, buffer.data(), buffer.size(), path.c_str());
        for (size_t at = 0; at < got; at += kChecksumBlock)
            entry.blocks.push_back(blockHash(buffer.data() + at, std::min<size_t>(kChecksumBlock, got - at)));
        entry.bytes += got;
        if (got < buffer.size()) break;
    }
    entry.whole = wholeHash(entry.bytes, entry.blocks);
    return entry;
}

void writeChecksumFile(const std::string& path, const std::vector<ChecksumEntry>& entries) {
    std::string head(kMagic, sizeof kMagic);
    put(head, kChecksumBlock);
    put(head, (uint32_t)entries.size());
    size_t headBytes = head.size() + sizeof(uint64_t);
    for (const ChecksumEntry& e : entries) headBytes += 4 + e.name.size() + 4 * sizeof(uint64_t);
    uint64_t tableOffset = headBytes;
    for (const ChecksumEntry& e : entries) {
        put(head, (uint32_t)e.name.size());
        head += e.name;
        put(head, e.bytes);
        put(head, e.whole);
        put(head, tableOffset);
        put(head, blockHash(e.blocks.data(), e.blocks.size() * sizeof(uint64_t)));
        tableOffset += e.blocks.size() * sizeof(uint64_t);
    }
    put(head, blockHash(head.data(), head.size()));
    int fd = openTemporary(path);
    writeOrDie(fd, head.data(), head.size(), path.c_str());
    for (const ChecksumEntry& e : entries)
        writeOrDie(fd, e.blocks.data(), e.blocks.size() * sizeof(uint64_t), path.c_str());
    if (closeFile(fd) != 0) fatal("can't close %s: %s\n", path.c_str(), strerror(errno));
    commitFile(path);
}

bool ChecksumFile::load(const std::string& checksumPath) {
    FileDescriptor fd(openFile(checksumPath.c_str(), 0));
    if (!fd.ok()) return false;
    path = checksumPath;
    int64_t size = fileSizeByStat(checksumPath.c_str());
    std::string data((size_t)std::max<int64_t>(size, 0), '\0');
    size_t got = readFully(fd.fd, data.data(), data.size(), path.c_str());
    auto damaged = [&](const char* what) {
        fatal("checksum file %s is damaged (%s)\n", path.c_str(), what);
    };
    if (got != data.size() || got < sizeof kMagic + 8 + 8 || memcmp(data.data(), kMagic, sizeof kMagic) != 0)
        damaged("no checksum header");
    size_t at = sizeof kMagic;
    auto take = [&](void* out, size_t n) {
        if (at + n > data.size()) damaged("directory runs past the end");
        memcpy(out, data.data() + at, n);
        at += n;
    };
    uint32_t count = 0;
    take(&blockSize, 4);
    take(&count, 4);
    if (blockSize == 0 || count > data.size() / 36) damaged("header fields out of range");
    items.resize(count);
    for (Item& item : items) {
        uint32_t nameLength = 0;
        take(&nameLength, 4);
        if (nameLength > data.size() - at) damaged("name runs past the end");
        item.name.assign(data.data() + at, nameLength);
        at += nameLength;
        take(&item.bytes, 8);
        take(&item.whole, 8);
        take(&item.tableOffset, 8);
        take(&item.tableHash, 8);
    }
    uint64_t headHash = 0;
    size_t headEnd = at;
    take(&headHash, 8);
    if (headHash != blockHash(data.data(), headEnd)) damaged("directory checksum differs");
    for (const Item& item : items) {
        uint64_t tableBytes = (item.bytes + blockSize - 1) / blockSize * sizeof(uint64_t);
        if (item.tableOffset > data.size() || tableBytes > data.size() - item.tableOffset)
            damaged("block table runs past the end");
    }
    return true;
}

const ChecksumFile::Item* ChecksumFile::find(const std::string& name) const {
    for (const Item& item : items)
        if (item.name == name) return &item;
    return nullptr;
}

std::vector<uint64_t> ChecksumFile::blockTable(const Item& item) const {
    std::vector<uint64_t> table((item.bytes + blockSize - 1) / blockSize);
    FileDescriptor fd(openFile(path.c_str(), 0));
    if (!fd.ok()) fatal("can't open checksum file %s: %s\n", path.c_str(), strerror(errno));
    preadExactly(fd.fd, table.data(), table.size() * sizeof(uint64_t), item.tableOffset, path);
    if (blockHash(table.data(), table.size() * sizeof(uint64_t)) != item.tableHash)
        fatal("checksum file %s is damaged (block table of %s differs from its checksum)\n", path.c_str(),
              item.name.c_str());
    return table;
}

void VerifiedFile::attach(const ChecksumFile* checksums, const std::string& filePath, int64_t fileBytes) {
    path = filePath;
    sums = checksums;
    covered = false;
    if (!sums || sums->path.empty()) return;
    const ChecksumFile::Item* item = sums->find(baseName(filePath));
    if (!item) fatal("%s is not listed in checksum file %s\n", filePath.c_str(), sums->path.c_str());
    if ((uint64_t)fileBytes != item->bytes)
        fatal("%s holds %lld bytes, its checksum file %s says %llu\n", filePath.c_str(), (long long)fileBytes,
              sums->path.c_str(), (unsigned long long)item->bytes);
    bytes = item->bytes;
    blockSize = sums->blockSize;
    blocks = sums->blockTable(*item);
    verified.assign(blocks.size(), 0);
    covered = true;
}

void VerifiedFile::verifyBlock(uint64_t block, const void* mapped, int fd) {
    uint64_t offset = block * blockSize;
    size_t size = (size_t)std::min<uint64_t>(blockSize, bytes - offset);
    uint64_t found;
    if (mapped) {
        found = blockHash(static_cast<const char*>(mapped) + offset, size);
    } else {
        std::vector<char> buffer(size);
        preadExactly(fd, buffer.data(), size, offset, path);
        found = blockHash(buffer.data(), size);
    }
    if (found != blocks[block])
        fatal("%s is damaged: block %llu (bytes %llu to %llu) has checksum %016llx, expected %016llx\n",
              path.c_str(), (unsigned long long)block, (unsigned long long)offset,
              (unsigned long long)(offset + size - 1), (unsigned long long)found,
              (unsigned long long)blocks[block]);
    verified[block] = 1;
}

std::string temporaryName(const std::string& path) { return path + ".tmp"; }

int openTemporary(const std::string& path) {
    if (gTemporaries.empty()) atexit(removeTemporaries);
    gTemporaries.push_back(path);
    std::string temporary = temporaryName(path);
    int fd = openFile(temporary.c_str(), 1);
    if (fd < 0) fatal("can't create %s: %s\n", temporary.c_str(), strerror(errno));
    return fd;
}

void commitFile(const std::string& path) {
    std::string temporary = temporaryName(path);
    if (rename(temporary.c_str(), path.c_str()) != 0)
        fatal("can't rename %s to %s: %s\n", temporary.c_str(), path.c_str(), strerror(errno));
    for (size_t i = 0; i < gTemporaries.size(); i++)
        if (gTemporaries[i] == path) {
            gTemporaries.erase(gTemporaries.begin() + (long)i);
            break;
        }
}
