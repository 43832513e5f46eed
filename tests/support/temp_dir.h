// Fresh directories under the temporary folder for the tests' data sets.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

// Creates <TMPDIR or /tmp>/<tag>.XXXXXX and returns its path ending in "/".
inline std::string tempDir(const char* tag) {
    const char* root = std::getenv("TMPDIR");
    std::string tmpl = std::string(root && *root ? root : "/tmp") + "/" + tag + ".XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
        std::perror(tmpl.c_str());
        std::abort();
    }
    return std::string(buf.data()) + "/";
}

// A temporary directory removed at the end of its scope, except when the test has
// failed (or TEST_KEEP is set): then it stays for a look and its path is printed.
struct TempDir {
    std::string path;  // ends in "/"

    explicit TempDir(const char* tag) : path(tempDir(tag)) {}
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        if (testing::Test::HasFailure() || std::getenv("TEST_KEEP")) {
            std::fprintf(stderr, "test data kept in %s\n", path.c_str());
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

}  // namespace testsupport
