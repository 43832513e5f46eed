#include "toolkit/run.h"
#include "treebuild/treebuild.h"

int main(int argc, char** argv) {
    commandEcho(argc, argv);
    return 0;
}
