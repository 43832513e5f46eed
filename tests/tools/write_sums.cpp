// Writes the checksum files of a data set built before its writers kept them
// (bench/verify_cost.sh): "<base>.stinsum" and "<base>.streesum".
//
//   write_sums <dir><prefix>.ST/<prefix>
#include <cstdio>

#include "tests/support/checksums.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <dir><prefix>.ST/<prefix>\n", argv[0]);
        return 1;
    }
    testsupport::writeChecksums(argv[1]);
    return 0;
}
