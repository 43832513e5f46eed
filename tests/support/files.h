// Whole-file reads and writes, a folder's files, and a shell command's status, for the
// tests (run.h captures what a command prints).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

// The bytes of a file; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file of fixed-size records (words, suffix records, tree nodes); a partial record
// at the end is dropped.
template <class T>
std::vector<T> readRecords(const std::string& path) {
    std::string bytes = readFile(path);
    std::vector<T> records(bytes.size() / sizeof(T));
    if (!records.empty()) std::memcpy(records.data(), bytes.data(), records.size() * sizeof(T));
    return records;
}

inline void writeBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    writeBytes(path, bytes.data(), bytes.size());
}

template <class T>
void writeFile(const std::string& path, const std::vector<T>& records) {
    writeBytes(path, records.data(), records.size() * sizeof(T));
}

// The bytes of fixed-size records, as a file of them holds them.
template <class T>
std::string bytesOf(const std::vector<T>& records) {
    return std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(T));
}

// Every regular file of a folder by name, with its bytes (none when there is no folder).
inline std::map<std::string, std::string> filesOf(const std::string& dir) {
    std::map<std::string, std::string> files;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(dir, missing))
        if (entry.is_regular_file()) files[entry.path().filename()] = readFile(entry.path());
    return files;
}

inline bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Runs a shell command; returns its exit status (-1 when it did not exit normally).
inline int runCommand(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string binary(const std::string& program) { return std::string(BIN_DIR) + "/" + program; }

}  // namespace testsupport
