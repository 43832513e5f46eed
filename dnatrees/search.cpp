// dnatrees search DIR (-p PATTERN... | -f FILE): every occurrence of each pattern on
// both strands, exact or within K mismatches (Hamming), IUPAC codes matching any base
// of their set at no cost.
//
// The batches of patterns go through one treequery run (-f - -F tsv, -B unless --forward, -H K)
// with every degenerate code searched as N, treequery's no-cost wildcard: that finds
// a superset of the hits. Each row is then checked against the genome's bases (which
// the matched column prints anyway): the mismatches are counted again with the codes'
// sets, and rows above K are dropped. The bases come through treequery's text reader,
// so every block they lie in is verified against the data set's checksums (a damaged
// base would otherwise print as matched, or drop its row as a mismatch, with status 0).
// Time: the searches' plus O(length) a row.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <functional>
#include <unordered_map>

#include "dnatrees/dnatrees.h"
#include "dnatrees/patterns.h"
#include "toolkit/data_set.h"
#include "toolkit/options.h"
#include "toolkit/run.h"
#include "treequery/input_text.h"

namespace {

enum Access { kAuto, kRead, kMapped };

struct SearchSettings {
    std::vector<std::string> patterns;  // -p
    const char* file = nullptr;         // -f
    long long mismatches = 0;
    bool forward = false;
    RowFormat format = kTsv;
    const char* output = nullptr;
    long long threads = 0;  // 0: every core
    bool count = false;
    long long maxHits = 0;  // 0: every hit
    bool unverified = false;
    Access access = kAuto;
    const char* shard = nullptr;  // --shard I/N
};

enum { kForward = 256, kFormat, kCount, kMaxHits, kUnverified, kAccess, kShard };

const std::vector<OptionSpec> kOptions = {
    {"pattern", 'p', "PATTERN", "a pattern to search (repeat for more); named by itself"},
    {"file", 'f', "FILE", "patterns from FILE: FASTA, or one a line (named by line number); gzip or plain; - for stdin"},
    {"mismatches", 'm', "K", "report occurrences within K mismatches (Hamming distance; default 0)"},
    {"forward", kForward, nullptr, "search the patterns as given only (default: both strands)"},
    {"format", kFormat, "FORMAT", "tsv (default: a header, 1-based inclusive) or bed (BED6, 0-based half-open)"},
    {"output", 'o', "FILE", "write the rows to FILE instead of standard output"},
    {"threads", 'j', "N", "search on N threads (default: every core)"},
    {"count", kCount, nullptr, "one line per pattern with its number of occurrences (tsv)"},
    {"max-hits", kMaxHits, "N", "report at most the first N occurrences of each pattern"},
    {"unverified", kUnverified, nullptr, "accept a data set without checksum files"},
    {"access", kAccess, "MODE", "tree access: auto (default), read or mapped (for measurements)"},
    {"shard", kShard, "I/N", "search only the I-th (from 1) of N consecutive shares of the patterns"},
    {"quiet", 'q', nullptr, "print nothing but errors and warnings"},
};

const Subcommand kCommand = {
    "search", "DIR (-p PATTERN... | -f FILE) [OPTION]...",
    "Find every occurrence of the patterns in the data set DIR, on both strands.",
    "Patterns may hold IUPAC codes (R Y S W K M B D H V N), each matching any base of its set\n"
    "at no cost; on the minus strand they are complemented. TSV columns: pattern_name pattern\n"
    "sequence start end strand mismatches matched, where matched is the genome's bases at the\n"
    "hit read on the pattern's strand. Rows come in pattern order, then by sequence, start\n"
    "and strand. An occurrence across a removed stretch (N run) is not reported.\n"
    "With --shard, the rows of shares 1 to N one after another (the header comes with share 1)\n"
    "are those of one search.\n"};

// --shard I/N: patterns first .. end-1 of the whole sequence (-p, then -f), counted
// by reading the patterns once through; every pattern without --shard.
struct Shard {
    long long index = 0;  // 1 .. N, 0 without --shard
    long long first = 0, end = 0;
    long long seen = 0;  // patterns read so far
};

Shard placeShard(const SearchSettings& s, int64_t longest) {
    Shard shard;
    if (!s.shard) return shard;
    long long index = 0, count = 0;
    if (!parseShare(s.shard, index, count))
        usageError("search", "--shard is I/N with 1 <= I <= N, not '%s'", s.shard);
    if (s.file && !strcmp(s.file, "-"))
        usageError("search", "--shard reads the patterns twice: give -f a file, not standard input");
    PatternSource all;
    openPatterns(all, s.patterns, s.file, longest);
    std::vector<Pattern> batch;
    while (readPatterns(all, batch)) {
    }
    shard.index = index;
    shard.first = all.read * (index - 1) / count;
    shard.end = all.read * index / count;
    return shard;
}

// Keeps the patterns of the batch that lie in the shard; false once none after it does.
bool keepShard(Shard& shard, std::vector<Pattern>& batch) {
    if (!shard.index) return true;
    std::vector<Pattern> kept;
    for (Pattern& p : batch) {
        if (shard.seen >= shard.first && shard.seen < shard.end) kept.push_back(std::move(p));
        shard.seen++;
    }
    batch.swap(kept);
    return shard.seen < shard.end;
}

// Read access fetches the tree records a descent reaches; mapped access maps whole trees.
// Measured in bench/search_access.sh (warm page cache): a search within mismatches
// reaches most of every tree and is 10 to 300 times faster mapped; an exact search is
// up to twice as fast mapped from a few hundred patterns on (3,000 on D. melanogaster
// 2R: 0.08 s against 0.14 s), and only a handful of patterns gains from not mapping
// every tree first (a few milliseconds).
constexpr size_t kMappedExactBatch = 64;
bool useMapped(const SearchSettings& s, size_t batchPatterns) {
    if (s.access != kAuto) return s.access == kMapped;
    return s.mismatches > 0 || batchPatterns >= kMappedExactBatch;
}

// Filtered offset of the base at FASTA offset f (0-based), which is no removed character.
int64_t filteredOffset(const InputMap& map, int64_t f) {
    size_t lo = 0, hi = map.at.size();  // stretches [0, lo) end at or before f
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (map.at[mid] + map.removedThrough[mid] <= f) lo = mid + 1;
        else hi = mid;
    }
    return lo == 0 ? f : f - map.removedThrough[lo - 1];
}

struct SearchRun {
    const SearchSettings* s;
    DataSet ds;
    InputTexts texts;  // the genome's bases of the matched column, verified as read
    std::unordered_map<std::string, size_t> inputOf;  // escaped name -> first input of that name
    RowWriter out;
    long long rows = 0;
};

std::vector<std::string> splitTabs(char* line) {
    std::vector<std::string> fields;
    for (char* p = line;;) {
        char* tab = strchr(p, '\t');
        if (!tab) {
            fields.emplace_back(p);
            return fields;
        }
        fields.emplace_back(p, tab);
        p = tab + 1;
    }
}

// One treequery row: "index pattern sequence start end strand mismatches". Returns
// false when the row is above K once the codes' sets are applied.
bool checkRow(SearchRun& r, const Pattern& p, const std::vector<std::string>& f, std::string& matched, int& mismatches) {
    auto found = r.inputOf.find(f[2]);
    if (found == r.inputOf.end()) fatal("treequery reported sequence %s, which the names catalogue lacks\n", f[2].c_str());
    const size_t input = found->second;
    const int64_t start = atoll(f[3].c_str()) - 1, length = static_cast<int64_t>(p.given.size());
    const int64_t at = filteredOffset(r.ds.maps[input], start);
    if (at < 0 || at + length > r.ds.names[input].filteredLength)
        fatal("treequery reported a hit of %s beyond the end of %s\n", p.name.c_str(), f[2].c_str());
    matched.resize(static_cast<size_t>(length) + 1);
    const char* bases = textBases(r.texts, static_cast<int>(input), static_cast<int>(at), static_cast<int>(length),
                                  matched.data());
    matched.assign(bases, static_cast<size_t>(length));
    for (char& c : matched) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (f[5] == "-") matched = reverseComplementIupac(matched);
    mismatches = 0;
    for (int64_t i = 0; i < length; ++i) mismatches += !(baseSet(p.given[i]) & baseSet(matched[i]));
    return mismatches <= r.s->mismatches;
}

// A batch of patterns handed to the search's treequery run whose rows may still come.
struct SentBatch {
    std::vector<Pattern> patterns;
    size_t first = 0;               // the run's number of its first pattern
    std::vector<long long> counts;  // rows kept, per pattern
};

// The --count lines of a batch once all its rows have come.
void finishBatch(SearchRun& r, const SentBatch& b) {
    if (!r.s->count) return;
    for (size_t i = 0; i < b.patterns.size(); ++i)
        fprintf(r.out.out, "%s\t%s\t%lld\n", tsvField(b.patterns[i].name).c_str(), b.patterns[i].given.c_str(),
                b.counts[i]);
}

// One row line of treequery, checked and written.
struct RowReader {
    SearchRun& r;
    std::deque<SentBatch>& sent;
    bool header = true, failed = false;
    size_t fields = 0;  // of the first row that is none
    std::string matched;

    RowReader(SearchRun& run, std::deque<SentBatch>& batches) : r(run), sent(batches) {}
    void line(char* text) {
        if (header) {
            header = false;
            return;
        }
        std::vector<std::string> f = splitTabs(text);
        // A failing search may write its message among the rows (the Hamming search
        // does): read on to the end, so that its status and message are reported.
        if (failed || f.size() != 7) {
            if (!failed) fields = f.size();
            failed = true;
            return;
        }
        const size_t index = strtoull(f[0].c_str(), nullptr, 10);
        // Rows come in pattern order: a batch before the row's pattern is done.
        while (!sent.empty() && index >= sent.front().first + sent.front().patterns.size()) {
            finishBatch(r, sent.front());
            sent.pop_front();
        }
        if (sent.empty() || index < sent.front().first)
            fatal("treequery reported pattern %s, which it was not given\n", f[0].c_str());
        SentBatch& b = sent.front();
        const Pattern& p = b.patterns[index - b.first];
        long long& count = b.counts[index - b.first];
        const SearchSettings& s = *r.s;
        int mismatches = 0;
        if (!checkRow(r, p, f, matched, mismatches)) return;
        if (s.maxHits && count >= s.maxHits) return;
        ++count;
        ++r.rows;
        if (s.count) return;
        const long long start = atoll(f[3].c_str());
        if (s.format == kBed)
            fprintf(r.out.out, "%s\t%lld\t%s\t%s\t%d\t%s\n", f[2].c_str(), start - 1, f[4].c_str(),
                    tsvField(p.name).c_str(), mismatches, f[5].c_str());
        else
            fprintf(r.out.out, "%s\t%s\t%s\t%lld\t%s\t%s\t%d\t%s\n", tsvField(p.name).c_str(), p.given.c_str(),
                    f[2].c_str(), start, f[4].c_str(), f[5].c_str(), mismatches, matched.c_str());
    }
};

// Every batch of the search through one treequery run: a run per batch would map the
// trees and verify their blocks again for every batch. The patterns go in as the pipe
// takes them while the rows are read as they come (poll), so that neither program
// waits on a full pipe of the other; `next` gives the batches after `batch`.
void searchBatches(SearchRun& r, std::vector<Pattern>& batch, const std::function<bool(std::vector<Pattern>&)>& next) {
    const SearchSettings& s = *r.s;
    std::vector<std::string> args = {"treequery", r.ds.stageDir, r.ds.prefix, "-q", "-f", "-", "-F", "tsv",
                                     "-j", std::to_string(s.threads)};
    if (!s.forward) args.push_back("-B");
    if (s.mismatches) args.insert(args.end(), {"-H", std::to_string(s.mismatches)});
    if (useMapped(s, batch.size())) args.push_back("-U");  // a first batch below its size is the only one
    int in[2], out[2];
    makePipe(in);
    makePipe(out);
    Stage treequery = startStage(args, in[0], out[1]);
    close(in[0]);
    close(out[1]);
    fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);

    std::deque<SentBatch> sent;
    std::string text;  // the patterns not yet written, from `written` on
    size_t written = 0, numbered = 0;
    auto send = [&](std::vector<Pattern>& patterns) {
        SentBatch b;
        b.first = numbered;
        for (const Pattern& p : patterns) {
            text += '>';
            text += std::to_string(numbered++);
            text += '\n';
            text += searchedText(p);
            text += '\n';
        }
        b.counts.assign(patterns.size(), 0);
        b.patterns = std::move(patterns);
        sent.push_back(std::move(b));
    };
    send(batch);
    RowReader rows(r, sent);
    std::string pending;  // a row line not yet ended
    bool writing = true;
    char buffer[1 << 16];
    for (;;) {
        if (writing && written == text.size()) {
            text.clear();
            written = 0;
            if (next(batch)) {
                send(batch);
            } else {
                close(in[1]);
                writing = false;
            }
        }
        pollfd fds[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        if (poll(fds, writing ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            fatal("can't wait for treequery: %s\n", strerror(errno));
        }
        if (writing && fds[1].revents) {
            const ssize_t n = write(in[1], text.data() + written, text.size() - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                close(in[1]);  // treequery stopped: its status says why
                writing = false;
            }
        }
        if (!fds[0].revents) continue;
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t from = 0;
        for (size_t end; (end = pending.find('\n', from)) != std::string::npos; from = end + 1) {
            pending[end] = '\0';
            rows.line(&pending[from]);
        }
        pending.erase(0, from);
    }
    if (writing) close(in[1]);
    if (!pending.empty()) rows.line(&pending[0]);
    close(out[0]);
    int status = waitStage(treequery);
    if (status) fatal("the search failed (treequery exited with status %d)\n", status);
    if (rows.failed) fatal("treequery wrote a row of %zu fields, not 7\n", rows.fields);
    for (const SentBatch& b : sent) finishBatch(r, b);
}

}  // namespace

int runSearch(int argc, char** argv) {
    SearchSettings s;
    std::vector<std::string> args = parseOptions(argc, argv, kCommand, kOptions, [&](int key, const char* value) {
        switch (key) {
            case 'p': s.patterns.push_back(value); break;
            case 'f': s.file = value; break;
            case 'm': s.mismatches = numberValue("search", "--mismatches", value, 0, 64); break;
            case kForward: s.forward = true; break;
            case kFormat:
                if (!strcmp(value, "tsv")) s.format = kTsv;
                else if (!strcmp(value, "bed")) s.format = kBed;
                else usageError("search", "--format is tsv or bed, not '%s'", value);
                break;
            case 'o': s.output = value; break;
            case 'j': s.threads = numberValue("search", "--threads", value, 0, 1024); break;
            case kCount: s.count = true; break;
            case kMaxHits: s.maxHits = numberValue("search", "--max-hits", value, 1, 1LL << 62); break;
            case kUnverified: s.unverified = true; break;
            case kAccess:
                if (!strcmp(value, "auto")) s.access = kAuto;
                else if (!strcmp(value, "read")) s.access = kRead;
                else if (!strcmp(value, "mapped")) s.access = kMapped;
                else usageError("search", "--access is auto, read or mapped, not '%s'", value);
                break;
            case kShard: s.shard = value; break;
            case 'q': gQuiet = true; break;
        }
    });
    if (args.size() != 1) usageError("search", "give one data set directory (and the patterns with -p or -f)");
    if (s.patterns.empty() && !s.file) usageError("search", "give patterns with -p PATTERN or -f FILE");
    if (s.count && s.format == kBed) usageError("search", "--count writes TSV: leave out --format bed");

    SearchRun r;
    r.s = &s;
    r.ds = openDataSet(args[0], kNeedTrees | kNeedNames, s.unverified);
    r.texts.inputBase = r.texts.treeBase = r.ds.base;
    r.texts.inputs = static_cast<int>(r.ds.names.size());
    loadTextSums(r.texts);  // missing ones were refused above unless --unverified
    // Rows come by pattern, then by sequence: when every text can stay mapped a row
    // costs no call, but with more inputs than mappings each row would map a text
    // anew, and one read a row costs less.
    r.texts.mapChecks = r.texts.inputs <= kMappedTexts;
    int64_t longest = 0;
    for (size_t i = 0; i < r.ds.names.size(); ++i) {
        r.inputOf.emplace(tsvField(r.ds.names[i].name), i);
        longest = std::max(longest, r.ds.names[i].filteredLength);
    }
    Shard shard = placeShard(s, longest);
    PatternSource src;
    openPatterns(src, s.patterns, s.file, longest);
    openRows(r.out, s.output);
    signal(SIGPIPE, SIG_IGN);
    // The first batch is read before the header, so that a bad pattern there leaves no
    // output behind.
    std::vector<Pattern> batch;
    bool more = readPatterns(src, batch);
    const bool header = shard.index <= 1;  // one header over all shards
    if (header && s.count)
        fprintf(r.out.out, "pattern_name\tpattern\tcount\n");
    else if (header && s.format == kTsv)
        fprintf(r.out.out, "pattern_name\tpattern\tsequence\tstart\tend\tstrand\tmismatches\tmatched\n");
    // The next batch with patterns in the shard.
    auto next = [&](std::vector<Pattern>& out) {
        while (more) {
            const bool later = keepShard(shard, batch);
            out.swap(batch);
            more = later && readPatterns(src, batch);
            if (!out.empty()) return true;
        }
        return false;
    };
    std::vector<Pattern> first;
    if (next(first)) searchBatches(r, first, next);
    closeRows(r.out);
    if (!gQuiet)
        fprintf(stderr, "dnatrees search: %lld patterns, %lld occurrences reported\n",
                shard.index ? shard.end - shard.first : src.read, r.rows);
    return 0;
}
