// dnaprep: FASTA files in, one numbered input per sequence out (filtered and packed
// DNA), a summary table with one row per sequence, and the length catalogues.
#include <sys/stat.h>

#include <ctime>

#include "dnaprep/prep.h"
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
    run.datasetDir = formatPath(kPathLimit, "%s%s%s/", settings.outputDir, settings.prefix, ".ST");
    // An existing directory is fine; a missing parent shows when the first file is opened.
    (void)mkdir(run.datasetDir.c_str(), 0755);
    openTable(run);
    setUpBuffers(run, settings);
    buildClassTable(run.classTable, settings.ucase, settings.trmask);
    setUpVectorBases(run);
    if (run.table) printTableHeader(run);

    for (int i = settings.firstFile; i < argc && !run.limitReached; ++i) {
        readFastaFile(run, argv[i], i - settings.firstFile);
    }

    writeLengthCatalogues(run);
    closeTable(run);
    printClosingReport(run, argv[0], cpuStart, msStart);
    return 0;
}
