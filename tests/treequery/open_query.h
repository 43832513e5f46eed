// A query run opened on a data set with the coordinate map the test gives, and the
// maps and texts the tests make from FASTA texts with N runs (their reverse
// complements are the program's reverseComplement).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "toolkit/names_map.h"
#include "treequery/open_run.h"
#include "treequery/user_terms.h"

namespace testsupport {

struct OpenQuery {
    QuerySettings settings{};
    QueryRun run;

    // `dir` ends in "/"; `maps`: the coordinate map to use (none when empty).
    OpenQuery(const std::string& dir, const std::string& prefix, std::vector<InputMap> maps = {})
        : dir_(dir), prefix_(prefix) {
        openQueryRun(settings, run, dir_.c_str(), prefix_.c_str(), false);
        run.maps = std::move(maps);
    }
    ~OpenQuery() { closeTexts(run.texts); }

  private:
    std::string dir_, prefix_;
};

// A map of one input from its FASTA text: every character but a, c, g, t (either case)
// is removed, a run of them one stretch. `filtered` receives the kept bases.
inline InputMap mapOf(const std::string& fasta, std::string* filtered) {
    InputMap map;
    filtered->clear();
    int64_t removed = 0;
    bool inRun = false;
    for (char c : fasta) {
        const char l = (char)(c | 0x20);
        if (l == 'a' || l == 'c' || l == 'g' || l == 't') {
            filtered->push_back(c);
            inRun = false;
            continue;
        }
        removed++;
        if (!inRun) {
            map.at.push_back((int64_t)filtered->size());
            map.removedThrough.push_back(removed);
        } else {
            map.removedThrough.back() = removed;
        }
        inRun = true;
    }
    map.kept = (int64_t)filtered->size();
    return map;
}

}  // namespace testsupport
