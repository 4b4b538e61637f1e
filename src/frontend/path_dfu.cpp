#include <cstdio>
#include <optional>
#include <span>

#include "dfu/dfu_upgrade.h"
#include "frontend/paths.h"

int path_dfu(const path_request& request) {
    std::puts("flash-tool using USB DFU interface\n");
    const run_options& options = request.options;
    if (options.reset) {
        std::puts("Restarting System...");
        std::fflush(stdout);
        return dfu_upgrade(request.os, options.serial, std::nullopt, true, false, &request.device);
    }
    std::optional<std::span<const std::uint8_t>> image;
    if (request.image.data != nullptr)
        image = std::span<const std::uint8_t>(request.image.data, static_cast<std::size_t>(request.image.length));
    std::fflush(stdout);
    return dfu_upgrade(request.os, options.serial, image, options.restart_after_upgrade, options.read_info,
                       &request.device, request.image_product);
}
