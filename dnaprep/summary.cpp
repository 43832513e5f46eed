// The summary table, the two length catalogues and the closing report of dnaprep.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dnaprep/prep.h"
#include "toolkit/data_set.h"
#include "toolkit/catalogue.h"
#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

void openTable(PrepRun& run) {
    const PrepSettings& s = *run.settings;
    if (s.outname) {
        run.tableFile = fopen(s.outname, "w");
        if (!run.tableFile) fatal("can't open file %s for output\n", s.outname);
    }
    if (!s.quietOut) run.table = run.tableFile ? run.tableFile : stdout;
}

void printTableHeader(const PrepRun& run) {
    const bool context = run.contextLength != 0;
    fprintf(run.table,
            "#cols: Number SeqName FileName OrigSize DNASize %s%sWildCards NChunks GarbageBytes TailLength\n",
            context ? "Begin " : "", context ? "End " : "");
    fprintf(run.table, "#widths: -1 -1 -1 -1 -1 %s %s -1 -1 -1 -1\n", context ? "18" : "",
            context ? "18" : "");
}

void printTableLine(const PrepRun& run, int64_t tailLength) {
    fprintf(run.table, "%2d  %-14s %-10s %10lld %10lld %s %s %10lld %7lld %5lld %5lld\n",
            run.inputNumber + 1, sequenceName(run), run.fileName.c_str(),
            static_cast<long long>(run.seq.origSize), static_cast<long long>(run.seq.dnaSize),
            run.beginContext, run.endContext, static_cast<long long>(run.seq.wildCards),
            static_cast<long long>(run.seq.nChunks), static_cast<long long>(run.seq.garbage),
            static_cast<long long>(tailLength));
}

// Both catalogues hold the inputs from the start index to the last sequence. Lengths
// of inputs from kLengthsEntries on were kept aside while parsing and join here.
void writeLengthCatalogues(PrepRun& run) {
    const PrepSettings& s = *run.settings;
    const int nseq = run.inputNumber;
    if (nseq > kLengthsEntries) {
        if (!gRun.quiet) note("Many inputs: reallocate from size %d to size %d ...\n", kLengthsEntries, nseq);
        void* grown = realloc(run.lengths, static_cast<size_t>(nseq) * 4);
        if (!grown) fatal("can't allocate %lld bytes for lengths array\n", static_cast<long long>(nseq) * 4);
        run.lengths = static_cast<int32_t*>(grown);
        memcpy(run.lengths + kLengthsEntries, run.moreLengths.data(), run.moreLengths.size() * 4);
    }
    const int count = nseq > s.sindex ? nseq - s.sindex : 0;
    int32_t* first = count ? run.lengths + s.sindex : run.lengths;

    std::string path = dataSetPath(run.base, FileKind::lengths);
    run.sums.push_back(writeCatalogue(path.c_str(), first, count, "can't open lengths file %s\n"));
    for (int i = 0; i < count; ++i) first[i] *= 2;
    path = dataSetPath(run.base, FileKind::bitLengths);
    run.sums.push_back(writeCatalogue(path.c_str(), first, count, "can't open blengths file %s\n"));
}

// Written last, once every file it covers is in place: a run that stops earlier
// leaves no checksum file that vouches for a partial data set.
void writeInputChecksums(PrepRun& run) {
    if (run.settings->names) {
        run.sums.push_back(hashFile(run.namesPath));
        run.sums.push_back(hashFile(run.mapPath));
    }
    writeChecksumFile(dataSetPath(run.base, FileKind::inputSums),
                      run.sums);
}

// The table is the run's result: a table that could not be written in full (a full
// disk, a closed pipe) must not end in a success.
void closeTable(PrepRun& run) {
    const PrepSettings& s = *run.settings;
    if (run.tableFile) {
        bool failed = ferror(run.tableFile) != 0;
        failed |= fclose(run.tableFile) != 0;
        run.tableFile = nullptr;
        if (failed) fatal("can't write the summary table to %s\n", s.outname);
    } else if (run.table) {
        if (fflush(stdout) != 0 || ferror(stdout)) fatal("can't write the summary table to standard output\n");
    }
}

void printClosingReport(const PrepRun& run, const char* program, long cpuStart, int msStart) {
    if (gRun.quiet) return;
    const int real = msClock() - msStart;
    const int cpu = static_cast<int>(static_cast<double>(clock() - cpuStart) / 1000.0);
    note("%s: %.0f nseq=%d, nread=%d, nflush=%d, mem %llu bytes, real %d ms, r/w %d/%d ms, time %d ms\n",
         program, run.totalDna, run.inputNumber, run.nread, run.nflush, memoryTotal(), real, readTimeMs(),
         writeTimeMs(), cpu);
    if (run.sectionTotal || run.garbageTotal) {
        note("\t%lld files had %lld sections with %lld wildcards (eg. \"N\"), %lld files had %lld garbage chars\n",
             static_cast<long long>(run.seqsWithWild), static_cast<long long>(run.sectionTotal),
             static_cast<long long>(run.wildTotal), static_cast<long long>(run.seqsWithGarbage),
             static_cast<long long>(run.garbageTotal));
    }
    if (run.settings->gcounts) {
        note("Counts: ");
        for (int b = 0; b < 256; ++b) {
            if (run.byteCounts[b]) fprintf(stderr, "%c: %llu ", b, static_cast<unsigned long long>(run.byteCounts[b]));
        }
        fprintf(stderr, "\n");
    }
}
