// DFU 1.1 from the device's side: the status replies of every step (to
// dfuIDLE, through download and manifestation, at the detach) and the status
// text upload, in DFU mode or run-time mode, with an image or without one.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dfu/dfu_transfer.h"
#include "fuzz/fuzz_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput header({data, size});
    const std::uint8_t shape = header.byte();
    fuzz::FuzzDevice device;
    const bool dfu_mode = (shape & 1) != 0;
    device.product_id = dfu_mode ? DFU_PRODUCT_ID : 0x0001;
    device.interface_number = dfu_mode ? 0 : 1;
    fuzz::FuzzPlatform platform(header.rest(), device);
    dfu_device_ptr dfu = dfu_open(platform, DEVICE_VENDOR_ID, device.product_id, device.interface_number, std::nullopt);
    if (!dfu) return 0;

    // Two blocks and a short one.
    const std::vector<std::uint8_t> image(2 * DFU_BLOCK_SIZE + 100, 0x5A);
    std::optional<std::span<const std::uint8_t>> with_image;
    if ((shape & 2) != 0) with_image = image;
    (void)dfu_transfer(*dfu, with_image, {});
    if (std::memchr(dfu_status_text(*dfu), '\0', DFU_TEXT_SIZE) == nullptr) std::abort();
    (void)dfu_leave_mode(*dfu, "DFU", {});
    return 0;
}
