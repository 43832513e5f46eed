// Fuzz target: treequery on a data set whose dividers, tree files, names catalogue or
// coordinate map were damaged. A small data set with its checksum files (and, with
// -N, its names and map) is built once through the whole pipeline; each input names
// one query (exact search read or mapped, Hamming search read or mapped, traversal,
// each also as -F rows in FASTA terms) and a list of damage steps. The query must never crash, hang,
// draw a sanitizer report or fail without a "## ERROR: " line, and it must give the
// undamaged answer or stop with a "## ERROR: " line: the checksums tell any damage,
// even damage that stays within valid ranges, from good data, so any other answer is
// a silent wrong one.
//
// Input: one byte choosing the query, then steps of five bytes
//   file (dividers, names, map or tree k), operation, offset (two bytes,
//   little-endian), value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "child_run.h"
#include "scratch_dir.h"

#include "toolkit/records.h"

namespace {

// One file that an input may damage, as the pipeline wrote it.
struct Target {
    std::string path;
    std::string bytes;
    size_t recordSize;  // of the records that steps repeat, swap and copy
};

struct DataSet {
    std::string dir;              // holds ds.ST/
    std::vector<Target> targets;  // dividers, names catalogue, coordinate map, trees by number
    std::vector<std::vector<std::string>> queries;
    std::vector<ChildOutcome> answers;  // undamaged outcome of each query
};

void runOrStop(ProgramEntry entry, const std::vector<std::string>& args) {
    ChildOutcome o = runProgram(entry, args, 60000);
    if (o.status != 0) reportFault("building the undamaged data set failed", args, o);
}

// Inputs with repeats between and within them (so that the trees hold chains and
// the traversal finds shared strings), drawn from a fixed seed.
std::string fastaText(std::vector<std::string>& sequences) {
    std::mt19937 random(20240611);
    auto bases = [&](int n) {
        std::string s;
        for (int i = 0; i < n; i++) s += "acgt"[random() % 4];
        return s;
    };
    std::string first = bases(120);
    std::string second = bases(30) + first.substr(20, 40) + bases(20) + first.substr(20, 40);
    second[50] = second[50] == 'a' ? 'c' : 'a';  // one mismatch for the Hamming search
    sequences = {first, second, "acgtacgtacgtacgtacgtacgtacgt", first.substr(60, 30)};
    std::string text;
    for (size_t i = 0; i < sequences.size(); i++) text += ">s" + std::to_string(i) + "\n" + sequences[i] + "\n";
    return text;
}

DataSet buildDataSet() {
    DataSet d;
    d.dir = scratchDir("fuzz-trees");
    std::vector<std::string> seqs;
    writeWhole(d.dir + "in.fa", fastaText(seqs));
    runOrStop(dnaprepMain, {"dnaprep", d.dir, d.dir, "ds", "-q", "-Q", "-N", "in.fa"});
    runOrStop(runarrayMain, {"runarray", d.dir, "ds", "-q"});
    runOrStop(treebuildMain, {"treebuild", d.dir, "ds", "-q", "-n", "48"});
    if (!fuzzfs::exists(d.dir + "ds.ST/ds.streesum") || !fuzzfs::exists(d.dir + "ds.ST/ds.stinsum"))
        reportFault("the pipeline wrote no checksum files", {"treebuild"}, ChildOutcome{});
    auto target = [&](const std::string& name, size_t recordSize) {
        const std::string path = d.dir + "ds.ST/" + name;
        d.targets.push_back(Target{path, readWhole(path), recordSize});
    };
    target("ds.stdiv", sizeof(TreeDivider));
    target("ds.stnames", 1);
    target("ds.stmap", 1);
    for (size_t t = 0; t < d.targets[0].bytes.size() / sizeof(TreeDivider); t++)
        target("ds_" + std::to_string(t) + ".stree", sizeof(TreeNode));

    const std::string exact = seqs[0].substr(20, 12) + "," + seqs[1].substr(5, 6) + ",acgt,gat,tttttttttttttttt";
    const std::string hamming = seqs[0].substr(20, 10);
    std::vector<std::string> base = {"treequery", d.dir, "ds", "-q"};
    auto query = [&](std::vector<std::string> extra) {
        std::vector<std::string> q = base;
        q.insert(q.end(), extra.begin(), extra.end());
        d.queries.push_back(q);
    };
    query({"-p", exact});
    query({"-U", "-p", exact});
    query({"-p", hamming, "-H", "1"});
    query({"-U", "-p", hamming, "-H", "1"});
    query({"-t", "8", "-K", "-0"});
    query({"-U", "-t", "8", "-2"});
    query({"-p", exact, "-F", "tsv"});
    query({"-U", "-p", exact, "-B", "-F", "bed"});
    query({"-p", hamming, "-H", "1", "-F", "tsv"});
    query({"-t", "8", "-K", "-0", "-F", "tsv"});
    for (const auto& q : d.queries) {
        ChildOutcome o = runProgram(treequeryMain, q, 60000);
        if (o.status != 0) reportFault("the undamaged data set does not answer", q, o);
        d.answers.push_back(o);
    }
    return d;
}

void applyStep(std::string& file, bool& missing, size_t recordSize, const uint8_t* step) {
    const uint8_t op = step[1] % 8, value = step[4];
    const size_t offset = step[2] | (size_t)step[3] << 8;
    const size_t records = file.size() / recordSize;
    auto record = [&](size_t r) { return r % records * recordSize; };
    switch (op) {
        case 0:  // one byte set
            if (!file.empty()) file[offset % file.size()] = (char)value;
            break;
        case 1:  // one bit flipped
            if (!file.empty()) file[offset % file.size()] ^= (char)(1u << (value % 8));
            break;
        case 2:  // cut short
            file.resize(offset % (file.size() + 1));
            break;
        case 3:  // a record repeated at the end
            if (records) file += file.substr(record(offset), recordSize);
            break;
        case 4:  // two records swapped
            if (records) {
                std::string a = file.substr(record(offset), recordSize);
                file.replace(record(offset), recordSize, file.substr(record(value), recordSize));
                file.replace(record(value), recordSize, a);
            }
            break;
        case 5:  // a record copied over another
            if (records) file.replace(record(value), recordSize, file.substr(record(offset), recordSize));
            break;
        case 6: {  // a word set to a boundary value
            if (file.size() < 4) break;
            static const uint32_t kWords[] = {0, 1, 2, 0x7fffffff, 0x80000000, 0xffffffff, 0xfffffffe, 0x10000};
            size_t at = offset % (file.size() / 4) * 4;
            uint32_t word;
            memcpy(&word, &file[at], 4);
            word = value < 8 ? kWords[value] : value < 128 ? word + (value - 64) : word ^ (1u << (value % 32));
            memcpy(&file[at], &word, 4);
            break;
        }
        case 7:  // the file removed
            missing = true;
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const DataSet d = buildDataSet();
    if (size == 0) return 0;
    const size_t query = data[0] % d.queries.size();

    // The files as this input leaves them; "missing" ones are removed.
    std::vector<std::string> files;
    for (const Target& t : d.targets) files.push_back(t.bytes);
    std::vector<bool> missing(files.size(), false);
    for (size_t at = 1; at + 5 <= size; at += 5) {
        size_t f = data[at] % files.size();
        bool gone = missing[f];
        applyStep(files[f], gone, d.targets[f].recordSize, data + at);
        missing[f] = gone;
    }
    for (size_t f = 0; f < files.size(); f++) {
        if (missing[f])
            fuzzfs::remove(d.targets[f].path);
        else
            writeWhole(d.targets[f].path, files[f]);
    }

    const std::vector<std::string>& args = d.queries[query];
    ChildOutcome o = runProgram(treequeryMain, args);
    std::string fault = faultOf(o);
    if (fault.empty() && o.status == 0 && o.out != d.answers[query].out)
        fault = "damaged trees, dividers, names or map give a different answer with status 0";
    if (!fault.empty()) {
        fprintf(stderr, "\n==== undamaged answer:\n%s", d.answers[query].out.c_str());
        reportFault(fault, args, o);
    }
    return 0;
}
