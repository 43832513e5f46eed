// Verify mode (-V): checks a whole data set, file by file, against its checksum files
// (.stinsum and .strunsum at the input base, .streesum at the tree base) and against
// its catalogues (lengths against the texts and packed inputs, partitions against the
// runs, dividers against the trees), and prints one line per file: intact, damaged
// (and why), missing, or not covered by any checksum file.
// Time: one read of every covered file; extra memory: one block and the catalogues.
#include <dirent.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "toolkit/catalogue.h"
#include "toolkit/checksum.h"
#include "toolkit/data_set.h"
#include "toolkit/dividers.h"
#include "toolkit/file_io.h"
#include "toolkit/records.h"
#include "toolkit/run.h"
#include "treequery/treequery.h"

namespace {

// The verdicts, mildest first: a file keeps the worst one found.
enum class Verdict { intact, notCovered, missing, damaged };

struct FileReport {
    Verdict verdict = Verdict::intact;
    std::string why;
};

struct Verification {
    std::map<std::string, FileReport> files;  // by path: the lines, in path order
    std::set<std::string> covered;            // listed by a checksum file that is whole
};

void judge(Verification& v, const std::string& path, Verdict verdict, const std::string& why = "") {
    FileReport& r = v.files[path];
    if (verdict > r.verdict || (verdict == r.verdict && r.why.empty())) {
        r.verdict = verdict;
        r.why = why;
    }
}

std::string folderOf(const std::string& base) { return base.substr(0, base.rfind('/') + 1); }

// Checks every file one checksum file lists, and the checksum file itself.
void checkSums(Verification& v, const std::string& sumPath) {
    ChecksumFile sums;
    std::string problem = sums.read(sumPath);
    if (problem == "missing") return;  // its files show up as not covered
    if (!problem.empty()) {
        judge(v, sumPath, Verdict::damaged, problem);
        return;
    }
    judge(v, sumPath, Verdict::intact);
    for (const ChecksumFile::Item& item : sums.items) {
        std::string path = sums.pathOf(item);
        v.covered.insert(path);
        std::string fault = firstFault(sums, item, path);
        if (fault.empty()) judge(v, path, Verdict::intact);
        else if (fault == "missing") judge(v, path, Verdict::missing);
        else judge(v, path, Verdict::damaged, fault);
    }
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Files of the data set in `folder` (names "<prefix>.<kind>" or "<prefix>_<n>.<kind>",
// and temporaries of them) that no whole checksum file lists.
// A file that stays after the runs are removed (keptAfterRuns) counts as intact when
// the runs and their checksum file are gone and the trees' checksum file is there.
void findUncovered(Verification& v, const std::string& folder, const std::vector<std::string>& prefixes,
                   const std::string& base, const std::string& treeBase) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name, kindName = name;
        const bool temporary = endsWith(name, ".tmp");
        if (temporary) kindName.resize(name.size() - 4);
        bool ours = false;
        const FileKindRow* kept = nullptr;
        for (const std::string& prefix : prefixes) {
            if (kindName.compare(0, prefix.size(), prefix) != 0 || kindName.size() == prefix.size()) continue;
            char next = kindName[prefix.size()];
            if (next != '.' && next != '_') continue;
            // Every kind a checksum file covers (the checksum files are judged as such).
            for (const FileKindRow& kind : kFileKinds) {
                if (isChecksumFile(kind.kind) || !endsWith(kindName, kind.extension)) continue;
                ours = true;
                if (kind.keptAfterRuns) kept = &kind;
            }
        }
        std::string path = folder + name;
        if (!ours || v.covered.count(path)) continue;
        if (!temporary && kept && fileSizeByStat(dataSetPath(base, kept->coveredBy).c_str()) < 0 &&
            fileSizeByStat(dataSetPath(base, FileKind::runs, 0).c_str()) < 0 &&
            fileSizeByStat(dataSetPath(treeBase, FileKind::treeSums).c_str()) >= 0) {
            judge(v, path, Verdict::intact, kept->keptAfterRuns);
            continue;
        }
        judge(v, path, Verdict::notCovered, temporary ? "left by a write that did not finish" : "");
    }
    closedir(dir);
}

// A catalogue of int32 entries, empty when it cannot be read whole.
std::vector<int32_t> readEntries(const std::string& path, bool& present) {
    int64_t count = catalogueEntries(path);
    present = count >= 0;
    std::vector<int32_t> entries(count > 0 ? (size_t)count : 0);
    if (readCatalogueEntries(path, entries.data(), count) != count) entries.clear();
    return entries;
}

// A file whose size the catalogues fix: missing or of another size is a fault.
void expectSize(Verification& v, const std::string& path, int64_t bytes, const char* source) {
    int64_t size = fileSizeByStat(path.c_str());
    if (size < 0) judge(v, path, Verdict::missing);
    else if (size != bytes)
        judge(v, path, Verdict::damaged,
              "holds " + std::to_string(size) + " bytes, " + source + " says " + std::to_string(bytes));
}

// The inputs against the lengths catalogues, the runs against the partitions.
void checkInputCatalogues(Verification& v, const std::string& base) {
    bool hasLengths = false, hasBits = false, hasParts = false;
    InputCatalogues c;
    c.lengthsPath = dataSetPath(base, FileKind::lengths);
    c.bitLengthsPath = dataSetPath(base, FileKind::bitLengths);
    std::vector<int32_t> lengths = readEntries(c.lengthsPath, hasLengths);
    std::vector<int32_t> bits = readEntries(c.bitLengthsPath, hasBits);
    if (!hasLengths) return;
    if (!hasBits) judge(v, c.bitLengthsPath, Verdict::missing);
    else if (bits.size() != lengths.size() || fileSizeByStat(c.bitLengthsPath.c_str()) % 4 != 0)
        judge(v, c.bitLengthsPath, Verdict::damaged, "its entries do not match the lengths catalogue's");
    for (size_t i = 0; i < lengths.size(); i++) {
        if (i < bits.size()) {
            std::string problem = inputEntryProblem(c, (int)i, lengths[i], bits[i]);
            if (!problem.empty()) {
                judge(v, c.lengthsPath, Verdict::damaged, problem);
                continue;
            }
        } else if (lengths[i] < 0) {
            judge(v, c.lengthsPath, Verdict::damaged, inputEntryProblem(c, (int)i, lengths[i], 2 * lengths[i]));
            continue;
        }
        expectSize(v, dataSetPath(base, FileKind::texts, (int)i), lengths[i], "the lengths catalogue");
        expectSize(v, dataSetPath(base, FileKind::packed, (int)i), 4 * (((int64_t)lengths[i] + 15) / 16),
                   "the lengths catalogue");
    }
    const std::string partsPath = dataSetPath(base, FileKind::partitions);
    std::vector<int32_t> parts = readEntries(partsPath, hasParts);
    if (!hasParts) return;
    std::string problem = partitionsProblem(partsPath, parts.data(), (int64_t)parts.size(), (int64_t)lengths.size());
    if (!problem.empty()) {
        judge(v, partsPath, Verdict::damaged, problem);
        return;
    }
    size_t first = 0;
    for (size_t r = 0; r < parts.size(); r++) {
        int64_t suffixes = 0;
        for (int k = 0; k < parts[r]; k++) suffixes += lengths[first + (size_t)k];
        first += (size_t)parts[r];
        std::string psa = dataSetPath(base, FileKind::runs, (int)r), lcp = dataSetPath(base, FileKind::runLcp, (int)r);
        if (fileSizeByStat(psa.c_str()) >= 0) expectSize(v, psa, 16 * suffixes, "the partitions catalogue");
        if (fileSizeByStat(lcp.c_str()) >= 0) expectSize(v, lcp, 4 * suffixes, "the partitions catalogue");
    }
}

// Every tree against its divider.
void checkDividers(Verification& v, const std::string& treeBase) {
    const std::string path = dataSetPath(treeBase, FileKind::dividers);
    if (fileSizeByStat(path.c_str()) < 0) return;
    std::vector<TreeDivider> dividers;
    WorkerStatus fault;
    if (!readDividerFile(path, dividers, nullptr, &fault)) {
        std::string why = fault.message.substr(fault.message.rfind("## ERROR: ", 0) == 0 ? 10 : 0);
        if (!why.empty() && why.back() == '\n') why.pop_back();
        judge(v, path, Verdict::damaged, why);
        return;
    }
    std::string problem = dividersProblem(path, dividers.data(), (int)dividers.size(), -1);
    if (!problem.empty()) {
        judge(v, path, Verdict::damaged, problem);
        return;
    }
    for (size_t t = 0; t < dividers.size(); t++)
        expectSize(v, dataSetPath(treeBase, FileKind::trees, (int)t), 12 * (int64_t)dividers[t].nodes, "its divider");
}

const char* verdictWord(Verdict verdict) {
    switch (verdict) {
        case Verdict::intact: return "intact";
        case Verdict::notCovered: return "not covered";
        case Verdict::missing: return "missing";
        case Verdict::damaged: return "damaged";
    }
    return "";
}

}  // namespace

int verifyDataSet(const QuerySettings& s, QueryRun& q) {
    const std::string& inputBase = q.texts.inputBase;
    const std::string& treeBase = q.texts.treeBase;
    Verification v;
    checkSums(v, dataSetPath(inputBase, FileKind::inputSums));
    checkSums(v, dataSetPath(inputBase, FileKind::runSums));
    checkSums(v, dataSetPath(treeBase, FileKind::treeSums));
    checkInputCatalogues(v, inputBase);
    checkDividers(v, treeBase);
    std::vector<std::string> prefixes = {s.inputPrefix, s.treePrefix};
    findUncovered(v, folderOf(inputBase), prefixes, inputBase, treeBase);
    if (folderOf(treeBase) != folderOf(inputBase)) findUncovered(v, folderOf(treeBase), prefixes, inputBase, treeBase);

    int counts[4] = {};
    for (const auto& [path, report] : v.files) {
        counts[(int)report.verdict]++;
        fprintf(q.out, "%s: %s", path.c_str(), verdictWord(report.verdict));
        if (!report.why.empty()) fprintf(q.out, " (%s)", report.why.c_str());
        fputc('\n', q.out);
    }
    if (!gRun.quiet)
        note("verify: %zu files, %d intact, %d damaged, %d missing, %d not covered\n", v.files.size(),
             counts[(int)Verdict::intact], counts[(int)Verdict::damaged], counts[(int)Verdict::missing],
             counts[(int)Verdict::notCovered]);
    if (v.files.empty()) note("verify: no file of the data set found\n");
    return !v.files.empty() && counts[(int)Verdict::intact] == (int)v.files.size() ? 0 : 1;
}
