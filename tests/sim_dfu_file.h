// DFU files for tests: `size` bytes of payload followed by a DFU 1.1 suffix
// whose CRC is right, or deliberately wrong.
#pragma once

#include <cstdint>
#include <vector>

#include <zlib.h>

namespace sim_test {

inline std::vector<std::uint8_t> make_dfu_file(std::size_t size, bool good_crc = true) {
    std::vector<std::uint8_t> file(size);
    for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::uint8_t suffix[12] = {0xFF, 0xFF, 0x01, 0x00, 0x5A, 0x2F, 0x00, 0x01, 'U', 'F', 'D', 16};
    file.insert(file.end(), std::begin(suffix), std::end(suffix));
    auto crc = static_cast<std::uint32_t>(~crc32(0L, file.data(), static_cast<uInt>(file.size())));
    if (!good_crc) crc ^= 1;
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    return file;
}

}  // namespace sim_test
