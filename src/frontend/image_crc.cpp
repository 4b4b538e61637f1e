#include "frontend/image_crc.h"

#include <zlib.h>

#include "frontend/image_check.h"
#include "usb/usb_ids.h"

std::uint32_t image_crc32(std::span<const std::uint8_t> image) {
    // The suffix check computes the suffix's CRC; whether the file names this
    // vendor does not matter here.
    dfu_suffix suffix;
    const image_verdict verdict = image_check(image, DEVICE_VENDOR_ID, suffix);
    if (verdict != image_verdict::empty && verdict != image_verdict::no_suffix) return suffix.file_crc;
    // Images are smaller than 2 GiB, so one call covers them.
    return static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), image.data(), static_cast<uInt>(image.size())));
}
