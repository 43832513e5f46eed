#include "toolkit/input_stream.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "toolkit/run.h"

void InflateEnd::operator()(z_stream_s* z) const {
    inflateEnd(z);
    delete z;
}

namespace {

constexpr size_t kReadAhead = 262144;

// Fills the read-ahead buffer after its unread bytes; sets rawEof at the end.
void refill(InputStream& in) {
    if (in.rawPos > 0) {
        memmove(in.raw.data(), in.raw.data() + in.rawPos, in.rawEnd - in.rawPos);
        in.rawEnd -= in.rawPos;
        in.rawPos = 0;
    }
    const size_t want = in.raw.size() - in.rawEnd;
    const size_t got = readFully(in.fd, in.raw.data() + in.rawEnd, want, in.name.c_str());
    if (got < want) in.rawEof = true;
    in.rawEnd += got;
}

void startInflater(InputStream& in) {
    in.z.reset(new z_stream_s());
    if (inflateInit2(in.z.get(), 16 + MAX_WBITS) != Z_OK) fatal("can't set up zlib to read %s\n", in.name.c_str());
}

// After a member's end: another member must follow, or nothing.
void nextMember(InputStream& in) {
    while (in.rawEnd - in.rawPos < 2 && !in.rawEof) refill(in);
    if (in.rawEnd == in.rawPos) {
        in.finished = true;
        return;
    }
    if (!isGzipStart(in.raw.data() + in.rawPos, in.rawEnd - in.rawPos))
        fatal("%s has bytes after its gzip data that are not gzip data\n", in.name.c_str());
    inflateReset(in.z.get());
}

size_t inflateInto(InputStream& in, uint8_t* buffer, size_t size) {
    z_stream_s& z = *in.z;
    size_t done = 0;
    while (done < size && !in.finished) {
        if (in.rawPos == in.rawEnd) {
            if (in.rawEof) fatal("gzip data in %s is truncated\n", in.name.c_str());
            refill(in);
            continue;
        }
        z.next_in = in.raw.data() + in.rawPos;
        z.avail_in = static_cast<uInt>(in.rawEnd - in.rawPos);
        z.next_out = buffer + done;
        z.avail_out = static_cast<uInt>(std::min<size_t>(size - done, 1u << 30));
        const int result = inflate(&z, Z_NO_FLUSH);
        in.rawPos = in.rawEnd - z.avail_in;
        done = static_cast<size_t>(z.next_out - buffer);
        if (result == Z_STREAM_END) {
            nextMember(in);
        } else if (result == Z_BUF_ERROR) {
            if (in.rawEof && in.rawPos == in.rawEnd) fatal("gzip data in %s is truncated\n", in.name.c_str());
        } else if (result != Z_OK) {
            fatal("gzip data in %s is corrupt: %s\n", in.name.c_str(), z.msg ? z.msg : zError(result));
        }
    }
    return done;
}

}  // namespace

bool openInputStream(InputStream& in, const std::string& path) {
    if (path == "-") {
        in.name = "standard input";
        in.fd = 0;
    } else {
        in.name = path;
        in.owned.reset(openFile(path.c_str(), 0));
        if (!in.owned.ok()) return false;
        in.fd = in.owned.fd;
    }
    struct stat info;
    in.regular = fstat(in.fd, &info) == 0 && S_ISREG(info.st_mode);
    in.raw.resize(kReadAhead);
    if (in.regular) {
        uint8_t magic[2];
        in.gzip = pread(in.fd, magic, 2, 0) == 2 && isGzipStart(magic, 2);
    } else {
        while (in.rawEnd < 2 && !in.rawEof) refill(in);
        in.gzip = isGzipStart(in.raw.data(), in.rawEnd);
    }
    if (in.gzip) startInflater(in);
    return true;
}

size_t readInputStream(InputStream& in, uint8_t* buffer, size_t size) {
    if (in.gzip) return inflateInto(in, buffer, size);
    const size_t ahead = std::min(size, in.rawEnd - in.rawPos);
    memcpy(buffer, in.raw.data() + in.rawPos, ahead);
    in.rawPos += ahead;
    if (ahead == size || (in.rawEof && in.rawPos == in.rawEnd)) return ahead;
    return ahead + readFully(in.fd, buffer + ahead, size - ahead, in.name.c_str());
}
