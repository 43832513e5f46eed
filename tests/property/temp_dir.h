// A fresh directory under the temporary folder for one test data set.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace testsupport {

// Creates <TMPDIR or /tmp>/<tag>.XXXXXX and returns its path ending in "/".
inline std::string tempDir(const char* tag) {
    std::string tmpl = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/" + tag + ".XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) abort();
    return std::string(buf.data()) + "/";
}

}  // namespace testsupport
