#include "frontend/image_crc.h"

#include <array>

namespace {

// The reflected CRC-32 polynomial's table, one entry per byte value.
constexpr std::array<std::uint32_t, 256> CRC_TABLE = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < table.size(); ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

// The CRC register after `bytes`, started at all ones and not inverted.
std::uint32_t crc_register(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) crc = CRC_TABLE[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc;
}

constexpr std::size_t DFU_SUFFIX_LENGTH = 16;

// "UFD" and bLength 16 just before the 4-byte dwCRC.
bool has_dfu_suffix(std::span<const std::uint8_t> image) {
    if (image.size() < DFU_SUFFIX_LENGTH) return false;
    const auto tail = image.last(8);
    return tail[0] == 'U' && tail[1] == 'F' && tail[2] == 'D' && tail[3] == DFU_SUFFIX_LENGTH;
}

}  // namespace

std::uint32_t image_crc32(std::span<const std::uint8_t> image) {
    if (has_dfu_suffix(image)) return crc_register(image.first(image.size() - 4));
    return ~crc_register(image);
}
