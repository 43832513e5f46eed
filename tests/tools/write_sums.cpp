// Writes the checksum files of a data set built before its writers kept them: the
// texts, packed inputs and catalogues into "<base>.stinsum", the trees and dividers
// into "<base>.streesum". Time: one read of every covered file.
//
//   write_sums <dir><prefix>.ST/<prefix>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "toolkit/checksum.h"

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <dir><prefix>.ST/<prefix>\n", argv[0]);
        return 1;
    }
    const std::string base = argv[1];
    const std::filesystem::path folder = std::filesystem::path(base).parent_path();
    const std::string prefix = std::filesystem::path(base).filename().string();
    std::vector<ChecksumEntry> inputs, trees;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string rest = name.substr(prefix.size());
        const bool numbered = !rest.empty() && rest[0] == '_';
        if ((numbered && (endsWith(rest, ".stdna") || endsWith(rest, ".stbin"))) || rest == ".stlengths" ||
            rest == ".stblengths")
            inputs.push_back(hashFile(entry.path().string()));
        else if ((numbered && endsWith(rest, ".stree")) || rest == ".stdiv")
            trees.push_back(hashFile(entry.path().string()));
    }
    writeChecksumFile(base + ".stinsum", inputs);
    writeChecksumFile(base + ".streesum", trees);
    return 0;
}
