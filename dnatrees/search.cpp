#include "dnatrees/dnatrees.h"
int runSearch(int, char**) { return 2; }
