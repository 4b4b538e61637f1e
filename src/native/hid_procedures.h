// The HID path: probe, upgrade (or information read) and restart. These
// procedures print their progress and errors on the console.
#pragma once

#include <cstdint>
#include <span>

#include "usb/usb_device_identity.h"
#include "usb/usb_ids.h"

inline constexpr int HID_UPGRADE_FAILED = -99;

// 0 when the device answers identify with the right magic and status 0.
int hid_probe(std::uint16_t vendor_id, std::uint16_t product_id, serial_number serial);
int hid_restart(std::uint16_t vendor_id, std::uint16_t product_id, serial_number serial);
// An empty `image` with a null data pointer reads and prints the device's
// information instead of upgrading. After a restart the wait accepts only
// `device` (null: the first device found with `serial`).
int hid_upgrade(std::uint16_t vendor_id, std::uint16_t product_id, serial_number serial,
                const std::uint8_t* image, std::int32_t image_length, bool restart_after_flash,
                const usb_device_identity* device = nullptr);
void hid_progress(unsigned event, int value);
