// The whole DFU path: find the device, bring it into DFU mode, download the
// image (or read the device's image information), detach it back unless told
// not to, and wait for it to come back. Prints its progress.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "dfu/dfu_console.h"
#include "usb/usb_device_identity.h"
#include "usb/usb_ids.h"

inline constexpr std::uint32_t DFU_DETACH_SETTLE_MS = 500;

// 0 on success, -1 on failure. `image` is nullopt to read the device's image
// information instead; `reset_after` detaches the device from DFU mode after
// the transfer. `read_info` (information mode, without an image) makes a
// missing or empty information text a failure; a restart only shows it.
// `device` is the device the run found; every wait accepts only it (null:
// the first device found with `serial` becomes the run's device). After the
// leave of DFU mode the device must be back in run-time mode, and with an
// `image_product` other than ANY_ID (an image checked against a device that
// was in DFU mode, which hides its product ID) be that product.
int dfu_upgrade(platform::Platform& os, serial_number serial, std::optional<std::span<const std::uint8_t>> image,
                bool reset_after, bool read_info, const usb_device_identity* device = nullptr,
                std::uint16_t image_product = ANY_ID);
int dfu_upgrade(platform::Platform& os, dfu_console& console, serial_number serial,
                std::optional<std::span<const std::uint8_t>> image, bool reset_after, bool read_info,
                const usb_device_identity* device = nullptr, std::uint16_t image_product = ANY_ID);
