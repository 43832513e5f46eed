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

std::string catalogueTemp(const std::string& path) { return path + ".tmp"; }

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
    formatPath(kPathLimit, "%s.tmp", run.namesPath.c_str());
    formatPath(kPathLimit, "%s.tmp", run.mapPath.c_str());
    const std::string names = catalogueTemp(run.namesPath), map = catalogueTemp(run.mapPath);
    run.namesOut = fopen(names.c_str(), "w");
    if (!run.namesOut) fatal("can't open names catalogue %s: %s\n", names.c_str(), strerror(errno));
    run.mapOut = fopen(map.c_str(), "wb");
    if (!run.mapOut) fatal("can't open coordinate map %s: %s\n", map.c_str(), strerror(errno));
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
    const std::string names = catalogueTemp(run.namesPath), map = catalogueTemp(run.mapPath);
    const uint64_t count = static_cast<uint64_t>(run.inputNumber > run.settings->sindex
                                                     ? run.inputNumber - run.settings->sindex : 0);
    fwrite(&count, 8, 1, run.mapOut);
    fputs(kMapEnd, run.mapOut);
    closeCatalogue(run.mapOut, map);
    closeCatalogue(run.namesOut, names);
    if (rename(map.c_str(), run.mapPath.c_str()) != 0)
        fatal("can't rename %s to %s: %s\n", map.c_str(), run.mapPath.c_str(), strerror(errno));
    if (rename(names.c_str(), run.namesPath.c_str()) != 0)
        fatal("can't rename %s to %s: %s\n", names.c_str(), run.namesPath.c_str(), strerror(errno));
}

// At the exit of a run that failed: the temporary catalogues go, and once the run
// has begun to replace the data set's files, so do the catalogues of the data set
// it was replacing, which would no longer match its inputs (the checksum file with
// them: it vouches for files that are no longer there).
void removeIncompleteCatalogues(PrepRun& run) {
    if (run.complete || run.namesPath.empty()) return;
    unlink(catalogueTemp(run.namesPath).c_str());
    unlink(catalogueTemp(run.mapPath).c_str());
    if (!run.touched) return;
    unlink(run.namesPath.c_str());
    unlink(run.mapPath.c_str());
    for (FileKind kind : {FileKind::lengths, FileKind::bitLengths, FileKind::inputSums})
        unlink(dataSetPath(run.base, kind).c_str());
}
