// The check of an image file before anything is sent: a file that ends in a
// DFU 1.1 suffix must carry the right CRC and name this vendor (and the
// attached product); a file without one is sent unchecked.
#pragma once

#include <cstdint>
#include <span>

inline constexpr std::size_t DFU_SUFFIX_LENGTH = 16;

struct dfu_suffix {
    std::uint16_t product_id = 0;  // idProduct; 0xFFFF: any
    std::uint16_t vendor_id = 0;   // idVendor; 0xFFFF: any
    std::uint32_t stored_crc = 0;  // dwCRC
    std::uint32_t file_crc = 0;    // the CRC of the file's bytes before dwCRC
    std::uint8_t length = 0;       // bLength
};

enum class image_verdict {
    sendable,       // a suffix that fits
    no_suffix,      // sent unchecked
    empty,
    suffix_only,       // a suffix and no firmware before it
    malformed_suffix,  // the "UFD" signature with a bLength other than 16
    bad_crc,
    wrong_vendor,
};

// Checks everything but the product ID, which needs the device. `suffix` is
// filled whenever the image ends in a suffix.
image_verdict image_check(std::span<const std::uint8_t> image, std::uint16_t vendor_id, dfu_suffix& suffix);

// Whether a suffix's idProduct fits the attached device. A device in DFU mode
// (product ID 0x0004) does not show its run-time product ID, so any suffix
// fits it.
bool image_fits_product(const dfu_suffix& suffix, std::uint16_t product_id);
