// Command lines of the subcommands: GNU long options with short aliases through
// getopt_long, the --help text built from the same option table (help2man makes the
// man pages from it), --version, and usage errors with status 2.
#include <getopt.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "dnatrees/dnatrees.h"
#include "toolkit/run.h"

#ifndef DNATREES_VERSION
#define DNATREES_VERSION "unknown"
#endif

bool gQuiet = false;

const char* dnatreesVersion() { return "dnatrees " DNATREES_VERSION; }

namespace {

constexpr int kHelpKey = 1000, kVersionKey = 1001;

void printHelp(const Subcommand& cmd, const std::vector<OptionSpec>& specs) {
    printf("Usage: dnatrees %s %s\n%s\n\nOptions:\n", cmd.name, cmd.usage, cmd.summary);
    for (const OptionSpec& o : specs) {
        std::string left = o.key < 256 ? std::string("  -") + static_cast<char>(o.key) : std::string("    ");
        if (o.longName) left += std::string(o.key < 256 ? ", --" : "  --") + o.longName;
        if (o.valueName) left += std::string(o.longName ? "=" : " ") + o.valueName;
        if (left.size() < 28) left.resize(28, ' ');
        else left += "\n" + std::string(28, ' ');
        printf("%s%s\n", left.c_str(), o.help);
    }
    printf("  -h, --help                display this help and exit\n");
    printf("      --version             output version information and exit\n");
    if (cmd.details) printf("\n%s", cmd.details);
    printf("\nReport bugs to the dnatrees maintainers.\n");
}

}  // namespace

void usageError(const char* subcommand, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = formatText(fmt, args);
    va_end(args);
    fprintf(stderr, "dnatrees %s: %s\nTry 'dnatrees %s --help' for more information.\n", subcommand, text.c_str(),
            subcommand);
    exit(2);
}

long long numberValue(const char* subcommand, const char* option, const char* value, long long low,
                      long long high) {
    errno = 0;
    char* end = nullptr;
    long long n = strtoll(value, &end, 10);
    if (errno || end == value || *end || n < low || n > high)
        usageError(subcommand, "%s needs a whole number from %lld to %lld, not '%s'", option, low, high, value);
    return n;
}

std::vector<std::string> parseOptions(int argc, char** argv, const Subcommand& cmd,
                                      const std::vector<OptionSpec>& specs,
                                      const std::function<void(int key, const char* value)>& onOption) {
    std::string shorts = ":h";  // leading ':': a missing value is told apart from an unknown option
    std::vector<option> longs;
    for (const OptionSpec& o : specs) {
        if (o.key < 256) shorts += std::string(1, static_cast<char>(o.key)) + (o.valueName ? ":" : "");
        if (o.longName) longs.push_back({o.longName, o.valueName ? required_argument : no_argument, nullptr, o.key});
    }
    longs.push_back({"help", no_argument, nullptr, kHelpKey});
    longs.push_back({"version", no_argument, nullptr, kVersionKey});
    longs.push_back({nullptr, 0, nullptr, 0});

    optind = 1;
    opterr = 0;
    int key;
    while ((key = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr)) != -1) {
        if (key == 'h' || key == kHelpKey) {
            printHelp(cmd, specs);
            exit(0);
        }
        if (key == kVersionKey) {
            printf("%s\n", dnatreesVersion());
            exit(0);
        }
        const char* where = argv[optind - 1];
        if (key == '?') {
            if (optopt && optopt < 256) usageError(cmd.name, "unknown option -%c", optopt);
            usageError(cmd.name, "unknown option %s", where);
        }
        if (key == ':') usageError(cmd.name, "option %s needs a value", where);
        onOption(key, optarg);
    }
    return std::vector<std::string>(argv + optind, argv + argc);
}
