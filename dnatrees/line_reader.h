// Line by line over an input file (plain or gzip, "-" for standard input), line
// breaks (also CR-LF) removed, counting lines for messages.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/input_stream.h"
#include "toolkit/run.h"

struct LineReader {
    InputStream in;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(size_t{1} << 20);
    size_t pos = 0, end = 0;
    bool eof = false;
    long long line = 0;  // lines read so far

    // Opens `path`; one that cannot be opened is a fatal error naming it.
    explicit LineReader(const std::string& path) {
        if (!openInputStream(in, path)) fatal("can't open %s: %s\n", path.c_str(), strerror(errno));
    }

    // The next line into `text`; false at the end of the data.
    bool next(std::string& text) {
        text.clear();
        for (;;) {
            if (pos == end) {
                if (eof) {
                    if (text.empty()) return false;
                    break;
                }
                end = readInputStream(in, buffer.data(), buffer.size());
                pos = 0;
                if (end < buffer.size()) eof = true;
                continue;
            }
            const uint8_t* start = buffer.data() + pos;
            const void* nl = memchr(start, '\n', end - pos);
            size_t take = nl ? static_cast<size_t>(static_cast<const uint8_t*>(nl) - start) : end - pos;
            text.append(reinterpret_cast<const char*>(start), take);
            pos += take;
            if (nl) {
                ++pos;
                break;
            }
        }
        ++line;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        return true;
    }

    // The next line that is not blank; false at the end of the data.
    bool nextFilled(std::string& text) {
        while (next(text))
            if (text.find_first_not_of(" \t") != std::string::npos) return true;
        return false;
    }
};
