// Checksum files for a data set written by a test, through the toolkit: the texts,
// packed inputs and catalogues into "<base>.stinsum", the trees and dividers into
// "<base>.streesum".
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "toolkit/checksum.h"

namespace testsupport {

inline void writeChecksums(const std::string& base) {
    const std::filesystem::path folder = std::filesystem::path(base).parent_path();
    const std::string prefix = std::filesystem::path(base).filename().string();
    auto endsWith = [](const std::string& s, const char* tail) {
        const std::string t = tail;
        return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
    };
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
}

}  // namespace testsupport
