#include "frontend/version.h"

#include <cstdio>

#include "firmware/builtin_image.h"
#include "frontend/image_crc.h"
#include "frontend/tool_version.h"
#include "platform/platform.h"

void print_version(platform::Platform& os) {
    const auto image = builtin_image();
    std::printf("flash-tool %s\n", tool_version());
    std::printf("Built-in image: %zu bytes, CRC-32 %08X\n", image.size(),
                static_cast<unsigned>(image_crc32(image)));
    std::printf("Backend: %s\n\n", os.backend_name());
}
