// What the programs print, taken apart for the tests: lines and fields, report lines
// with the figures that change from run to run masked, and the "#tab:" tables.
#pragma once

#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// The lines of a text, without their '\n' (a last line without one counts too).
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The fields of a line between `separator`s.
inline std::vector<std::string> fields(const std::string& line, char separator = '\t') {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, separator);) out.push_back(f);
    return out;
}

// A program's report lines as runs with other thread counts can compare them: every
// line that contains one of `dropped` goes and, with `figures`, times, memory and page
// faults read "#" and the echo of a thread count goes.
inline std::string maskReport(const std::string& text, const std::vector<std::string>& dropped,
                              bool figures = true) {
    static const std::regex kFigures("[0-9]+ ms|[0-9]+ \\+|mem [0-9]+|[0-9]+ PFs|r/w [0-9]+/[0-9]+");
    static const std::regex kThreads("threads=[0-9]+ ?");
    std::string kept;
    for (const std::string& line : lines(text)) {
        bool drop = false;
        for (const std::string& d : dropped) drop = drop || line.find(d) != std::string::npos;
        if (drop) continue;
        kept += (figures ? std::regex_replace(std::regex_replace(line, kThreads, ""), kFigures, "#") : line) + "\n";
    }
    return kept;
}

// One "#tab:" table: its title line, its "#cols:" line ("" when it has none) and every
// other line up to the next title.
struct Table {
    std::string title, columns;
    std::vector<std::string> rows;
};

// The tables of a text; lines before the first title belong to none.
inline std::vector<Table> parseTables(const std::string& text) {
    std::vector<Table> tables;
    for (const std::string& line : lines(text)) {
        if (line.rfind("#tab:", 0) == 0)
            tables.push_back(Table{line, "", {}});
        else if (tables.empty())
            continue;
        else if (line.rfind("#cols:", 0) == 0 && tables.back().columns.empty() && tables.back().rows.empty())
            tables.back().columns = line;
        else
            tables.back().rows.push_back(line);
    }
    return tables;
}

}  // namespace testsupport
