// -a: the merged order written as one prefixed suffix array (.stpsa) of the whole data
// set with its LCP array (.stlcp), in blocks of maxNodes records.
#include <vector>

#include "toolkit/file_io.h"
#include "toolkit/run.h"
#include "treebuild/treebuild.h"

namespace {

struct ArrayOutput {
    PsaRecord* records = nullptr;
    uint32_t* lcps = nullptr;
    int held = 0;  // nbuff
    int flushes = 0;
    int lastCpuMs = 0;
    FileDescriptor psa;
    FileDescriptor lcp;
    std::string psaPath;
    std::string lcpPath;
};

ArrayOutput gArray;

}  // namespace

void allocateArrayBuffers() {
    ArrayOutput& a = gArray;
    size_t n = static_cast<size_t>(gBuild.maxNodes);
    a.records = static_cast<PsaRecord*>(trackedCalloc(n, sizeof(PsaRecord)));
    a.lcps = static_cast<uint32_t*>(trackedMalloc(n * sizeof(uint32_t)));
    if (!a.records || !a.lcps) fatal("couldn't allocate %d Suffixes for suffBuff\n", gBuild.maxNodes);
    a.psaPath = formatPath(kPathLimit, "%s%s", gBuild.outputBase.c_str(), ".stpsa");
    a.lcpPath = formatPath(kPathLimit, "%s%s", gBuild.outputBase.c_str(), ".stlcp");
    a.lastCpuMs = cpuMs();
}

void addToArray(const PsaRecord& record, uint32_t lcp) {
    ArrayOutput& a = gArray;
    if (a.held >= gBuild.maxNodes) flushArray(false);
    a.lcps[a.held] = lcp;
    a.records[a.held] = record;
    a.held++;
}

void flushArray(bool final) {
    ArrayOutput& a = gArray;
    int now = cpuMs();
    addCurrentToTotals();
    if (!a.psa.ok()) {
        a.psa.reset(openFile(a.psaPath.c_str(), 1));
        if (!a.psa.ok()) fatal("cannot open suffix array file for writing\n");
        a.lcp.reset(openFile(a.lcpPath.c_str(), 1));
        if (!a.lcp.ok()) fatal("cannot open LCP array file for writing\n");
    }
    if (a.held > 0) {
        // Byte counts in 64 bits: the merged arrays of a genome pass 2 GiB.
        int64_t bytes = static_cast<int64_t>(a.held) * static_cast<int64_t>(sizeof(PsaRecord));
        if (timedWriteChunked(a.psa.fd, a.records, static_cast<size_t>(bytes)) != bytes)
            fatal("not all output Suffixes were written\n");
        int64_t lcpBytes = static_cast<int64_t>(a.held) * 4;
        if (timedWriteChunked(a.lcp.fd, a.lcps, static_cast<size_t>(lcpBytes)) != lcpBytes)
            fatal("not all output LCPs were written\n");
    }
    if (!gRun.quiet) note("Flush array %3d: nbuff=%d t=%d ms\n", a.flushes, a.held, now - a.lastCpuMs);
    a.lastCpuMs = now;
    if (final) {
        if (closeFile(a.psa.fd) != 0) fatal("can't close suffix array file %s\n", a.psaPath.c_str());
        a.psa.fd = -1;
        if (closeFile(a.lcp.fd) != 0) fatal("can't close LCP array file %s\n", a.lcpPath.c_str());
        a.lcp.fd = -1;
    }
    a.held = 0;
    a.flushes++;
}
