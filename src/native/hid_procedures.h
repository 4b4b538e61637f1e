// The HID path: probe, upgrade (or information read) and restart. These
// procedures print their progress and errors on the console.
#pragma once

#include <cstdint>
#include <span>

#include "usb/usb_device_identity.h"
#include "usb/usb_ids.h"

inline constexpr int HID_UPGRADE_FAILED = -99;

// Each acts on the physical device `device` only (cmd_channel_open_same).

// 0 when the device answers identify with the right magic and status 0.
int hid_probe(platform::Platform& os, const usb_device_identity& device);
int hid_restart(platform::Platform& os, const usb_device_identity& device);
// An empty `image` with a null data pointer reads and prints the device's
// information instead of upgrading. After a restart the wait accepts only
// `device`, and only back in run-time mode.
int hid_upgrade(platform::Platform& os, const usb_device_identity& device, const std::uint8_t* image,
                std::int32_t image_length, bool restart_after_flash);
void hid_progress(unsigned event, int value);
