// One opened DFU interface: its device, what a failed transfer leaves for the
// caller, and the text uploaded from the device.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "report/outcome.h"
#include "usb/usb_device.h"

inline constexpr std::size_t DFU_TEXT_SIZE = 16384;

struct dfu_device {
    usb_device_ptr usb;  // never null in a live object
    // The last transfer's failure: failure::communication with the
    // DFU_FAILED_* request, or failure::device_status with the bStatus a
    // download ended in dfuERROR with.
    outcome failure;
    std::array<char, DFU_TEXT_SIZE> status_text{};  // NUL-terminated
};

using dfu_device_ptr = std::unique_ptr<dfu_device>;

// Opens the device's interface `interface_number` (0 in DFU mode, 1 in
// run-time mode); null when no such device opens.
dfu_device_ptr dfu_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id, int interface_number,
                        serial_number serial);
// The same, on that physical device only.
dfu_device_ptr dfu_open_same(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                             int interface_number, const usb_device_identity& device);

const char* dfu_status_text(const dfu_device& device);
usb_device& dfu_usb_device(dfu_device& device);
