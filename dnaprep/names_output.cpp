// The names catalogue and the coordinate map, written beside the inputs in the same
// pass (formats in toolkit/names_map.h). Both are written under temporary names and
// renamed when the whole data set is written, so that a run that fails never leaves
// them looking complete; such a run also removes the catalogues it was replacing.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "dnaprep/prep.h"
#include "toolkit/data_set.h"
#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/names_map.h"
#include "toolkit/run.h"

namespace {

// The temporary file of `path` as a stream (openTemporary: removed at exit until committed).
FILE* openCatalogue(const std::string& path, const char* what) {
    int fd = openTemporary(path);
    FILE* out = fd < 0 ? nullptr : fdopen(fd, "w");
    if (!out) {
        const int error = errno;
        if (fd >= 0) closeFile(fd);
        fatal("can't open %s %s: %s\n", what, temporaryName(path).c_str(), strerror(error));
    }
    return out;
}

void writeMapBytes(PrepRun& run) {
    if (run.mapRecord.empty()) return;
    fwrite(run.mapRecord.data(), 1, run.mapRecord.size(), run.mapOut);
    run.mapRecord.clear();
}

// The stream's buffered bytes go out and it is closed; any failed write on the way
// is a fatal error naming the file.
void closeCatalogue(FILE*& out, const std::string& path) {
    bool failed = ferror(out) != 0;
    failed |= fclose(out) != 0;
    out = nullptr;
    if (failed) fatal("can't write %s: %s\n", path.c_str(), strerror(errno));
}

}  // namespace

void openNamesAndMap(PrepRun& run) {
    const PrepSettings& s = *run.settings;
    run.namesPath = dataSetPath(run.base, FileKind::names);
    run.mapPath = dataSetPath(run.base, FileKind::map);
    if (!s.names) return;  // the names are only used to remove files of an earlier run
    run.namesOut = openCatalogue(run.namesPath, "names catalogue");
    run.mapOut = openCatalogue(run.mapPath, "coordinate map");
    fputs(kNamesHeader, run.namesOut);
    fputs(kMapMagic, run.mapOut);
}

void closeStretch(PrepRun& run) {
    if (!run.stretchLength) return;
    appendVarint(run.mapRecord, static_cast<uint64_t>(run.stretchLength));
    appendVarint(run.mapRecord, static_cast<uint64_t>(run.stretchAt - run.lastStretchAt));
    run.lastStretchAt = run.stretchAt;
    run.stretchLength = 0;
    if (run.mapRecord.size() >= 65536) writeMapBytes(run);
}

// The current sequence's line and map record, at its final flush.
void addNamesAndMapEntry(PrepRun& run, int64_t chopped) {
    const SequenceCounters& seq = run.seq;
    const int64_t fastaLength = seq.dnaSize + chopped + seq.wildCards + seq.garbage;
    fprintf(run.namesOut, "%s\t%s\t%lld\t%lld\n", escapeField(run.seqName).c_str(),
            escapeField(run.namesFile).c_str(), static_cast<long long>(fastaLength),
            static_cast<long long>(seq.dnaSize));
    closeStretch(run);
    appendVarint(run.mapRecord, 0);
    appendVarint(run.mapRecord, static_cast<uint64_t>(seq.dnaSize));
    appendVarint(run.mapRecord, static_cast<uint64_t>(chopped));
    writeMapBytes(run);
    run.lastStretchAt = 0;
}

// With -N the two files take their final names; without it, files of that name
// from an earlier run no longer describe the data set and go.
void finishNamesAndMap(PrepRun& run) {
    if (!run.settings->names) {
        unlink(run.namesPath.c_str());
        unlink(run.mapPath.c_str());
        return;
    }
    const uint64_t count = static_cast<uint64_t>(run.inputNumber > run.settings->sindex
                                                     ? run.inputNumber - run.settings->sindex : 0);
    fwrite(&count, 8, 1, run.mapOut);
    fputs(kMapEnd, run.mapOut);
    closeCatalogue(run.mapOut, temporaryName(run.mapPath));
    closeCatalogue(run.namesOut, temporaryName(run.namesPath));
    commitFile(run.mapPath);
    commitFile(run.namesPath);
}

// At the exit of a run that failed (the temporary catalogues go with every other
// temporary file): once the run has begun to replace the data set's files, the
// catalogues of the data set it was replacing go, which would no longer match its
// inputs (the checksum file with them: it vouches for files that are no longer there).
void removeIncompleteCatalogues(PrepRun& run) {
    if (run.complete || run.namesPath.empty() || !run.touched) return;
    unlink(run.namesPath.c_str());
    unlink(run.mapPath.c_str());
    for (FileKind kind : {FileKind::lengths, FileKind::bitLengths, FileKind::inputSums})
        unlink(dataSetPath(run.base, kind).c_str());
}
