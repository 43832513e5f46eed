// Flushes of the DNA buffer: tail run and tail chop, contexts, the per-input .stdna
// and .stbin files, and the 2-bit packing. Each base is written and packed once;
// the held tail run costs no memory beyond its base and length.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "dnaprep/prep.h"
#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

namespace {

#ifdef __SSE2__
// Base codes of sixteen letters, four to a byte: each 32-bit lane ends up holding the
// codes of its four letters in its low byte, the first letter's code in the top two
// bits. (letter >> 1) & 3 gives a = 0, c = 1, g = 3, t = 2 in either case (and a zero
// byte 0, code a); x ^ (x >> 1) then exchanges 2 and 3. Neighbouring fields are
// folded together, the earlier one shifted up.
inline __m128i codesOfSixteen(const uint8_t* bytes) {
    const __m128i three = _mm_set1_epi8(3), one = _mm_set1_epi8(1);
    __m128i c = _mm_and_si128(_mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), 1), three);
    c = _mm_xor_si128(c, _mm_and_si128(_mm_srli_epi16(c, 1), one));
    // 16-bit lanes: (first << 2) | second, four bits
    c = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(c, _mm_set1_epi16(0x00FF)), 2), _mm_srli_epi16(c, 8));
    // 32-bit lanes: (first << 4) | second, eight bits: four codes, first on top
    return _mm_or_si128(_mm_slli_epi32(_mm_and_si128(c, _mm_set1_epi32(0xFFFF)), 4), _mm_srli_epi32(c, 16));
}

#else
// Base codes of eight letters, the first letter's code in the top two bits of the
// 16-bit result (the codes as above). Loading the bytes big-endian puts the first
// letter in the top byte, so that folding neighbouring fields keeps sequence order.
inline uint32_t packEight(const uint8_t* bytes) {
    uint64_t x;
    memcpy(&x, bytes, 8);
    x = __builtin_bswap64(x);
    x = (x >> 1) & 0x0303030303030303ull;
    x ^= (x >> 1) & 0x0101010101010101ull;
    x = (x | (x >> 6)) & 0x000F000F000F000Full;
    x = (x | (x >> 12)) & 0x000000FF000000FFull;
    return static_cast<uint32_t>((x | (x >> 24)) & 0xFFFF);
}
#endif

void openInputFiles(PrepRun& run) {
    // The checksum file of the data set being replaced no longer vouches for it: a run
    // stopped from here on leaves its inputs covered by none.
    if (!run.touched) unlink(dataSetPath(run.base, FileKind::inputSums).c_str());
    run.touched = true;
    const std::string& base = run.base;
    run.dnaPath = dataSetPath(base, FileKind::texts, run.inputNumber);
    if (gRun.verbose) note("Opening file %s for writing filtered DNA\n", run.dnaPath.c_str());
    run.dnaFile.reset(openTemporary(run.dnaPath));
    if (!run.dnaFile.ok()) fatal("can't open file %s\n", run.dnaPath.c_str());

    run.binPath = dataSetPath(base, FileKind::packed, run.inputNumber);
    if (gRun.verbose) note("Opening file %s for writing binary DNA\n", run.binPath.c_str());
    run.binFile.reset(openTemporary(run.binPath));
    if (!run.binFile.ok()) fatal("can't open binary file %s\n", run.binPath.c_str());
}

// A close can be the first to report a failed write (for example on a network file
// system). Only a file closed whole takes its name and its place in the checksums.
void closeChecked(PrepRun& run, FileDescriptor& file, BlockHasher& hash, const std::string& path) {
    if (!file.ok()) return;
    int fd = file.fd;
    file.fd = -1;
    if (closeFile(fd) != 0) fatal("can't close file %s: its data may be incomplete\n", path.c_str());
    commitFile(path);
    run.sums.push_back(hash.finish(path));
}

void writeDna(PrepRun& run, const void* bytes, size_t count) {
    writeOrDie(run.dnaFile.fd, bytes, count, run.dnaPath.c_str());
    run.dnaHash.add(bytes, count);
}

void writePacked(PrepRun& run, int words) {
    const size_t bytes = static_cast<size_t>(words) * 4;
    writeOrDie(run.binFile.fd, run.packed, bytes, run.binPath.c_str());
    run.binHash.add(run.packed, bytes);
}

}  // namespace

// Every buffer is taken once, through the tracked allocator, in the order of the
// memory total's report.
void setUpBuffers(PrepRun& run, const PrepSettings& s) {
    const int lengthsBytes = kLengthsEntries * 4;
    run.lengths = static_cast<int32_t*>(trackedMalloc(lengthsBytes));
    if (!run.lengths) fatal("can't allocate %d bytes for lengths array\n", lengthsBytes);

    run.inputSize = s.buffset ? s.buffset : kDefaultInputBuffer;
    run.input = static_cast<uint8_t*>(trackedMalloc(run.inputSize));
    if (!run.input) fatal("can't allocate %d bytes for buffer\n", run.inputSize);

    run.dnaCapacity = s.dnabset ? s.dnabset : kDefaultDnaBuffer;
    if (run.dnaCapacity % 16) fatal("DNA buffer size %d must be a multiple of 16\n", run.dnaCapacity);
    run.dna = static_cast<uint8_t*>(trackedMalloc(run.dnaCapacity));
    run.packed = static_cast<uint32_t*>(trackedMalloc(run.dnaCapacity / 4));
    if (!run.dna || !run.packed) fatal("can't allocate %d bytes for DNA buffer\n", run.dnaCapacity);

    run.keySize = s.keybset ? s.keybset : kDefaultKeyBuffer;
    // The key keeps keySize - 2 header bytes and a terminator; below 3 bytes not even
    // the header's first byte fits.
    if (run.keySize < 3) fatal("key buffer size %d is too small: it needs at least 3 bytes\n", run.keySize);
    run.key = static_cast<char*>(trackedMalloc(run.keySize));
    if (!run.key) fatal("can't allocate %d bytes for key buffer\n", run.keySize);
    run.key[0] = 0;

    run.contextLength = std::min(s.pcontext, kMaxContext);
}

// Index of the first byte of the run of equal bytes that ends dna[0, n), n > 0.
int tailRunStart(const uint8_t* dna, int n) {
    const uint8_t last = dna[n - 1];
    int i = n - 1;
    while (i > 0 && dna[i - 1] == last) --i;
    return i;
}

int packDna(uint32_t* words, const uint8_t* bases, int count) {
    const int nwords = count / 16;
    int w = 0;
#ifdef __SSE2__
    for (; w + 4 <= nwords; w += 4, bases += 64) {
        // lanes q0..q15 (four codes each) become the words q0q1q2q3 ... with q0 on top:
        // little-endian, so each group of four is reversed before narrowing to bytes.
        __m128i low = _mm_packs_epi32(codesOfSixteen(bases), codesOfSixteen(bases + 16));
        __m128i high = _mm_packs_epi32(codesOfSixteen(bases + 32), codesOfSixteen(bases + 48));
        low = _mm_shufflehi_epi16(_mm_shufflelo_epi16(low, _MM_SHUFFLE(0, 1, 2, 3)), _MM_SHUFFLE(0, 1, 2, 3));
        high = _mm_shufflehi_epi16(_mm_shufflelo_epi16(high, _MM_SHUFFLE(0, 1, 2, 3)), _MM_SHUFFLE(0, 1, 2, 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words + w), _mm_packus_epi16(low, high));
    }
    for (; w < nwords; ++w, bases += 16) {
        __m128i q = _mm_packs_epi32(codesOfSixteen(bases), _mm_setzero_si128());
        q = _mm_packus_epi16(_mm_shufflelo_epi16(q, _MM_SHUFFLE(0, 1, 2, 3)), _mm_setzero_si128());
        words[w] = static_cast<uint32_t>(_mm_cvtsi128_si32(q));
    }
#else
    for (; w < nwords; ++w, bases += 16) words[w] = (packEight(bases) << 16) | packEight(bases + 8);
#endif
    return nwords;
}

namespace {

// Counts `count` bases (the given bytes, or `count` copies of `base` when `bytes` is
// null) into the sequence's length and its begin and end contexts.
void accountBases(PrepRun& run, const uint8_t* bytes, uint8_t base, int64_t count) {
    if (count <= 0) return;
    if (run.seq.dnaSize + count > kMaxInputLength) {
        fatal("sequence %d (%s) in %s has more than %lld bases, more than the 32-bit bit-lengths catalogue can hold\n",
              run.inputNumber + 1, sequenceName(run), run.fastaPath.c_str(),
              static_cast<long long>(kMaxInputLength));
    }
    run.seq.dnaSize += count;
    run.totalDna += static_cast<double>(count);

    auto put = [&](char* to, int64_t from, int k) {
        if (bytes) memcpy(to, bytes + from, k);
        else memset(to, base, k);
    };
    const int context = run.contextLength;
    if (run.beginFill < context) {
        const int k = static_cast<int>(std::min<int64_t>(count, context - run.beginFill));
        put(run.beginContext + run.beginFill, 0, k);
        run.beginFill += k;
    }
    if (count >= context) {
        put(run.endContext, count - context, context);
        run.endFill = context;
    } else {
        const int keep = std::min(run.endFill, context - static_cast<int>(count));
        memmove(run.endContext, run.endContext + run.endFill - keep, keep);
        put(run.endContext + keep, 0, static_cast<int>(count));
        run.endFill = keep + static_cast<int>(count);
    }
}

// Appends `count` bases (at most the buffer size) to the current input's files: all
// of them to the .stdna file, and every completed group of 16 (with the carry of the
// previous call) packed to the .stbin file.
void writeBases(PrepRun& run, const uint8_t* bases, int64_t count) {
    if (count <= 0) return;
    writeDna(run, bases, static_cast<size_t>(count));
    if (run.carryCount) {
        const int k = static_cast<int>(std::min<int64_t>(count, 16 - run.carryCount));
        memcpy(run.packCarry + run.carryCount, bases, k);
        run.carryCount += k;
        bases += k;
        count -= k;
        if (run.carryCount < 16) return;
        packDna(run.packed, run.packCarry, 16);
        writePacked(run, 1);
        run.carryCount = 0;
    }
    const int whole = static_cast<int>(count & ~int64_t{15});
    if (whole) {
        const int words = packDna(run.packed, bases, whole);
        writePacked(run, words);
    }
    run.carryCount = static_cast<int>(count - whole);
    memcpy(run.packCarry, bases + whole, run.carryCount);
}

// `count` copies of one base, in pieces that the packed buffer can take.
void writeRun(PrepRun& run, uint8_t base, int64_t count) {
    uint8_t piece[16384];
    const int64_t size = std::min<int64_t>(sizeof piece, run.dnaCapacity);
    memset(piece, base, static_cast<size_t>(std::min(size, count > 0 ? count : 0)));
    for (; count > 0; count -= size) writeBases(run, piece, std::min(size, count));
}

// The packed file ends with the carry, its last word padded with zero bits.
void emitLastWord(PrepRun& run) {
    if (!run.carryCount) return;
    memset(run.packCarry + run.carryCount, 0, 16 - run.carryCount);
    packDna(run.packed, run.packCarry, 16);
    writePacked(run, 1);
    run.carryCount = 0;
}

}  // namespace

// Hands on the DNA buffer's bases. Everything but the run of equal bases that ends
// them is written to the current input's files; that run joins the run held back
// before it when they are of one base, else the held run is written and this one
// held instead. The final flush of a sequence (endOfSequence = 1) then has the
// sequence's whole tail run: it chops it, writes it, prints the table line, closes
// the files and returns 1 when the sequence limit is reached.
int flush(PrepRun& run, int endOfSequence) {
    const PrepSettings& s = *run.settings;
    const int n = run.dnaPos;
    const bool writing = run.inputNumber >= s.sindex;
    ++run.nflush;

    // What goes out now: the held run (when a different base ends the buffer or
    // other bases come before the buffer's tail run), then dna[0, prefix).
    bool releaseHeld = false;
    int prefix = 0;
    if (n > 0) {
        const int runStart = tailRunStart(run.dna, n);
        releaseHeld = run.heldRun > 0 && (runStart > 0 || run.heldBase != run.dna[n - 1]);
        prefix = runStart;
    }
    const int64_t released = releaseHeld ? run.heldRun : 0;
    const uint8_t runBase = n > 0 ? run.dna[n - 1] : run.heldBase;
    const int64_t tailRun = (n > 0 ? n - prefix : 0) + (releaseHeld ? 0 : run.heldRun);
    run.seq.passed += n;

    if (!endOfSequence) {
        accountBases(run, nullptr, run.heldBase, released);
        accountBases(run, run.dna, 0, prefix);
        if (writing) {
            if (!run.dnaFile.ok()) openInputFiles(run);
            writeRun(run, run.heldBase, released);
            writeBases(run, run.dna, prefix);
        }
        run.heldBase = runBase;
        run.heldRun = tailRun;
        run.dnaPos = 0;
        return 0;
    }

    // The tail run is measured before the chop, which keeps its first base. Of the
    // bases that remain, those still in the buffer go out with the bases before them.
    const int64_t tailLength = tailRun;
    const int64_t kept = s.tailchop && tailRun >= s.tailchop ? 1 : tailRun;
    const int fromBuffer = prefix + static_cast<int>(std::min<int64_t>(kept, n - prefix));
    const int64_t fromHeld = kept - (fromBuffer - prefix);
    accountBases(run, nullptr, run.heldBase, released);
    accountBases(run, run.dna, 0, fromBuffer);
    accountBases(run, nullptr, runBase, fromHeld);
    if (gRun.verbose) {
        note("DNA final flush: %d flushes, %lld bytes, %lld nfbytes, %lld ndbytes, %lld ngbytes, %lld nnbytes, %.0f total\n",
             run.nflush, static_cast<long long>(released + fromBuffer + fromHeld),
             static_cast<long long>(run.seq.origSize), static_cast<long long>(run.seq.dnaSize),
             static_cast<long long>(run.seq.garbage), static_cast<long long>(run.seq.wildCards), run.totalDna);
    }
    run.beginContext[run.beginFill] = 0;
    run.endContext[run.endFill] = 0;
    if (run.table) printTableLine(run, tailLength);
    run.beginFill = run.endFill = 0;
    if (writing) {
        if (!run.dnaFile.ok()) openInputFiles(run);
        writeRun(run, run.heldBase, released);
        writeBases(run, run.dna, fromBuffer);
        writeRun(run, runBase, fromHeld);
        emitLastWord(run);
        if (s.names) addNamesAndMapEntry(run, tailRun - kept);
    }
    run.heldRun = 0;
    run.dnaPos = 0;

    const int32_t length = static_cast<int32_t>(run.seq.dnaSize);
    if (run.inputNumber < kLengthsEntries) run.lengths[run.inputNumber] = length;
    else run.moreLengths.push_back(length);
    closeChecked(run, run.dnaFile, run.dnaHash, run.dnaPath);
    closeChecked(run, run.binFile, run.binHash, run.binPath);

    run.garbageTotal += run.seq.garbage;
    run.seqsWithGarbage += run.seq.garbage != 0;
    run.wildTotal += run.seq.wildCards;
    run.seqsWithWild += run.seq.wildCards != 0;
    run.sectionTotal += run.seq.nChunks;
    run.seq = SequenceCounters();

    ++run.inputNumber;
    return s.nseqs > 0 && run.inputNumber == s.sindex + s.nseqs;
}
