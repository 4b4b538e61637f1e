#include "frontend/image_check.h"

#include <zlib.h>

#include "usb/le.h"
#include "usb/usb_ids.h"

namespace {

constexpr std::uint8_t SUFFIX_SIGNATURE[3] = {'U', 'F', 'D'};

// The DFU 1.1 suffix CRC: CRC-32 without the final inversion, i.e. zlib's
// CRC-32 inverted.
std::uint32_t dfu_crc(std::span<const std::uint8_t> bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most 4 GiB at a time; images are far smaller, but stay
    // correct for any length.
    while (!bytes.empty()) {
        const std::size_t step = bytes.size() > 0x40000000u ? 0x40000000u : bytes.size();
        crc = crc32(crc, bytes.data(), static_cast<uInt>(step));
        bytes = bytes.subspan(step);
    }
    return static_cast<std::uint32_t>(~crc);
}

}  // namespace

image_verdict image_check(std::span<const std::uint8_t> image, std::uint16_t vendor_id, dfu_suffix& suffix) {
    if (image.empty()) return image_verdict::empty;
    if (image.size() < DFU_SUFFIX_LENGTH) return image_verdict::no_suffix;
    const std::span<const std::uint8_t> tail = image.last(DFU_SUFFIX_LENGTH);
    if (tail[8] != SUFFIX_SIGNATURE[0] || tail[9] != SUFFIX_SIGNATURE[1] || tail[10] != SUFFIX_SIGNATURE[2])
        return image_verdict::no_suffix;
    // A signature with another length is a suffix gone wrong, not firmware
    // that happens to end in "UFD": sending it could flash a broken image.
    suffix.length = tail[11];
    if (suffix.length != DFU_SUFFIX_LENGTH) return image_verdict::malformed_suffix;
    suffix.product_id = le16(tail, 2);
    suffix.vendor_id = le16(tail, 4);
    suffix.stored_crc = le32(tail, 12);
    suffix.file_crc = dfu_crc(image.first(image.size() - 4));
    if (suffix.stored_crc != suffix.file_crc) return image_verdict::bad_crc;
    if (suffix.vendor_id != ANY_ID && suffix.vendor_id != vendor_id) return image_verdict::wrong_vendor;
    if (image.size() == DFU_SUFFIX_LENGTH) return image_verdict::suffix_only;
    return image_verdict::sendable;
}

bool image_fits_product(const dfu_suffix& suffix, std::uint16_t product_id) {
    return suffix.product_id == ANY_ID || product_id == DFU_PRODUCT_ID || suffix.product_id == product_id;
}
