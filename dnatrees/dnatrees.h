// dnatrees: the command users run. Each subcommand translates its options into runs
// of the four stage programs (found beside the running binary) and reads the data
// set's catalogues for what it reports; it never reimplements a stage.
//
// Writing a subcommand (dnatrees/<name>.cpp):
//   1. Describe its options as a table of OptionSpec rows (long name, short letter or
//      0, value name or null for a flag, help text). --help and --version come free.
//   2. Write `int run<Name>(int argc, char** argv)`: call parseOptions() with a
//      Subcommand describing it and a callback that stores each option in the
//      subcommand's settings struct (a bad value: usageError(), status 2); read its
//      positional arguments from the returned list.
//   3. Open the data set with openDataSet() (it applies the --unverified rule and
//      names the command that rebuilds an older data set), run stages through
//      runStage(), print rows through RowWriter.
//   4. Add one row to kSubcommands in dnatrees/main.cpp and declare run<Name> below.
// Usage errors exit 2 (usageError), failures 1 (fatal: "## ERROR: ..." with what to
// do next), success 0.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/checksum.h"
#include "toolkit/names_map.h"

// ---- The subcommands (one row each in main.cpp's table) ----
int runIndex(int argc, char** argv);
int runSearch(int argc, char** argv);
int runInfo(int argc, char** argv);
int runVerify(int argc, char** argv);
int runRedundant(int argc, char** argv);
int runRepeats(int argc, char** argv);

// ---- Command lines ----

// One option of a subcommand. Short-only options have longName null; long-only
// options have shortName 0 and are told apart by `key` (any value above 255).
struct OptionSpec {
    const char* longName;
    int key;              // the short letter, or a value above 255 for a long-only option
    const char* valueName;  // null: a flag; else the option takes a value, named so in --help
    const char* help;
};

// How a subcommand presents itself in --help (help2man reads the same text).
struct Subcommand {
    const char* name;      // "search"
    const char* usage;     // "DIR (-p PATTERN... | -f FILE) [OPTION]..."
    const char* summary;   // one line: what it does
    const char* details;   // paragraphs after the options, or null
};

// Scans argv (argv[0] is the subcommand's name) with GNU long options and their short
// aliases, permuted as getopt_long does; "-" and everything after "--" are positional.
// Calls onOption(key, value) per option (value null for flags). --help prints the
// help on standard output and exits 0, --version the version; an unknown option or a
// missing value is a usage error (status 2). Returns the positional arguments.
std::vector<std::string> parseOptions(int argc, char** argv, const Subcommand& cmd,
                                      const std::vector<OptionSpec>& specs,
                                      const std::function<void(int key, const char* value)>& onOption);

// "dnatrees <sub>: <message>" and "Try 'dnatrees <sub> --help'" on stderr, exit 2.
[[noreturn]] void usageError(const char* subcommand, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// A whole decimal number in [low, high], or a usage error naming the option.
long long numberValue(const char* subcommand, const char* option, const char* value, long long low,
                      long long high);

// "dnatrees <version>", the version of CMake's project().
const char* dnatreesVersion();

// Informational lines of dnatrees itself ("dnatrees index: ..."), unless quiet.
extern bool gQuiet;

// ---- Data sets ----

// A data set directory DIR holds the stages' files in DIR/index.ST/ (stage dir "DIR/",
// prefix "index"). A stage data set given directly (X/name.ST) is read as it is.
constexpr const char kDataSetPrefix[] = "index";

struct DataSet {
    std::string dir;        // as the user gave it, for messages
    std::string stageDir;   // "<parent>/" as the stages take it (ends in "/")
    std::string prefix;     // the stages' prefix
    std::string base;       // "<stageDir><prefix>.ST/<prefix>": every file is base + suffix
    std::vector<SequenceName> names;   // the names catalogue
    std::vector<InputMap> maps;        // the coordinate map
    bool hasSums = false;   // both checksum files (.stinsum, .streesum) present
    std::vector<std::string> missingSums;  // the ones missing
};

// What a subcommand needs of a data set.
enum DataSetNeeds { kNeedTrees = 1, kNeedNames = 2 };

// Locates DIR's files (with or without a trailing "/", relative or absolute) and checks
// that they are there: no data set, an unfinished build, an older data set without
// names or map (kNeedNames) each stop with a message that names the command that
// rebuilds it; missing checksum files stop unless `unverified`.
DataSet openDataSet(const std::string& dir, int needs, bool unverified);

// The data set's files, in path order (name and bytes).
struct DataSetFile {
    std::string name;
    int64_t bytes;
};
std::vector<DataSetFile> listDataSetFiles(const DataSet& ds);
// Number of trees (.stree files) of the data set.
int treeCount(const DataSet& ds);

// The names catalogue at `base` (".stnames" added), verified against the .stinsum
// beside it when there is one.
std::vector<SequenceName> readNames(const std::string& base);

// A directory path without trailing slashes ("/" stays "/"); "" when empty.
std::string trimSlashes(const std::string& path);

// ---- Stage programs ----

// The folder of the running dnatrees binary, where the stages are installed.
const std::string& programDir();
// Runs programDir()/<args[0]> with args; its stdin from stdinFd (-1: inherited) and
// stdout to stdoutFd (-1: inherited, -2: /dev/null). Its standard error is kept and
// passed on without the stages' command echo and version lines, which say nothing to
// a dnatrees user, and without their unverified line (openDataSet says it once). Returns the exit status (128+n for a signal). A stage that cannot
// be started is a fatal error.
int runStage(const std::vector<std::string>& args, int stdinFd = -1, int stdoutFd = -1);
// A started stage: its process and its kept standard error.
struct Stage {
    int pid = -1;
    FILE* messages = nullptr;
};
// Starts the stage without waiting. Same descriptors as runStage.
Stage startStage(const std::vector<std::string>& args, int stdinFd, int stdoutFd);
// A pipe whose ends the stages do not inherit (but for the one given to a stage).
void makePipe(int fds[2]);
// Waits for a started stage and passes its messages on; its exit status as runStage gives it.
int waitStage(Stage& stage);

// ---- Output ----

enum RowFormat { kTsv, kBed };

// Rows to standard output or to -o FILE; a write that fails is a fatal error when the
// writer is closed, so a full disk never passes as success.
struct RowWriter {
    FILE* out = stdout;
    std::string path;  // "" for standard output
};
void openRows(RowWriter& w, const char* path);
void closeRows(RowWriter& w);
// The text of a TSV field: tabs, line breaks and backslashes written \t, \n, \r, \\.
inline std::string tsvField(const std::string& s) { return escapeField(s); }
