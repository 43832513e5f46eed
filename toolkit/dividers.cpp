// The one reader and writer of dividers files; see dividers.h.
#include "toolkit/dividers.h"

#include <cstdio>

#include "toolkit/run.h"

namespace {

// Stops with the message, or records it (the first only) in *fault; false either way.
bool stop(WorkerStatus* fault, const std::string& message) {
    if (!fault) fatal("%s", message.c_str());
    return failWorker(*fault, "%s", message.c_str());
}

}  // namespace

bool readDividerFile(const std::string& path, std::vector<TreeDivider>& dividers, const ChecksumFile* sums,
                     WorkerStatus* fault) {
    dividers.clear();
    FileDescriptor in(openFile(path.c_str(), 0));
    if (!in.ok()) return stop(fault, formatString("can't open ST dividers file \"%s\" \n", path.c_str()));
    const int64_t size = fileSizeByStat(path.c_str());
    if (size < 0) return stop(fault, formatString("problem reading ST dividers file \"%s\"\n", path.c_str()));
    if (size % (int64_t)sizeof(TreeDivider) != 0)
        return stop(fault, formatString("ST dividers file \"%s\" has %lld bytes, not a whole number of %d-byte dividers\n",
                                        path.c_str(), (long long)size, (int)sizeof(TreeDivider)));
    if (size / (int64_t)sizeof(TreeDivider) > 0x7fffffff)
        return stop(fault, formatString("ST dividers file \"%s\" is too large (%lld bytes)\n", path.c_str(), (long long)size));
    VerifiedFile verified;
    verified.fault = fault;
    verified.attach(sums, path, size);
    if (verified.failed()) return false;
    dividers.resize((size_t)size / sizeof(TreeDivider));
    ssize_t got = readAll(in.fd, dividers.data(), (size_t)size);
    if (got != (ssize_t)size) {
        dividers.clear();
        return stop(fault, formatString("problem reading ST dividers file \"%s\"\n", path.c_str()));
    }
    verified.check(0, (uint64_t)size, dividers.data(), in.fd);
    return !verified.failed();
}

std::string dividersProblem(const std::string& path, const TreeDivider* dividers, int trees, int64_t suffixes) {
    long long fewest = 0, most = 0;
    const char* file = path.c_str();
    for (int t = 0; t < trees; t++) {
        const TreeDivider& d = dividers[t];
        if (d.nodes < 1 || d.nodes > kMaxTreeRecords)
            return formatString("ST dividers file \"%s\": divider %d has an impossible node count %d", file, t, d.nodes);
        if (d.tree != t)
            return formatString("ST dividers file \"%s\": divider %d names tree %d, not tree %d", file, t, d.tree, t);
        if (d.from > d.to)
            return formatString("ST dividers file \"%s\": divider %d has its first key above its last", file, t);
        if (t > 0 && dividers[t - 1].to > d.from)
            return formatString("ST dividers file \"%s\": divider %d has its first key below the last key of divider %d",
                                file, t, t - 1);
        fewest += (d.nodes + 1) / 2;
        most += d.nodes - 1;
    }
    if (suffixes >= 0 && (suffixes < fewest || suffixes > most))
        return formatString("ST dividers file \"%s\": its %d trees hold between %lld and %lld suffixes, but the inputs have %lld",
                            file, trees, fewest, most, (long long)suffixes);
    return "";
}

void DividersWriter::open(const std::string& dividersPath) {
    path = dividersPath;
    std::remove(path.c_str());
    file.reset(openTemporary(path));
    if (!file.ok()) fatal("can't open ST dividers file %s for writing\n", temporaryName(path).c_str());
}

bool DividersWriter::append(const TreeDivider& divider, WorkerStatus& status) {
    if (writeAll(file.fd, &divider, sizeof divider) != (int64_t)sizeof divider)
        return failWorker(status, "could not write current divider element\n");
    hash.add(&divider, sizeof divider);
    return true;
}

ChecksumEntry DividersWriter::finish() {
    const std::string temporary = temporaryName(path);
    const int fd = file.fd;
    file.fd = -1;
    if (closeFile(fd) != 0) fatal("can't close ST dividers file %s\n", temporary.c_str());
    if (!tryCommitFile(path)) fatal("can't rename ST dividers file %s to %s\n", temporary.c_str(), path.c_str());
    return hash.finish(path);
}
