// Bytes of one input: a file, or standard input for "-". Data that begins with the
// gzip magic bytes 1f 8b (whatever the file is called) is inflated through zlib, every
// member of a multi-member file in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/file_io.h"

struct z_stream_s;
struct InflateEnd {
    void operator()(z_stream_s* z) const;
};

struct InputStream {
    std::string name;      // for messages: the path, or "standard input"
    FileDescriptor owned;  // the opened file (standard input is not closed)
    int fd = -1;
    bool regular = false;  // a regular file: may also be mapped instead of read
    bool gzip = false;
    // Bytes read ahead: the first bytes of a pipe (read to tell gzip data from plain
    // data) and the compressed bytes waiting for the inflater.
    std::vector<uint8_t> raw;
    size_t rawPos = 0, rawEnd = 0;
    bool rawEof = false;
    std::unique_ptr<z_stream_s, InflateEnd> z;
    bool finished = false;  // every gzip member is inflated
};

// Opens `path` ("-": standard input) and looks at its first two bytes; false (errno
// set) when it cannot be opened.
bool openInputStream(InputStream& in, const std::string& path);

// Fills `buffer` with up to `size` bytes, fewer only at the end of the data. A failed
// read, a corrupt or truncated gzip stream and bytes after the last gzip member that
// are no gzip member are fatal errors naming the input.
size_t readInputStream(InputStream& in, uint8_t* buffer, size_t size);

inline bool isGzipStart(const uint8_t* bytes, size_t length) {
    return length >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b;
}
