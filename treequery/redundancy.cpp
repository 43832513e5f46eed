// Redundant inputs on both strands (redundancy.h): every input is searched as one
// exact pattern and as its reverse complement through the trees, a batch of inputs at
// a time, and each occurrence in another input is checked against the removed
// stretches on both sides.
//
// Time: one descent per input and strand (O(a) steps for a bases) plus one step per
// occurrence found; extra memory: the texts, a batch's reverse complements (at most
// kBatchBases bases) and the occurrences of its patterns.
#include "treequery/redundancy.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "treequery/exact_search.h"
#include "treequery/user_terms.h"

namespace {

constexpr int64_t kBatchBases = 1 << 26;
constexpr size_t kBatchInputs = 4096;

// The stretches strictly inside [lo, hi) of a map, as (offset - lo, length).
using Stretches = std::vector<std::pair<int64_t, int64_t>>;
Stretches interiorStretches(const InputMap& map, int64_t lo, int64_t hi) {
    Stretches out;
    auto k = std::upper_bound(map.at.begin(), map.at.end(), lo) - map.at.begin();
    for (; k < (long)map.at.size() && map.at[(size_t)k] < hi; k++) {
        const int64_t before = k > 0 ? map.removedThrough[(size_t)k - 1] : 0;
        out.emplace_back(map.at[(size_t)k] - lo, map.removedThrough[(size_t)k] - before);
    }
    return out;
}

// A's stretches as they lie along its reverse complement.
Stretches mirrored(const Stretches& s, int64_t a) {
    Stretches out;
    for (auto it = s.rbegin(); it != s.rend(); ++it) out.emplace_back(a - it->first, it->second);
    return out;
}

struct Finder {
    QueryRun& q;
    bool all;
    std::vector<RedundantRow> rows;
    std::vector<std::string> texts;  // every input, lower case (the search compares there)

    int length(int i) const { return q.catalogue.lengths[i]; }
    // B before C as A's representative: longer, then earlier.
    bool better(int b, int c) const { return length(b) != length(c) ? length(b) > length(c) : b < c; }
    // An occurrence before another in B: '+' first, then the lower start.
    static bool earlier(const RedundantRow& x, const RedundantRow& y) {
        return x.reverse != y.reverse ? !x.reverse : x.start < y.start;
    }

    // A's rows from the occurrences of its two strands.
    void rowsOf(int a, const ExactResult* strands) {
        const bool haveMaps = q.maps.size() == (size_t)q.catalogue.inputs;
        Stretches own[2];
        if (haveMaps) {
            own[0] = interiorStretches(q.maps[(size_t)a], 0, length(a));
            own[1] = mirrored(own[0], length(a));
        }
        std::vector<RedundantRow> found;  // the first occurrence in each candidate
        for (int strand = 0; strand < 2; strand++) {
            for (const Occurrence& o : strands[strand].kept) {
                const int b = o.input;
                if (b == a || !better(b, a)) continue;
                if (haveMaps && interiorStretches(q.maps[(size_t)b], o.position, o.position + length(a)) != own[strand])
                    continue;
                RedundantRow row{a, b, length(b) == length(a), strand == 1, o.position};
                auto it = std::find_if(found.begin(), found.end(), [&](const RedundantRow& r) { return r.other == b; });
                if (it == found.end())
                    found.push_back(row);
                else if (earlier(row, *it))
                    *it = row;
            }
        }
        std::sort(found.begin(), found.end(), [&](const RedundantRow& x, const RedundantRow& y) {
            return better(x.other, y.other);
        });
        if (found.empty()) return;
        if (all)
            rows.insert(rows.end(), found.begin(), found.end());
        else
            rows.push_back(found.front());
    }

    void batch(int first, int end) {
        std::vector<std::string> reversed;
        std::vector<std::string_view> patterns;
        std::vector<int> inputs;
        reversed.reserve((size_t)(end - first));
        for (int i = first; i < end; i++) {
            if (length(i) <= 0) continue;
            reversed.push_back(reverseComplement(texts[(size_t)i]));
            patterns.push_back(texts[(size_t)i]);
            patterns.push_back(reversed.back());
            inputs.push_back(i);
        }
        std::vector<ExactResult> results = findEveryOccurrence(q, patterns);
        for (size_t k = 0; k < inputs.size(); k++) rowsOf(inputs[k], &results[2 * k]);
    }
};

}  // namespace

std::vector<RedundantRow> findRedundant(QueryRun& q, bool all) {
    Finder f{q, all, {}, readWholeTexts(q.texts, q.catalogue.lengths)};
    q.texts.resident = &f.texts;
    const int n = q.catalogue.inputs;
    for (int first = 0; first < n;) {
        int end = first;
        int64_t bases = 0;
        while (end < n && (end == first || (bases + f.length(end) <= kBatchBases && (size_t)(end - first) < kBatchInputs)))
            bases += f.length(end++);
        f.batch(first, end);
        first = end;
    }
    q.texts.resident = nullptr;
    return std::move(f.rows);
}
