// The device's vendor-defined HID interface (usage page 0xFF01, usage 0xF1)
// and whole feature reports on it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "usb/usb_device_identity.h"
#include "platform/handles.h"
#include "usb/usb_ids.h"

inline constexpr std::uint16_t VENDOR_USAGE_PAGE = 0xFF01;
inline constexpr std::uint16_t VENDOR_USAGE = 0x00F1;

struct usbhid_device {
    platform::Platform* os = nullptr;  // the platform that opened it, which every call on it goes through
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    int feature_report_length = 0;  // counts the report ID byte
    platform::HidHandleOwner handle;
};

using usbhid_device_ptr = std::unique_ptr<usbhid_device>;

usbhid_device_ptr usbhid_device_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                     serial_number serial);
// The vendor collection of the physical device `device` (usb_same_device by
// the HID interface's own place and serial number); a device known by
// neither is taken as the first match, the caller having made sure it is the
// only one.
usbhid_device_ptr usbhid_device_open_same(platform::Platform& os, const usb_device_identity& device);

// The devices of DEVICE_VENDOR_ID the HID role shows, one entry per HID
// interface path (a device with several collections gives several).
std::vector<usb_device_identity> usbhid_list_devices(platform::Platform& os);

// Feature report length, or -1 for a null device.
int usbhid_device_feature_length(const usbhid_device* device);
// Whole-report transfers. `report` must hold at least the feature report
// length; byte 0 is the report ID. The length on success, -1 on failure.
int usbhid_device_get_feature(usbhid_device* device, std::span<std::uint8_t> report);
int usbhid_device_set_feature(usbhid_device* device, std::span<const std::uint8_t> report);
