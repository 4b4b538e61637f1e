#include <cstdio>

#include "frontend/paths.h"

kxp_path_result path_kxp(const path_request& /*request*/) {
    std::fflush(stdout);
    std::fputs("ERROR: The USB KXP path is not available in this build.\n", stderr);
    return kxp_path_result::failed;
}
