// dnaprep: FASTA files in, one numbered input per sequence out (filtered and packed
// DNA), a summary table with one row per sequence, the length catalogues, and with
// -N the names catalogue and the coordinate map.
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "dnaprep/prep.h"
#include "toolkit/data_set.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

int main(int argc, char** argv) {
    commandEcho(argc, argv);
    if (argc < 5) usageExit(argv[0]);

    PrepSettings settings;
    scanArguments(argc, argv, settings);
    echoSettings(settings);
    const clock_t cpuStart = clock();
    const int msStart = msClock();

    // Process-wide: the working buffers live until exit and are released by it.
    static PrepRun run;
    run.settings = &settings;
    run.datasetDir = dataSetFolder(settings.outputDir, settings.prefix);
    run.base = dataSetBase(settings.outputDir, settings.prefix);
    // An existing directory is fine; a missing parent shows when the first file is opened.
    (void)mkdir(run.datasetDir.c_str(), 0755);
    std::atexit([] { removeIncompleteCatalogues(run); });
    openTable(run);
    setUpBuffers(run, settings);
    buildClassTable(run.classTable, settings.ucase, settings.trmask);
    setUpVectorBases(run);
    openNamesAndMap(run);
    if (run.table) printTableHeader(run);

    for (int i = settings.firstFile; i < argc && !run.limitReached; ++i) {
        readFastaFile(run, argv[i], i - settings.firstFile);
    }

    writeLengthCatalogues(run);
    finishNamesAndMap(run);
    writeInputChecksums(run);
    run.complete = true;  // the data set is whole, whatever becomes of the table
    closeTable(run);
    printClosingReport(run, argv[0], cpuStart, msStart);
    return 0;
}
