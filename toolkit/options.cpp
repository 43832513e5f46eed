// The table-driven command-line scan: one pass over argv, each option looked up in
// the program's table. Time O(arguments x rows); no extra memory.
#include "toolkit/options.h"

#include <cassert>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "toolkit/run.h"

namespace {

const OptionRow* findRow(const CommandLine& line, const char* arg) {
    for (size_t r = 0; r < line.rowCount; r++) {
        const OptionRow& row = line.rows[r];
        if (arg[1] == '-' && row.name && strcmp(arg + 2, row.name) == 0) return &row;
        if (row.letter != 0 && row.letter == arg[1]) return &row;
    }
    return nullptr;
}

// A value option never got its value: an optional number takes its fallback.
bool settleOptional(const OptionRow* pending) {
    if (pending->kind != OptionKind::OptionalNumber) return false;
    *pending->number = pending->fallback;
    return true;
}

}  // namespace

ScanResult scanCommandLine(int argc, char** argv, const CommandLine& line) {
#ifndef NDEBUG
    // A second row with the same letter would never be reached.
    for (size_t r = 0; r < line.rowCount; r++) {
        const char letter[3] = {'-', line.rows[r].letter, 0};
        assert(line.rows[r].letter == 0 || findRow(line, letter) == &line.rows[r]);
    }
#endif
    const OptionMessages& m = line.messages;
    ScanResult result;
    const OptionRow* pending = nullptr;  // the value option still waiting for its value
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        bool option = arg[0] == '-' && !(line.dashIsArgument && arg[1] == 0);
        if (option) {
            if (pending && !settleOptional(pending)) fatal(m.pendingAtOption, arg);
            pending = nullptr;
            const OptionRow* row = findRow(line, arg);
            if (!row) fatal(m.unrecognized, arg);
            switch (row->kind) {
                case OptionKind::Help: printUsage(argv[0], line.usage, line.usageCount); break;
                case OptionKind::Flag: *row->number = 1; break;
                case OptionKind::Refused: fatal("option '%s' is refused: %s", arg, row->reason);
                default: pending = row; break;
            }
            if (row->then) row->then();
        } else if (pending) {
            if (pending->kind == OptionKind::Text)
                *pending->text = arg;
            else
                *pending->number = parseNumber(arg);
            pending = nullptr;
        } else if (result.mains < line.mainCount) {
            *line.mains[result.mains++] = arg;
        } else if (line.filesFollowMains) {
            result.firstFile = i;
            return result;
        } else {
            fatal(m.extraMain, arg);
        }
    }
    if (pending && !settleOptional(pending) && m.pendingAtEnd) fatal("%s", m.pendingAtEnd);
    return result;
}

long long scanDigitRun(const char*& at) {
    long long value = 0;
    for (; *at >= '0' && *at <= '9'; at++) {
        if (value < 0) continue;
        value = value * 10 + (*at - '0');
        if (value > INT_MAX) value = -1;
    }
    return value;
}

bool parseShare(const char* text, long long& index, long long& count) {
    char* slash = nullptr;
    char* end = nullptr;
    if (text[0] < '0' || text[0] > '9') return false;
    index = strtoll(text, &slash, 10);
    if (slash[0] != '/' || slash[1] < '0' || slash[1] > '9') return false;
    count = strtoll(slash + 1, &end, 10);
    return *end == 0 && index >= 1 && index <= count && count <= 1000000;
}
