// The command-line scanner shared by the four programs: each program describes its
// options as a table of rows (letter, kind, where the value goes) and its own
// messages; the scanner walks argv once against that table.
//
// Adding an option is adding one row to the program's table, e.g.
//     textRow('f', &s.namesFile),
//     numberRow('B', &s.blockSize),
//     flagRow('V', &s.verify),
// plus a usage line and, where the program echoes its settings, an echo word.
#pragma once

#include <cstddef>

enum class OptionKind {
    Flag,            // sets *number to 1
    Number,          // the next argument, read by parseNumber, goes to *number
    OptionalNumber,  // as Number, but when an option or the end comes first, *number = fallback
    Text,            // the next argument goes to *text as it is
    Help,            // prints the program's usage lines and goes on
    Refused,         // an option that would do nothing here: the scan stops with *reason
};

struct OptionRow {
    char letter = 0;
    OptionKind kind = OptionKind::Flag;
    int* number = nullptr;        // Flag, Number, OptionalNumber
    const char** text = nullptr;  // Text
    int fallback = 0;             // OptionalNumber
    void (*then)() = nullptr;     // a side effect of the program, run once the option is seen
    const char* name = nullptr;   // "--name" for the row too; letter 0 for a row with a name only
    const char* reason = nullptr; // Refused: why the option does nothing, ends in "\n"
};

// The row also answers to "--name": named(textRow(0, &s.shard), "shard").
inline OptionRow named(OptionRow row, const char* name) {
    row.name = name;
    return row;
}

inline OptionRow flagRow(char letter, int* target, void (*then)() = nullptr) {
    return {letter, OptionKind::Flag, target, nullptr, 0, then};
}
inline OptionRow numberRow(char letter, int* target) { return {letter, OptionKind::Number, target, nullptr, 0, nullptr}; }
inline OptionRow optionalNumberRow(char letter, int* target, int fallback) {
    return {letter, OptionKind::OptionalNumber, target, nullptr, fallback, nullptr};
}
inline OptionRow textRow(char letter, const char** target) { return {letter, OptionKind::Text, nullptr, target, 0, nullptr}; }
// An option that other builds accepted but that has no effect: refusing it tells
// the user so instead of letting them believe it acted.
inline OptionRow refusedRow(char letter, const char* reason) {
    return {letter, OptionKind::Refused, nullptr, nullptr, 0, nullptr, nullptr, reason};
}
inline OptionRow helpRow(char letter, void (*then)() = nullptr) {
    return {letter, OptionKind::Help, nullptr, nullptr, 0, then};
}

// Each program's own wording of the scan errors; every text ends in "\n" and goes
// to fatal(). A null text means the program does not make that check.
struct OptionMessages {
    const char* pendingAtOption = nullptr;  // a value option followed by an option; %s = that option
    const char* pendingAtEnd = nullptr;     // a value option last on the line
    const char* unrecognized = nullptr;     // %s = the argument
    const char* extraMain = nullptr;        // one main parameter too many; %s = the argument
};

struct CommandLine {
    const OptionRow* rows = nullptr;
    size_t rowCount = 0;
    const char* const* usage = nullptr;  // the usage lines (printUsage), for Help rows
    int usageCount = 0;
    const char** mains[3] = {};  // where the main parameters go, in order
    int mainCount = 0;
    // A lone "-" is an argument (standard input), not an option.
    bool dashIsArgument = false;
    // The first argument after the main parameters starts a file list that takes the
    // rest of the line; otherwise such an argument is an error (extraMain).
    bool filesFollowMains = false;
    OptionMessages messages;
};

struct ScanResult {
    int mains = 0;      // main parameters seen
    int firstFile = 0;  // argv index of the first file (filesFollowMains), or 0 when none
};

// Options are "-" plus a letter (the rest of the word is ignored), or "--" plus the
// whole name of a named row, and may stand
// anywhere; a value option takes the next argument whatever it looks like, unless
// that argument is itself an option. Unknown options and pending values stop the
// run through fatal() with the program's messages; a refused option stops it with
// "option '-c' is refused: " and the row's reason.
ScanResult scanCommandLine(int argc, char** argv, const CommandLine& line);

// A share of --shard: "i/n", 1 <= i <= n <= 1,000,000; false when the text is not one.
bool parseShare(const char* text, long long& index, long long& count);

// A command line of a program's option table and usage lines (counts from the arrays).
template <size_t Rows, size_t Lines>
CommandLine commandLine(const OptionRow (&rows)[Rows], const char* const (&usage)[Lines]) {
    CommandLine line;
    line.rows = rows;
    line.rowCount = Rows;
    line.usage = usage;
    line.usageCount = static_cast<int>(Lines);
    return line;
}

// The number spelt by the run of decimal digits at `at` (which starts with a digit),
// and `at` moved past the run: the one reader of the number lists in option values
// (pattern triples, sets). A run past INT_MAX gives -1, never a wrapped or clamped
// value, so that a list refuses it rather than using another number.
long long scanDigitRun(const char*& at);
