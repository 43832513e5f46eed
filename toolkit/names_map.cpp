// Names catalogue and coordinate map: varint coding, escaping, the two readers, and
// the offset lookups (binary search over an input's stretches: O(log g) time, no
// extra memory).
#include "toolkit/names_map.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "toolkit/file_io.h"
#include "toolkit/run.h"

void appendVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out += static_cast<char>((value & 0x7f) | 0x80);
        value >>= 7;
    }
    out += static_cast<char>(value);
}

std::string escapeField(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

namespace {

std::string readWholeFile(const std::string& path, const char* what, const ChecksumFile& sums) {
    FileDescriptor in(openFile(path.c_str(), 0));
    if (!in.ok()) {
        if (errno == ENOENT)
            fatal("%s %s is missing: the data set was made without it (run dnaprep again with -N)\n", what,
                  path.c_str());
        fatal("can't open %s %s: %s\n", what, path.c_str(), strerror(errno));
    }
    std::string text;
    char piece[65536];
    for (;;) {
        const size_t got = readFully(in.fd, piece, sizeof piece, path.c_str());
        text.append(piece, got);
        if (got < sizeof piece) break;
    }
    VerifiedFile file;
    file.attach(&sums, path, (int64_t)text.size());
    file.check(0, text.size(), text.data(), in.fd);
    return text;
}

std::string unescapeField(const std::string& field, const std::string& path, size_t line) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        const char next = i + 1 < field.size() ? field[++i] : 0;
        switch (next) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: fatal("names catalogue %s, line %zu: a backslash that escapes nothing\n", path.c_str(), line);
        }
    }
    return out;
}

int64_t lengthField(const std::string& field, const std::string& path, size_t line) {
    if (field.empty() || field.size() > 18 || field.find_first_not_of("0123456789") != std::string::npos)
        fatal("names catalogue %s, line %zu: \"%s\" is not a length\n", path.c_str(), line, field.c_str());
    return std::stoll(field);
}

}  // namespace

std::vector<SequenceName> readNamesCatalogue(const std::string& path, const ChecksumFile& sums) {
    const std::string text = readWholeFile(path, "names catalogue", sums);
    if (text.compare(0, strlen(kNamesHeader), kNamesHeader) != 0)
        fatal("names catalogue %s does not begin with its header line\n", path.c_str());
    if (text.back() != '\n') fatal("names catalogue %s ends inside a line: it is incomplete\n", path.c_str());
    std::vector<SequenceName> names;
    size_t line = 1;
    for (size_t from = strlen(kNamesHeader); from < text.size();) {
        ++line;
        const size_t end = text.find('\n', from);
        std::vector<std::string> fields;
        for (size_t f = from;;) {
            const size_t tab = text.find('\t', f);
            if (tab == std::string::npos || tab > end) {
                fields.push_back(text.substr(f, end - f));
                break;
            }
            fields.push_back(text.substr(f, tab - f));
            f = tab + 1;
        }
        if (fields.size() != 4)
            fatal("names catalogue %s, line %zu: %zu fields instead of 4\n", path.c_str(), line, fields.size());
        SequenceName entry;
        entry.name = unescapeField(fields[0], path, line);
        entry.file = unescapeField(fields[1], path, line);
        entry.fastaLength = lengthField(fields[2], path, line);
        entry.filteredLength = lengthField(fields[3], path, line);
        if (entry.filteredLength > entry.fastaLength)
            fatal("names catalogue %s, line %zu: more bases than FASTA characters\n", path.c_str(), line);
        names.push_back(std::move(entry));
        from = end + 1;
    }
    return names;
}

std::vector<InputMap> readCoordinateMap(const std::string& path, const ChecksumFile& sums) {
    const std::string data = readWholeFile(path, "coordinate map", sums);
    const size_t magic = strlen(kMapMagic), trailer = 8 + strlen(kMapEnd);
    if (data.size() < magic + trailer || data.compare(0, magic, kMapMagic) != 0 ||
        data.compare(data.size() - strlen(kMapEnd), strlen(kMapEnd), kMapEnd) != 0)
        fatal("coordinate map %s is incomplete or not a coordinate map\n", path.c_str());
    uint64_t count = 0;
    memcpy(&count, data.data() + data.size() - trailer, 8);

    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data()) + magic;
    const uint8_t* end = reinterpret_cast<const uint8_t*>(data.data()) + data.size() - trailer;
    std::vector<InputMap> maps;
    auto damaged = [&](const char* what) {
        fatal("coordinate map %s is damaged at byte %zu of input %zu: %s\n", path.c_str(),
              static_cast<size_t>(p - reinterpret_cast<const uint8_t*>(data.data())), maps.size(), what);
    };
    // Values stay below 2^62, so that sums of a few of them cannot overflow.
    auto next = [&]() -> int64_t {
        uint64_t value = 0;
        for (int shift = 0; shift < 63; shift += 7) {
            if (p == end) damaged("it ends inside a number");
            const uint8_t byte = *p++;
            value |= static_cast<uint64_t>(byte & 0x7f) << shift;
            if (!(byte & 0x80)) {
                if (value >= (uint64_t{1} << 62)) damaged("a number out of range");
                return static_cast<int64_t>(value);
            }
        }
        damaged("a number longer than 9 bytes");
        return 0;
    };
    while (p < end) {
        if (maps.size() == count) damaged("more inputs than its trailer counts");
        InputMap map;
        int64_t at = 0, removed = 0;
        for (int64_t length; (length = next()) != 0;) {
            const int64_t gap = next();
            if (!map.at.empty() && gap == 0) damaged("two stretches at one offset");
            at += gap;
            removed += length;
            if (at >= (int64_t{1} << 62) || removed >= (int64_t{1} << 62)) damaged("offsets out of range");
            map.at.push_back(at);
            map.removedThrough.push_back(removed);
        }
        map.kept = next();
        map.chopped = next();
        if (!map.at.empty() && map.at.back() > map.kept + map.chopped) damaged("a stretch beyond the input's end");
        maps.push_back(std::move(map));
    }
    if (maps.size() != count) damaged("fewer inputs than its trailer counts");
    return maps;
}

int64_t fastaOffset(const InputMap& map, int64_t filtered) {
    const auto after = std::upper_bound(map.at.begin(), map.at.end(), filtered);
    const int64_t removed = after == map.at.begin() ? 0 : map.removedThrough[after - map.at.begin() - 1];
    return filtered + removed;
}

bool spansRemoved(const InputMap& map, int64_t a, int64_t b) {
    const auto first = std::upper_bound(map.at.begin(), map.at.end(), a);
    return first != map.at.end() && *first < b;
}

int64_t fastaLength(const InputMap& map) {
    return map.kept + map.chopped + (map.removedThrough.empty() ? 0 : map.removedThrough.back());
}
