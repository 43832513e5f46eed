// Fuzz target: dnaprep on arbitrary FASTA text with options drawn from the input.
// Each input is prepared twice, with the default buffers and with small DNA and
// input buffers (-d, -m); the buffers must change memory use only, so both runs must
// give the same status, table and data-set files. Neither run may crash, hang, draw
// a sanitizer report, or fail without a "## ERROR: " line.
//
// Input: six option bytes, then the FASTA text; a 0 byte in the text starts a
// second FASTA file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "child_run.h"
#include "scratch_dir.h"

namespace {

struct FastaCase {
    std::vector<std::string> options;  // shared by both runs
    std::string smallBuffers[2];       // -d and -m values of the second run
    std::vector<std::string> files;    // FASTA texts
};

FastaCase decode(const uint8_t* data, size_t size) {
    FastaCase c;
    uint8_t b[6] = {};
    for (size_t i = 0; i < 6 && i < size; i++) b[i] = data[i];
    std::string text = size > 6 ? std::string((const char*)data + 6, size - 6) : std::string();

    auto add = [&](const char* option, int value) {
        c.options.push_back(option);
        c.options.push_back(std::to_string(value));
    };
    if (b[0] & 1) c.options.push_back("-t");
    if (b[0] & 2) c.options.push_back("-u");
    if (b[0] & 4) add("-s", b[4] % 3);
    if (b[0] & 8) add("-n", b[4] / 3 % 4);
    if (b[0] & 16) c.options.push_back("-g");
    add("-C", b[1] % 40);
    if (b[0] & 32) add("-k", 3 + b[2] % 64);
    if (b[3] % 2) add("-T", b[3] / 2 % 12);
    c.smallBuffers[0] = std::to_string(16 * (1 + b[5] % 8));
    c.smallBuffers[1] = std::to_string(1 + b[5] / 8 % 32);

    size_t split = text.find('\0');
    c.files.push_back(text.substr(0, split));
    if (split != std::string::npos) c.files.push_back(text.substr(split + 1));
    return c;
}

struct Prepared {
    std::vector<std::string> args;
    ChildOutcome outcome;
    std::map<std::string, std::string> files;
};

Prepared prepare(const std::string& work, const FastaCase& c, const char* outDir, bool small) {
    Prepared p;
    std::string out = work + outDir + "/";
    fuzzfs::create_directories(out);
    p.args = {"dnaprep", work, out, "f", "-q"};
    p.args.insert(p.args.end(), c.options.begin(), c.options.end());
    if (small) p.args.insert(p.args.end(), {"-d", c.smallBuffers[0], "-m", c.smallBuffers[1]});
    for (size_t i = 0; i < c.files.size(); i++) p.args.push_back("in" + std::to_string(i) + ".fa");
    p.outcome = runProgram(dnaprepMain, p.args);
    std::string fault = faultOf(p.outcome);
    if (!fault.empty()) reportFault(fault, p.args, p.outcome);
    p.files = filesBelow(out);
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string work = scratchDir("fuzz-fasta");
    emptyDir(work);
    FastaCase c = decode(data, size);
    for (size_t i = 0; i < c.files.size(); i++) writeWhole(work + "in" + std::to_string(i) + ".fa", c.files[i]);

    Prepared plain = prepare(work, c, "plain", false);
    Prepared small = prepare(work, c, "small", true);
    const char* differs = plain.outcome.status != small.outcome.status ? "exit status"
                          : plain.outcome.out != small.outcome.out     ? "summary table"
                          : plain.files != small.files                 ? "data-set files"
                                                                       : nullptr;
    if (differs) {
        fprintf(stderr, "\n==== default buffers: status %d, table:\n%s", plain.outcome.status, plain.outcome.out.c_str());
        for (const auto& [name, bytes] : plain.files) fprintf(stderr, "  %s: %zu bytes\n", name.c_str(), bytes.size());
        reportFault(std::string("the ") + differs + " depends on the buffer sizes", small.args, small.outcome);
    }
    return 0;
}
