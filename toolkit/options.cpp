// The table-driven command-line scan: one pass over argv, each option looked up in
// the program's table. Time O(arguments x rows); no extra memory.
#include "toolkit/options.h"

#include <cassert>

#include "toolkit/run.h"

namespace {

const OptionRow* findRow(const CommandLine& line, char letter) {
    for (size_t r = 0; r < line.rowCount; r++)
        if (line.rows[r].letter == letter) return &line.rows[r];
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
    for (size_t r = 0; r < line.rowCount; r++) assert(findRow(line, line.rows[r].letter) == &line.rows[r]);
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
            const OptionRow* row = findRow(line, arg[1]);
            if (!row) fatal(m.unrecognized, arg);
            switch (row->kind) {
                case OptionKind::Help: printUsage(argv[0], line.usage, line.usageCount); break;
                case OptionKind::Flag: *row->number = 1; break;
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
