// Pattern searches answered in the user's terms: patterns of -p and -f a batch at a
// time, each as given and (-B) as its reverse complement, every occurrence turned into
// a row that names its sequence and gives FASTA coordinates (-F tsv or bed).
// Per batch: the searches as the tables run them, then O(h log h) to order the h
// occurrences of each pattern; extra memory O(batch patterns + their occurrences),
// two batches of patterns with -j 2 and more (the next one is read meanwhile).
#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "toolkit/data_set.h"
#include "toolkit/run.h"
#include "treequery/exact_search.h"
#include "treequery/inexact_search.h"
#include "treequery/tree_store.h"
#include "treequery/user_terms.h"
#include "treequery/workers.h"

OutputFormat outputFormat(const QuerySettings& s) {
    if (!s.format) return kFormatTables;
    return strcmp(s.format, "bed") == 0 ? kFormatBed : kFormatTsv;
}

void checkUserTerms(const QuerySettings& s) {
    if (s.format && strcmp(s.format, "tsv") != 0 && strcmp(s.format, "bed") != 0)
        fatal("-F takes tsv or bed, not \"%s\"\n", s.format);
    const bool patterns = s.patternArg || s.patternFile;
    if (s.bothStrands && !patterns) fatal("-B (both strands) goes with a pattern search (-p or -f)\n");
    if (s.bothStrands && !s.format)
        fatal("-B (both strands) needs -F tsv or -F bed: the tables have no strand column\n");
    if (outputFormat(s) == kFormatBed && s.countonly) fatal("-c counts with -F tsv, not with -F bed\n");
    if (outputFormat(s) == kFormatBed && !patterns)
        fatal("-F bed is for pattern searches (-p or -f); the traversal writes -F tsv\n");
    if (s.shard && (!s.patternFile || s.patternArg))
        fatal("--shard shares out the patterns of -f: give -f and no -p\n");
    if (s.shard && strcmp(s.patternFile, "-") == 0)
        fatal("--shard reads the pattern file twice: give a file, not standard input\n");
}

void loadFastaCoordinates(QueryRun& q) {
    q.names = readNamesCatalogue(dataSetPath(q.texts.inputBase, FileKind::names), q.texts.inputSums);
    q.maps = readCoordinateMap(dataSetPath(q.texts.inputBase, FileKind::map), q.texts.inputSums);
    const size_t inputs = (size_t)q.catalogue.inputs;
    if (q.names.size() != inputs || q.maps.size() != inputs)
        fatal("names catalogue and coordinate map of %s hold %zu and %zu inputs, the data set %zu: run dnaprep "
              "again with -N\n",
              q.texts.inputBase.c_str(), q.names.size(), q.maps.size(), inputs);
    for (size_t i = 0; i < inputs; i++) {
        if (q.maps[i].kept != q.catalogue.lengths[i])
            fatal("coordinate map of %s: input %zu has %lld bases, the data set %d: run dnaprep again with -N\n",
                  q.texts.inputBase.c_str(), i, (long long)q.maps[i].kept, q.catalogue.lengths[i]);
        // Rows are tab-separated: a name keeps its tabs and line breaks escaped.
        q.names[i].name = escapeField(q.names[i].name);
    }
}

namespace {

// One occurrence of a pattern on one strand; positions on the forward strand.
struct Hit {
    int32_t input;
    int32_t position;
    int32_t strand;  // 0: as given (+), 1: reverse complement (-)
    int32_t mismatches;
};

struct RowWriter {
    QueryRun& q;
    OutputFormat format;
    FILE* out;  // the run's output, or the text of a share of a batch
    long long patterns = 0;
    long long reported = 0;
    long long leftOut = 0;  // occurrences that span a removed stretch
    std::vector<char> scratch;  // the exact search's text check: the longest pattern of a batch
    std::vector<ExactResult> exact;  // a batch's exact results, its room kept for the next batch
};

bool withinTexts(const QueryRun& q, const Hit& h) { return h.input >= 0 && h.input < q.catalogue.inputs; }

int countMismatches(QueryRun& q, std::string_view pattern, int input, int position) {
    const int m = (int)pattern.size();
    HammingDamageRoute route;  // a damaged text ends the run as confirmText's other failures do
    const char* text = confirmText(q.texts, input, position, m);
    int mismatches = 0;
    for (int j = 0; j < m; j++)
        if (pattern[j] != '*' && (pattern[j] | 0x20) != (text[j] | 0x20)) mismatches++;
    return mismatches;
}

// The rows of a share of a batch as a thread writes them, and what they count.
struct ShareText {
    char* data = nullptr;
    size_t size = 0;
    FILE* file = nullptr;
    long long patterns = 0, reported = 0, leftOut = 0;

    FILE* open() {
        file = open_memstream(&data, &size);
        if (!file) fatal("can't allocate the rows of a share of patterns\n");
        return file;
    }
    void close() {
        if (fclose(file) != 0) fatal("can't allocate the rows of a share of patterns\n");
        file = nullptr;
    }
    ShareText() = default;
    ShareText(const ShareText&) = delete;
    ShareText& operator=(const ShareText&) = delete;
    ~ShareText() {
        if (file) fclose(file);
        free(data);
    }
};

// Every row of one pattern, its hits ordered by sequence, start and strand.
void writeRows(RowWriter& w, const UserPattern& p, std::vector<Hit>& hits) {
    QueryRun& q = w.q;
    const QuerySettings& s = *q.settings;
    FILE* out = w.out;
    const long long m = (long long)p.text.size();
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
        if (a.input != b.input) return a.input < b.input;
        if (a.position != b.position) return a.position < b.position;
        return a.strand < b.strand;
    });
    long long rows = 0;
    for (const Hit& h : hits) {
        if (!withinTexts(q, h)) continue;
        const InputMap& map = q.maps[(size_t)h.input];
        // Bases joined across a removed stretch do not occur in the FASTA file.
        if (spansRemoved(map, h.position, h.position + m)) {
            w.leftOut++;
            continue;
        }
        if (s.maxNum > 0 && rows >= s.maxNum) continue;
        rows++;
        if (s.countonly) continue;
        const long long start = fastaOffset(map, h.position);
        const char* name = q.names[(size_t)h.input].name.c_str();
        const char strand = h.strand ? '-' : '+';
        if (w.format == kFormatBed)
            fprintf(out, "%s\t%lld\t%lld\t%s\t%d\t%c\n", name, start, start + m, p.name.c_str(), h.mismatches, strand);
        else
            fprintf(out, "%s\t%s\t%s\t%lld\t%lld\t%c\t%d\n", p.name.c_str(), p.given.c_str(), name, start + 1, start + m,
                    strand, h.mismatches);
    }
    if (s.countonly) fprintf(out, "%s\t%s\t%lld\n", p.name.c_str(), p.given.c_str(), rows);
    w.reported += rows;
    w.patterns++;
}

// A batch of patterns as it is searched: the patterns, their reverse complements
// (-B), each ended by a terminator, side by side in one string, and the searched
// texts, views of the two. The views stay valid while the batch stays where it is.
struct PatternBatch {
    std::vector<UserPattern> patterns;
    std::string complements;
    std::vector<std::string_view> searched;  // pattern p's strand k at 2p + k (p with one strand)
    std::vector<std::string_view> exactTexts;
    std::vector<int> exactIndex;  // per searched text: its place in exactTexts, -1 when not searched exactly
    std::vector<TreeSpan> spans;  // the trees each of exactTexts selects
    size_t longest = 0;
};

void prepareBatch(QueryRun& q, PatternBatch& b) {
    const QuerySettings& s = *q.settings;
    const std::vector<UserPattern>& batch = b.patterns;
    const int strands = s.bothStrands ? 2 : 1;
    b.complements.clear();
    if (strands == 2) {
        size_t bytes = 0;
        for (const UserPattern& p : batch) bytes += p.text.size() + 1;
        b.complements.reserve(bytes);
        for (const UserPattern& p : batch) {
            b.complements += reverseComplement(p.text);
            b.complements += '\0';
        }
    }
    // Exact searches of the batch (both strands) go together: in read mode every tree
    // is read once for all of them.
    b.searched.resize(batch.size() * (size_t)strands);
    b.exactTexts.clear();
    b.exactIndex.assign(b.searched.size(), -1);
    b.longest = 0;
    size_t at = 0;
    for (size_t p = 0; p < batch.size(); p++) {
        const size_t m = batch[p].text.size();
        b.longest = std::max(b.longest, m);
        for (int strand = 0; strand < strands; strand++) {
            const size_t k = p * (size_t)strands + (size_t)strand;
            b.searched[k] = strand ? std::string_view(b.complements.data() + at, m) : std::string_view(batch[p].text);
            if (strand) at += m + 1;
            if (s.hamming < 0 && b.searched[k].find('*') == std::string_view::npos) {
                b.exactIndex[k] = (int)b.exactTexts.size();
                b.exactTexts.push_back(b.searched[k]);
            }
        }
    }
    // Here rather than in the search: with -j 2 and more this runs while the batch
    // before is searched.
    b.spans = selectTreeSpans(q, b.exactTexts);
}

// Searches and reports one batch in pattern order.
void searchBatch(RowWriter& w, const PatternBatch& b) {
    QueryRun& q = w.q;
    const QuerySettings& s = *q.settings;
    const int strands = s.bothStrands ? 2 : 1;
    const std::vector<UserPattern>& batch = b.patterns;
    const std::vector<std::string_view>& searched = b.searched;
    const std::vector<int>& exactIndex = b.exactIndex;
    if (w.scratch.size() < b.longest + 1) w.scratch.resize(b.longest + 1);
    q.verifyBuffer = w.scratch.data();
    std::vector<ExactResult>& exact = w.exact;
    GroupOptions options;
    options.keep = INT_MAX;
    options.trees = s.usemmap ? kGroupTreesMapped : kGroupTreesRead;
    options.locations = !s.usemmap;
    options.inputs = false;
    options.notes = gRun.verbose;  // the rows' only diagnostic lines
    options.spans = &b.spans;
    searchExactShared(q, b.exactTexts, exact, options);
    if (gRun.verbose)
        for (const ExactResult& r : exact)
            for (const std::string& line : r.notes) note("%s", line.c_str());

    // The hits of pattern p on both strands: the exact search's, or a search within
    // the Hamming distance on `run`'s trees and texts.
    auto collectHits = [&](QueryRun& run, size_t p, std::vector<Hit>& hits) {
        hits.clear();
        for (int strand = 0; strand < strands; strand++) {
            const size_t k = p * (size_t)strands + (size_t)strand;
            if (exactIndex[k] >= 0) {
                ExactResult& r = exact[(size_t)exactIndex[k]];
                for (const Occurrence& o : r.kept) hits.push_back(Hit{o.input, o.position, strand, 0});
                continue;
            }
            const std::string_view text = searched[k];
            OccurrenceList found;
            inexactCollect(run, text.data(), (int)text.size(), s.hamming > 0 ? s.hamming : 0, found);
            for (int r = 0; r < found.count; r++) {
                const Occurrence& o = found.items[r];
                hits.push_back(Hit{o.input, o.position, strand, countMismatches(run, text, o.input, o.position)});
            }
        }
    };
    // The exact occurrences of patterns from `from` to `to` - 1, once their rows are
    // written. A share that stops midway keeps them: the main thread does it again.
    auto releaseExact = [&](size_t from, size_t to) {
        for (size_t k = from * (size_t)strands; k < to * (size_t)strands; k++)
            if (exactIndex[k] >= 0) std::vector<Occurrence>().swap(exact[(size_t)exactIndex[k]].kept);
    };
    if (!q.pool || batch.size() < 2) {
        std::vector<Hit> hits;
        for (size_t p = 0; p < batch.size(); p++) {
            collectHits(q, p, hits);
            writeRows(w, batch[p], hits);
            releaseExact(p, p + 1);
        }
    } else {
        // Shares of patterns searched (within the Hamming distance) and written as text
        // by the threads, the texts put out in order; a share done again on the main
        // thread writes its rows as it goes, as one thread does before a failure.
        WorkerPool& pool = *q.pool;
        const size_t shares = std::min(batch.size(), (size_t)pool.threads * 8);
        std::vector<std::unique_ptr<ShareText>> texts(shares);
        std::vector<char> written(shares, 0);
        auto range = [&](int k, size_t& from, size_t& to) {
            from = batch.size() * (size_t)k / shares;
            to = batch.size() * (size_t)(k + 1) / shares;
        };
        auto task = [&](int worker, QueryRun& run, int k) {
            size_t from, to;
            range(k, from, to);
            std::vector<Hit> hits;
            if (worker >= pool.threads) {
                for (size_t p = from; p < to; p++) {
                    collectHits(run, p, hits);
                    writeRows(w, batch[p], hits);
                }
                written[(size_t)k] = 1;
                return;
            }
            auto text = std::make_unique<ShareText>();
            RowWriter part{q, w.format, text->open(), 0, 0, 0, {}, {}};
            for (size_t p = from; p < to; p++) {
                collectHits(run, p, hits);
                writeRows(part, batch[p], hits);
            }
            releaseExact(from, to);
            text->close();
            text->patterns = part.patterns;
            text->reported = part.reported;
            text->leftOut = part.leftOut;
            texts[(size_t)k] = std::move(text);
        };
        auto deliver = [&](int k) {
            if (written[(size_t)k]) return;
            const ShareText& text = *texts[(size_t)k];
            fwrite(text.data, 1, text.size, q.out);
            w.patterns += text.patterns;
            w.reported += text.reported;
            w.leftOut += text.leftOut;
            texts[(size_t)k].reset();
        };
        runOrdered(pool, q, (int)shares, 2 * pool.threads, task, deliver);
    }
    if (ferror(q.out))
        fatal("can't write the results to %s\n", s.outName ? s.outName : "standard output");
}

// The patterns of -p as user patterns: a text pattern is its own name, a triple is
// named as written.
void commandLinePatterns(QueryRun& q, std::vector<UserPattern>& batch) {
    for (int p = 0; p < q.patternCount; p++) {
        UserPattern u;
        if (q.triples) {
            const PatternTriple& t = q.triples[p];
            u.name = std::to_string(t.input) + "," + std::to_string(t.offset) + "," + std::to_string(t.length);
        } else {
            u.name = q.patterns[p];
        }
        u.given = patternText(q, p);
        std::string problem = preparePattern(u);
        if (!problem.empty()) fatal("pattern \"%s\": %s\n", u.name.c_str(), problem.c_str());
        batch.push_back(std::move(u));
    }
}

// The next batch read on a thread of its own while the current one is searched (-j 2
// and more): reading and parsing patterns is otherwise work of the main thread that
// the search's threads wait for. A failure in the file stops the reading thread; it
// is put out after the rows of the batches before it, as one thread puts it out.
struct ReadAhead {
    // Shared with the reading thread, which is let go at once: the run may end in a
    // failure of the search while the next batch is being read, and then the thread
    // must neither be waited for nor outlive what it signals through.
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        bool finished = false, read = false;
        WorkerStatus status;
        void done(bool any) {
            std::lock_guard<std::mutex> guard(lock);
            read = any;
            finished = true;
            changed.notify_all();
        }
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

    explicit ReadAhead(std::function<bool()> next) {
        std::thread([shared = shared, next = std::move(next)] {
            captureRunOutput(&shared->status, [&shared] { shared->done(false); });
            const bool any = next();
            captureRunOutput(nullptr);
            shared->done(any);
        }).detach();
    }
    // Whether a batch was read; a failure ends the run here (the thread that failed
    // sleeps in fatal() until then).
    bool finish() {
        Shared& s = *shared;
        {
            std::unique_lock<std::mutex> guard(s.lock);
            s.changed.wait(guard, [&] { return s.finished; });
        }
        fputs(s.status.lines.c_str(), stderr);
        if (s.status.failed()) exitWithFailure(s.status);
        return s.read;
    }
};

long long longestInput(const QueryRun& q) {
    long long longest = 0;
    for (int i = 0; i < q.catalogue.inputs; i++) longest = std::max<long long>(longest, q.catalogue.lengths[i]);
    return longest;
}

// -f without -F: each batch goes through the tables' own search loop.
void searchFileToTables(QueryRun& q) {
    const long long longest = longestInput(q);
    if (q.maxPatternLength < longest) q.maxPatternLength = (int)longest;
    allocateOccurrences(q);
    searchPatternList(q);
    PatternShard shard = placeShard(*q.settings, longest);
    PatternFile file;
    openPatternFile(file, q.settings->patternFile, longest);
    std::vector<UserPattern> batch;
    std::vector<char*> texts;
    bool more = true;
    while (more && (batch.clear(), readPatternBatch(file, batch, kPatternBatch))) {
        more = keepShard(shard, batch, 0);
        texts.clear();
        for (UserPattern& p : batch) texts.push_back(p.text.data());
        q.triples = nullptr;
        q.patterns = texts.data();
        q.patternCount = (int)texts.size();
        searchPatternList(q);
    }
    q.patterns = nullptr;
    q.patternCount = 0;
    releaseTree(q.store);
}

}  // namespace

void searchUserPatterns(QueryRun& q) {
    const QuerySettings& s = *q.settings;
    const OutputFormat format = outputFormat(s);
    if (format == kFormatTables) {
        searchFileToTables(q);
        return;
    }
    q.maxPatternLength = std::max<int>(q.maxPatternLength, 1);
    if (q.triples) q.patternBuffer = static_cast<char*>(trackedMalloc((size_t)q.maxPatternLength + 1));
    RowWriter w{q, format, q.out, 0, 0, 0, {}, {}};
    // The first batch (the patterns of -p and the file's first ones) is read before the
    // header, so that a bad file or pattern found there leaves no output behind. Two
    // batches take turns: the next one is read into the other while one is searched.
    PatternBatch batches[2];
    commandLinePatterns(q, batches[0].patterns);
    PatternShard shard = placeShard(s, longestInput(q));
    PatternFile file;
    bool more = s.patternFile != nullptr;
    if (more) {
        openPatternFile(file, s.patternFile, longestInput(q));
        readPatternBatch(file, batches[0].patterns, kPatternBatch);
        more = keepShard(shard, batches[0].patterns, 0);
    }
    prepareBatch(q, batches[0]);
    if (format == kFormatTsv && shard.index <= 1)
        fputs(s.countonly ? "pattern_name\tpattern\tcount\n"
                          : "pattern_name\tpattern\tsequence\tstart\tend\tstrand\tmismatches\n",
              q.out);
    // The batch after the one being searched; false once the shard has no more.
    auto readNext = [&](PatternBatch& b) {
        b.patterns.clear();
        if (!more || !readPatternBatch(file, b.patterns, kPatternBatch)) return false;
        more = keepShard(shard, b.patterns, 0);
        prepareBatch(q, b);
        return true;
    };
    for (int current = 0;; current ^= 1) {
        PatternBatch& next = batches[current ^ 1];
        bool again;
        if (q.pool && more) {
            ReadAhead ahead([&] { return readNext(next); });
            searchBatch(w, batches[current]);
            again = ahead.finish();
        } else {
            searchBatch(w, batches[current]);
            again = readNext(next);
        }
        if (!again) break;
    }
    releaseTree(q.store);
    if (!gRun.quiet) {
        note("%lld pattern%s searched, %lld occurrence%s reported\n", w.patterns, w.patterns == 1 ? "" : "s",
             w.reported, w.reported == 1 ? "" : "s");
    }
    // Left-out occurrences are said even with -q: they are answers the rows do not hold.
    if (w.leftOut > 0) {
        note("%lld occurrence%s span%s removed stretches and %s left out\n", w.leftOut, w.leftOut == 1 ? "" : "s",
             w.leftOut == 1 ? "s" : "", w.leftOut == 1 ? "was" : "were");
    }
}
