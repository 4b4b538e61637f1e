#include <cstdio>

#include "frontend/paths.h"
#include "native/hid_procedures.h"

int path_hid(const path_request& request) {
    std::puts("flash-tool using USB HID interface\n");
    const run_options& options = request.options;
    if (options.reset) {
        std::puts("Restarting System...");
        return hid_restart(request.os, request.device);
    }
    return hid_upgrade(request.os, request.device, request.image.data, request.image.length,
                       options.restart_after_upgrade);
}
