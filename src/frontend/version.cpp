#include "frontend/version.h"

#include "firmware/builtin_image.h"
#include "frontend/image_crc.h"
#include "frontend/tool_version.h"
#include "platform/platform.h"
#include "report/text_format.h"

std::string version_text(platform::Platform& os) {
    const auto image = builtin_image();
    return text_format("flash-tool %s\nBuilt-in image: %zu bytes, CRC-32 %08X\nBackend: %s\n\n", tool_version(),
                       image.size(), static_cast<unsigned>(image_crc32(image)), os.backend_name());
}
