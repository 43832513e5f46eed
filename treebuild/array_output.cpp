// -a: the merged order written as one prefixed suffix array (.stpsa) of the whole data
// set with its LCP array (.stlcp), in blocks of maxNodes records.
//
// Both are written under temporary names and renamed into place by the final flush, so
// that a run stopped half-way never leaves arrays that look complete; their checksums
// join the tree checksum file.
#include <cstdio>

#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treebuild/treebuild.h"

void allocateArrayBuffers(const BuildState& build, ArrayOutput& array) {
    ArrayOutput& a = array;
    size_t n = static_cast<size_t>(build.maxNodes);
    a.records = static_cast<PsaRecord*>(trackedCalloc(n, sizeof(PsaRecord)));
    a.lcps = static_cast<uint32_t*>(trackedMalloc(n * sizeof(uint32_t)));
    if (!a.records || !a.lcps) fatal("couldn't allocate %d Suffixes for suffBuff\n", build.maxNodes);
    a.psaPath = dataSetPath(build.outputBase, FileKind::mergedPsa);
    a.lcpPath = dataSetPath(build.outputBase, FileKind::mergedLcp);
    a.lastCpuMs = cpuMs();
}

void addToArray(BuildState& build, ArrayOutput& array, const PsaRecord& record, uint32_t lcp) {
    ArrayOutput& a = array;
    if (a.held >= build.maxNodes) flushArray(build, array, false);
    a.lcps[a.held] = lcp;
    a.records[a.held] = record;
    a.held++;
}

void flushArray(BuildState& build, ArrayOutput& array, bool final) {
    ArrayOutput& a = array;
    int now = cpuMs();
    addCurrentToTotals(build);
    if (!a.psa.ok()) {
        // Arrays of an earlier run would no longer match the inputs.
        remove(a.psaPath.c_str());
        remove(a.lcpPath.c_str());
        a.psa.reset(openTemporary(a.psaPath));
        if (!a.psa.ok()) fatal("cannot open suffix array file for writing\n");
        a.lcp.reset(openTemporary(a.lcpPath));
        if (!a.lcp.ok()) fatal("cannot open LCP array file for writing\n");
    }
    if (a.held > 0) {
        // Byte counts in 64 bits: the merged arrays of a genome pass 2 GiB.
        int64_t bytes = static_cast<int64_t>(a.held) * static_cast<int64_t>(sizeof(PsaRecord));
        if (writeAll(a.psa.fd, a.records, static_cast<size_t>(bytes)) != bytes)
            fatal("not all output Suffixes were written\n");
        a.psaHash.add(a.records, static_cast<size_t>(bytes));
        int64_t lcpBytes = static_cast<int64_t>(a.held) * 4;
        if (writeAll(a.lcp.fd, a.lcps, static_cast<size_t>(lcpBytes)) != lcpBytes)
            fatal("not all output LCPs were written\n");
        a.lcpHash.add(a.lcps, static_cast<size_t>(lcpBytes));
    }
    build.progress.clear();
    if (!gRun.quiet) note("Flush array %3d: nbuff=%d t=%d ms\n", a.flushes, a.held, now - a.lastCpuMs);
    a.lastCpuMs = now;
    if (final) {
        if (closeFile(a.psa.fd) != 0) fatal("can't close suffix array file %s\n", a.psaPath.c_str());
        a.psa.fd = -1;
        if (closeFile(a.lcp.fd) != 0) fatal("can't close LCP array file %s\n", a.lcpPath.c_str());
        a.lcp.fd = -1;
        if (!tryCommitFile(a.psaPath))
            fatal("can't rename %s to %s\n", temporaryName(a.psaPath).c_str(), a.psaPath.c_str());
        if (!tryCommitFile(a.lcpPath))
            fatal("can't rename %s to %s\n", temporaryName(a.lcpPath).c_str(), a.lcpPath.c_str());
        build.sums.push_back(a.psaHash.finish(a.psaPath));
        build.sums.push_back(a.lcpHash.finish(a.lcpPath));
    }
    a.held = 0;
    a.flushes++;
}
