#include <cstdio>

#include "frontend/paths.h"

int path_dfu(const path_request& /*request*/) {
    std::fflush(stdout);
    std::fputs("ERROR: The USB DFU path is not available in this build.\n", stderr);
    return -1;
}
