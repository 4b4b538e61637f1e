// The checksum that names a firmware image in the version text.
#pragma once

#include <cstdint>
#include <span>

// For a DFU file (one that ends in a DFU 1.1 suffix), the CRC-32 as the
// suffix's dwCRC holds it: over every byte before dwCRC, without the final
// inversion; this is the value DFU tools and the device report. For any
// other image, the ordinary CRC-32 of all its bytes.
std::uint32_t image_crc32(std::span<const std::uint8_t> image);
