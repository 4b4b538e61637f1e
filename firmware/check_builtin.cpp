// Build step: the firmware file to be embedded must pass the check every
// image file passes at run time (DFU suffix with a matching CRC and this
// vendor's ID, or the wildcard). Exit status 1 with the reason otherwise.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "frontend/image_check.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FIRMWARE_FILE VENDOR_ID\n", argv[0]);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto vendor_id = static_cast<std::uint16_t>(std::strtoul(argv[2], nullptr, 0));
    dfu_suffix suffix;
    switch (image_check(image, vendor_id, suffix)) {
        case image_verdict::sendable: return 0;
        case image_verdict::no_suffix: std::fprintf(stderr, "%s: no DFU suffix\n", argv[1]); break;
        case image_verdict::empty: std::fprintf(stderr, "%s: empty or unreadable\n", argv[1]); break;
        case image_verdict::suffix_only: std::fprintf(stderr, "%s: a DFU suffix and no firmware\n", argv[1]); break;
        case image_verdict::malformed_suffix:
            std::fprintf(stderr, "%s: DFU suffix length %u, not 16\n", argv[1], static_cast<unsigned>(suffix.length));
            break;
        case image_verdict::bad_crc:
            std::fprintf(stderr, "%s: suffix CRC %.8x, contents %.8x\n", argv[1],
                         static_cast<unsigned>(suffix.stored_crc), static_cast<unsigned>(suffix.file_crc));
            break;
        case image_verdict::wrong_vendor:
            std::fprintf(stderr, "%s: suffix names vendor %.4x, not %.4x\n", argv[1],
                         static_cast<unsigned>(suffix.vendor_id), static_cast<unsigned>(vendor_id));
            break;
    }
    return 1;
}
