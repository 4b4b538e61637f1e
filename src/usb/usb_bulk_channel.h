// A WinUSB device together with its bulk IN/OUT pipe pair.
#pragma once

#include <memory>

#include "usb/usb_device.h"

struct usb_bulk_channel {
    usb_device_ptr device;
    int packet_size = 0;  // 256 once open
    std::uint8_t in_pipe = 0;
    std::uint8_t out_pipe = 0;
};

using usb_bulk_channel_ptr = std::unique_ptr<usb_bulk_channel>;

usb_bulk_channel_ptr usb_bulk_channel_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                           int interface_number, serial_number serial);
// The same on the physical device `device` (usb_device_open_same).
usb_bulk_channel_ptr usb_bulk_channel_open_same(platform::Platform& os, int interface_number,
                                                const usb_device_identity& device);
