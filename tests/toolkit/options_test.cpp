// The option scanner: rows of each kind, mains between options, file lists, and the
// errors in each program's own words.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "toolkit/options.h"

namespace {

// A small table with one row of each kind, scanned over `words` (argv[0] added).
struct ScannerCase {
    int flag = 0, number = 0, optional = 0, hooked = 0;
    const char* text = nullptr;
    const char* first = nullptr;
    const char* second = nullptr;
    std::vector<std::unique_ptr<std::vector<std::string>>> kept;  // argv outlives the values it gave
    ScanResult scan(std::vector<std::string> given, bool files = false) {
        static int hookCalls;
        hookCalls = 0;
        const OptionRow rows[] = {flagRow('f', &flag, [] { ++hookCalls; }), numberRow('n', &number),
                                  optionalNumberRow('0', &optional, 7), textRow('t', &text), helpRow('h')};
        const char* const usage[] = {"%s <a> <b>\n"};
        CommandLine line;
        line.rows = rows;
        line.rowCount = 5;
        line.usage = usage;
        line.usageCount = 1;
        line.mains[0] = &first;
        line.mains[1] = &second;
        line.mainCount = 2;
        line.dashIsArgument = files;
        line.filesFollowMains = files;
        line.messages = {"pending at '%s'\n", files ? nullptr : "pending at end\n", "unknown '%s'\n", "extra '%s'\n"};
        kept.push_back(std::make_unique<std::vector<std::string>>(std::move(given)));
        std::vector<std::string>& words = *kept.back();
        words.insert(words.begin(), "prog");
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        ScanResult result = scanCommandLine((int)argv.size(), argv.data(), line);
        hooked = hookCalls;
        return result;
    }
};

TEST(OptionScanner, RowsValuesMainsAndFileLists) {
    ScannerCase a;
    // Values are taken whatever they look like, options may stand between the mains,
    // and only the option's first letter counts.
    EXPECT_EQ(a.scan({"-t", "x", "A", "-flag", "-n", "2^4", "B", "-0"}).mains, 2);
    EXPECT_STREQ(a.text, "x");
    EXPECT_STREQ(a.first, "A");
    EXPECT_STREQ(a.second, "B");
    EXPECT_EQ(a.flag, 1);
    EXPECT_EQ(a.hooked, 1);
    EXPECT_EQ(a.number, 16);
    EXPECT_EQ(a.optional, 7);  // no value before the end
    ScannerCase b;
    b.scan({"-0", "-f", "A"});
    EXPECT_EQ(b.optional, 7);  // no value before the next option
    EXPECT_STREQ(b.first, "A");
    b.scan({"-0", "3"});
    EXPECT_EQ(b.optional, 3);
    // With a file list, "-" is an argument and everything after the mains is a file.
    ScannerCase c;
    ScanResult files = c.scan({"-n", "-", "A", "B", "-", "-f"}, true);
    EXPECT_EQ(c.number, 0);
    EXPECT_EQ(files.firstFile, 5);
    EXPECT_EQ(c.flag, 0);
    EXPECT_EQ(c.scan({"A", "-n"}, true).firstFile, 0);  // no end check without its message
}

TEST(OptionScanner, ErrorsInTheProgramsWords) {
    ScannerCase s;
    EXPECT_EXIT(s.scan({"-n", "-f"}), testing::ExitedWithCode(1), "## ERROR: pending at '-f'");
    EXPECT_EXIT(s.scan({"A", "-t"}), testing::ExitedWithCode(1), "## ERROR: pending at end");
    EXPECT_EXIT(s.scan({"-z"}), testing::ExitedWithCode(1), "## ERROR: unknown '-z'");
    EXPECT_EXIT(s.scan({"-"}), testing::ExitedWithCode(1), "## ERROR: unknown '-'");
    EXPECT_EXIT(s.scan({"A", "B", "C"}), testing::ExitedWithCode(1), "## ERROR: extra 'C'");
    EXPECT_EXIT((s.scan({"-h", "A", "B"}), exit(3)), testing::ExitedWithCode(3), "# prog <a> <b>");
}

}  // namespace
