// The FASTA state machine: header lines into the key buffer, DNA sections through the
// class table into the DNA buffer, one table lookup per byte.
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "dnaprep/prep.h"
#include "toolkit/file_io.h"
#include "toolkit/input_stream.h"
#include "toolkit/run.h"

void buildClassTable(uint8_t table[256], int ucase, int trmask) {
    memset(table, kGarbage, 256);
    table['\n'] = kLineBreak;
    table['\r'] = kLineBreak;
    table['>'] = kHeaderStart;
    for (const char* w = "BDHKMNRSUVWY"; *w; ++w) {
        table[static_cast<uint8_t>(*w)] = kWildcard;
        table[static_cast<uint8_t>(*w + 32)] = kWildcard;
    }
    for (const char* b = "acgt"; *b; ++b) {
        uint8_t letter = static_cast<uint8_t>(ucase ? *b - 32 : *b);
        table[static_cast<uint8_t>(*b)] = letter;
        table[static_cast<uint8_t>(*b - 32)] = letter;
    }
    if (trmask) {
        for (const char* b = "acgt"; *b; ++b) table[static_cast<uint8_t>(*b)] = kWildcard;
    }
}

// The vector path may stand in for the class table only where both agree on every
// byte: bases exactly A, C, G, T (and a, c, g, t unless masked), each written as its
// lower- or upper-case letter. Any other table keeps the byte-wise paths alone.
void setUpVectorBases(PrepRun& run) {
    const uint8_t* table = run.classTable;
    const bool lowerIn = table['a'] >= 1 && table['a'] <= 127;
    const bool upperOut = table['A'] == 'A';
    bool agree = true;
    for (int b = 0; b < 256; ++b) {
        const bool upperBase = b == 'A' || b == 'C' || b == 'G' || b == 'T';
        const bool lowerBase = b == 'a' || b == 'c' || b == 'g' || b == 't';
        const bool base = upperBase || (lowerIn && lowerBase);
        const bool tableBase = table[b] >= 1 && table[b] <= 127;
        if (base != tableBase) agree = false;
        if (base && table[b] != (upperOut ? (b & ~32) : (b | 32))) agree = false;
    }
#ifdef __SSE2__
    run.vectorBases = agree;
#else
    run.vectorBases = false;
#endif
    run.vectorLowerIn = lowerIn;
    run.vectorUpperOut = upperOut;
}

namespace {

#ifdef __SSE2__
// The vector check's constants, set up once per DNA stretch.
struct SixteenBases {
    __m128i fold;        // OR-ed in before comparing: 32 folds upper case onto lower
    __m128i a, c, g, t;  // the base letters in the folded case
    __m128i caseBit;     // 32
    bool upperOut;

    explicit SixteenBases(const PrepRun& run) {
        const char first = run.vectorLowerIn ? 'a' : 'A';
        fold = _mm_set1_epi8(run.vectorLowerIn ? 32 : 0);
        a = _mm_set1_epi8(first);
        c = _mm_set1_epi8(static_cast<char>(first + 2));
        g = _mm_set1_epi8(static_cast<char>(first + 6));
        t = _mm_set1_epi8(static_cast<char>(first + 19));
        caseBit = _mm_set1_epi8(32);
        upperOut = run.vectorUpperOut;
    }

    // Sixteen bytes that are all bases are stored at `out` as their letters; returns
    // false (storing nothing) when any byte is not a base.
    bool store(const uint8_t* in, uint8_t* out) const {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i x = _mm_or_si128(v, fold);
        const __m128i base = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, a), _mm_cmpeq_epi8(x, c)),
                                          _mm_or_si128(_mm_cmpeq_epi8(x, g), _mm_cmpeq_epi8(x, t)));
        if (_mm_movemask_epi8(base) != 0xFFFF) return false;
        const __m128i letters = upperOut ? _mm_andnot_si128(caseBit, v) : _mm_or_si128(v, caseBit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), letters);
        return true;
    }
};
#endif

// Header state: copies the line into the key (blanks as '-') up to its room of
// keySize - 2 bytes and skips the rest; the line's first word (after a '>') is the
// sequence's name. Returns the line break, where the DNA section begins, or `end`
// when the line goes on in the next chunk.
const uint8_t* parseHeader(PrepRun& run, const uint8_t* p, const uint8_t* end) {
    const int room = run.keySize - 2;
    for (; p < end; ++p) {
        uint8_t b = *p;
        if (b == '\n' || b == '\r') {
            run.key[run.keyPos] = 0;
            run.keyPos = 0;
            run.inHeader = 0;
            run.headerBytes = 0;
            run.wildOpen = false;  // wildcard sections never join across sequences
            return p;
        }
        if (run.keyPos < room) run.key[run.keyPos++] = static_cast<char>(b == ' ' ? '-' : b);
        if (run.headerBytes++ == 0) {
            run.seqName.clear();
            run.nameDone = false;
            if (b == '>') continue;
        }
        if (run.nameDone) continue;
        if (b == ' ' || b == '\t') {
            run.nameDone = !run.seqName.empty();
        } else {
            if (run.seqName.size() == kMaxNameLength)
                fatal("the name of sequence %d in %s is longer than %zu bytes\n", run.inputNumber + 1,
                      run.fastaPath.c_str(), kMaxNameLength);
            run.seqName += static_cast<char>(b);
        }
    }
    return p;
}

// A sequence below the start index: only its extent matters, so look for the next '>'.
const uint8_t* skipSequence(PrepRun& run, const uint8_t* p, const uint8_t* end) {
    const void* found = memchr(p, '>', end - p);
    if (!found) {
        run.seq.origSize += end - p;
        return end;
    }
    const uint8_t* header = static_cast<const uint8_t*>(found);
    run.seq.origSize += header - p;
    run.inHeader = 1;
    run.limitReached = flush(run, 1);
    return header;
}

// One DNA-state byte, the way the class table says; returns false at a '>'. With
// `track`, wildcards and garbage also go into the removed stretches.
struct DnaScan {
    uint8_t* dna;
    int pos;
    bool open;  // inside a wildcard section (only line breaks since its last wildcard)
    PrepRun& run;
    bool track;
    int64_t wild = 0, chunks = 0, garbage = 0;

    bool step(uint8_t c) {
        if (static_cast<unsigned>(c) - 1u < 127u) {
            dna[pos++] = c;
            open = false;
        } else if (c == kWildcard) {
            ++wild;
            chunks += !open;
            open = true;
            if (track) noteRemoved(run, run.seq.passed + pos);
        } else if (c == kGarbage) {
            ++garbage;
            open = false;
            if (track) noteRemoved(run, run.seq.passed + pos);
        } else if (c == kHeaderStart) {
            return false;
        }
        return true;  // line breaks neither store nor end a wildcard section
    }
};

constexpr ptrdiff_t kSegment = 256;

// DNA state. Every byte gives at most one base, so a stretch of (free room) bytes
// cannot overflow the DNA buffer and the inner loops need no capacity test; the
// buffer is flushed as soon as a stretch fills it. Returns the '>' that ends the
// section (the header state starts there) or `end`.
//
// Nearly all of a genome is lines of bases. Each line (in segments of at most
// kSegment bytes) goes sixteen bytes at a time through the vector check where the
// class table allows it. What is left is taken on trust: its bytes go through the
// class table into a scratch area, one lookup per byte and no branch, and a base-only
// rest is copied at once. A rest with anything else in it is redone byte by byte.
// Neither way touches the DNA buffer's bytes past the fill, which the tail run of a
// final flush may read.
template <bool kCountBytes>
const uint8_t* parseDna(PrepRun& run, const uint8_t* p, const uint8_t* end) {
    const uint8_t* table = run.classTable;
    const int capacity = run.dnaCapacity;
    DnaScan scan{run.dna, run.dnaPos, run.wildOpen, run, run.settings->names != 0};
    const uint8_t* sectionStart = p;
    uint8_t scratch[kSegment];
#ifdef __SSE2__
    const SixteenBases sixteen(run);
#endif

    auto settle = [&](const uint8_t* upTo) {
        run.seq.origSize += upTo - sectionStart;
        sectionStart = upTo;
        run.seq.wildCards += scan.wild;
        run.seq.nChunks += scan.chunks;
        run.seq.garbage += scan.garbage;
        scan.wild = scan.chunks = scan.garbage = 0;
        run.dnaPos = scan.pos;
        run.wildOpen = scan.open;
    };

    while (p < end) {
        const uint8_t* stop = p + std::min<ptrdiff_t>(end - p, capacity - scan.pos);
        while (p < stop) {
            const uint8_t* segmentEnd = p + std::min(kSegment, stop - p);
            if (!kCountBytes) {
                if (*p == '\n' || *p == '\r') {  // line breaks change nothing
                    ++p;
                    continue;
                }
                const void* lineBreak = memchr(p, '\n', segmentEnd - p);
                if (lineBreak) {
                    segmentEnd = static_cast<const uint8_t*>(lineBreak);
                    if (segmentEnd[-1] == '\r') --segmentEnd;  // Windows line end
                }
#ifdef __SSE2__
                if (run.vectorBases) {
                    // Checked before stored, so nothing past the fill is touched. A last
                    // part shorter than sixteen bytes is redone from sixteen bytes back,
                    // over bases already checked and stored.
                    const uint8_t* lineStart = p;
                    while (segmentEnd - p >= 16 && sixteen.store(p, scan.dna + scan.pos)) {
                        p += 16;
                        scan.pos += 16;
                    }
                    if (p > lineStart) scan.open = false;
                    if (p < segmentEnd && segmentEnd - p < 16 && segmentEnd - lineStart >= 16) {
                        const ptrdiff_t back = 16 - (segmentEnd - p);
                        if (sixteen.store(segmentEnd - 16, scan.dna + scan.pos - back)) {
                            scan.pos += static_cast<int>(segmentEnd - p);
                            p = segmentEnd;
                        }
                    }
                    if (p == segmentEnd) continue;
                }
#endif
                const ptrdiff_t length = segmentEnd - p;
                // Entries 1-127 are bases; entry - 1 has its top bit set for all others
                // (eight at a time: a borrow out of a 0 entry only lowers the next).
                uint64_t others = 0;
                ptrdiff_t i = 0;
                for (; i + 8 <= length; i += 8) {
                    const uint8_t* q = p + i;
                    const uint64_t w = uint64_t{table[q[0]]} | uint64_t{table[q[1]]} << 8 |
                                       uint64_t{table[q[2]]} << 16 | uint64_t{table[q[3]]} << 24 |
                                       uint64_t{table[q[4]]} << 32 | uint64_t{table[q[5]]} << 40 |
                                       uint64_t{table[q[6]]} << 48 | uint64_t{table[q[7]]} << 56;
                    memcpy(scratch + i, &w, 8);
                    others |= w - 0x0101010101010101ull;
                }
                for (; i < length; ++i) {
                    const uint8_t c = table[p[i]];
                    scratch[i] = c;
                    others |= static_cast<uint8_t>(c - 1);
                }
                if (!(others & 0x8080808080808080ull)) {
                    memcpy(scan.dna + scan.pos, scratch, length);
                    scan.pos += static_cast<int>(length);
                    scan.open = false;
                    p = segmentEnd;
                    continue;
                }
            }
            for (; p < segmentEnd; ++p) {
                if (kCountBytes) ++run.byteCounts[*p];
                if (!scan.step(table[*p])) {
                    settle(p);
                    run.inHeader = 1;
                    run.limitReached = flush(run, 1);
                    return p;
                }
            }
        }
        if (scan.pos == capacity) {
            settle(p);
            flush(run, 0);
            scan.pos = 0;
        }
    }
    settle(end);
    return end;
}

}  // namespace

// Returns 1 when the sequence limit was reached; the rest of the chunk is dropped then.
int parseChunk(PrepRun& run, const uint8_t* buffer, size_t length) {
    const uint8_t* p = buffer;
    const uint8_t* end = buffer + length;
    const PrepSettings& s = *run.settings;
    while (p < end && !run.limitReached) {
        if (run.inHeader) p = parseHeader(run, p, end);
        else if (run.inputNumber < s.sindex) p = skipSequence(run, p, end);
        else if (s.gcounts) p = parseDna<true>(run, p, end);
        else p = parseDna<false>(run, p, end);
    }
    return run.limitReached;
}

// The first line of every file is a header, whether or not it begins with '>'.
void startFile(PrepRun& run) {
    run.inHeader = 1;
    run.fileStart = true;
    run.keyPos = 0;
    run.headerBytes = 0;
}

// The end of a file ends its last sequence, also one that is still in its header line.
void endFile(PrepRun& run) {
    if (run.inHeader) {
        run.key[run.keyPos] = 0;
        run.keyPos = 0;
    }
    run.limitReached = flush(run, 1);
}

namespace {

// A regular file is mapped and parsed in place, one copy of every byte fewer than
// reading it into the input buffer. It is mapped a window at a time (pages filled at
// once, then released), so that a file larger than memory is no burden.
constexpr size_t kMapWindow = size_t{64} << 20;

struct MappedFile {
    int fd = -1;
    size_t size = 0;
    const uint8_t* window = nullptr;
    size_t from = 0, to = 0;  // file offsets the window holds

    ~MappedFile() { release(); }
    void release() {
        if (window) munmap(const_cast<uint8_t*>(window), to - from);
        window = nullptr;
    }
    // Bytes from `offset` on, as many as the window holds (at least one); null when
    // the window cannot be mapped.
    const uint8_t* at(size_t offset, size_t* length) {
        if (!window || offset < from || offset >= to) {
            release();
            from = offset - offset % kMapWindow;
            to = std::min(size, from + kMapWindow);
            void* address = mmap(nullptr, to - from, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, (off_t)from);
            if (address == MAP_FAILED) return nullptr;
            window = static_cast<const uint8_t*>(address);
        }
        *length = to - offset;
        return window + (offset - from);
    }
};

// Counts one read of `got` bytes and parses them (or counts their lines with -f);
// true when the sequence limit ends the file.
// A FASTQ file read as FASTA would pass as one sequence of reads and header letters:
// a file whose first byte that is no blank starts a FASTQ record is refused.
void refuseFastq(PrepRun& run, const uint8_t* data, size_t got) {
    size_t i = 0;
    while (i < got && (data[i] == ' ' || data[i] == '\t' || data[i] == '\n' || data[i] == '\r')) ++i;
    if (i == got) return;
    run.fileStart = false;
    if (data[i] == '@')
        fatal("%s looks like FASTQ (its first record starts with '@'): dnaprep reads FASTA only; 'dnatrees index' "
              "reads FASTQ\n",
              run.fastaPath.c_str());
}

bool takeChunk(PrepRun& run, const uint8_t* data, size_t got, int64_t& lines) {
    if (run.fileStart) refuseFastq(run, data, got);
    if (run.settings->fparse) {
        for (size_t i = 0; i < got; ++i) lines += (data[i] == '\n' || data[i] == '\r');
        return false;
    }
    return got > 0 && parseChunk(run, data, got);
}

// Goes through a mapped regular file in the chunks the reads would bring, also the
// empty last one of a file of whole chunks, so that the counts of reads and all that
// is parsed are those of reading it. False (nothing done) when it is no regular file
// or its first window cannot be mapped.
bool parseMappedFile(PrepRun& run, int fd, int& reads, int64_t& lines, int64_t& chars) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return false;
    MappedFile file;
    file.fd = fd;
    file.size = static_cast<size_t>(info.st_size);
    size_t length = 0;
    if (!file.at(0, &length)) return false;
    const size_t chunk = static_cast<size_t>(run.inputSize);
    for (size_t offset = 0;;) {
        const size_t got = std::min(chunk, file.size - offset);
        ++reads;
        ++run.nread;
        chars += static_cast<int64_t>(got);
        bool limit = false;
        for (size_t done = 0; done < got && !limit;) {  // a chunk may span two windows
            const uint8_t* data = file.at(offset + done, &length);
            if (!data) fatal("could not map file %s\n", run.fastaPath.c_str());
            length = std::min(length, got - done);
            limit = takeChunk(run, data, length, lines);
            done += length;
        }
        if (limit) break;
        offset += got;
        if (got < chunk) break;
    }
    return true;
}

}  // namespace

// Reads one FASTA file ("-": standard input) chunk by chunk until its data ends, so
// that pipes and process substitutions are read to their end like regular files.
// Gzip data is inflated on the way; plain regular files are mapped instead of read.
void readFastaFile(PrepRun& run, const char* argument, int fileNumber) {
    const PrepSettings& s = *run.settings;
    const bool standardInput = strcmp(argument, "-") == 0;
    run.fastaPath = standardInput ? std::string("-") : formatPath(kPathLimit, "%s%s", s.inputDir, argument);
    run.namesFile = run.fastaPath;
    run.fileName = fileNameOf(argument);
    startFile(run);
    InputStream in;
    if (!openInputStream(in, run.fastaPath)) fatal("could not open file %s\n", run.fastaPath.c_str());
    run.fastaPath = in.name;

    int reads = 0;
    int64_t lines = 0, chars = 0;
    if (in.gzip || !in.regular || !parseMappedFile(run, in.fd, reads, lines, chars)) {
        const size_t chunk = static_cast<size_t>(run.inputSize);
        for (;;) {
            size_t got = readInputStream(in, run.input, chunk);
            ++reads;
            ++run.nread;
            chars += static_cast<int64_t>(got);
            if (takeChunk(run, run.input, got, lines)) break;
            if (got < chunk) break;
        }
    }
    if (!s.fparse && !run.limitReached) endFile(run);
    if (s.fparse && !gRun.quiet) {
        note("fast parse, file %d: %d reads, %lld lines, %lld chars\n", fileNumber, reads,
             static_cast<long long>(lines), static_cast<long long>(chars));
    }
}
