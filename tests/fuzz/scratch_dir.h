// A folder of its own for each fuzz target, emptied between inputs, and whole-file
// reads and writes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace fuzzfs = std::filesystem;

// "<TMPDIR>/<name>.XXXXXX", made once per process and removed when the fuzzer ends
// normally (a crash leaves it for a look); ends in '/'.
inline std::string scratchDir(const char* name) {
    static std::string made;
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + ".XXXXXX";
    if (!mkdtemp(pattern.data())) abort();
    made = pattern;
    atexit([] { std::error_code ec; fuzzfs::remove_all(made, ec); });
    return pattern + "/";
}

inline void writeWhole(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

inline std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every regular file below dir (relative name -> contents).
inline std::map<std::string, std::string> filesBelow(const std::string& dir) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    if (!fuzzfs::exists(dir, ec)) return files;
    for (const auto& entry : fuzzfs::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) files[fuzzfs::relative(entry.path(), dir).string()] = readWhole(entry.path());
    return files;
}

inline void emptyDir(const std::string& dir) {
    for (const auto& entry : fuzzfs::directory_iterator(dir)) fuzzfs::remove_all(entry.path());
}
