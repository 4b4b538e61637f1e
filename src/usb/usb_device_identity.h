// Which physical device a lookup found: enough to tell it apart from other
// attached devices of the vendor, and to recognise it when it enumerates
// again after a restart or a detach.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"
#include "usb/usb_ids.h"

struct usb_device_identity {
    std::uint16_t product_id = 0;
    std::optional<std::string> serial;  // its serial number string, when it has one
    // Its port (see platform::UsbPlacement); where the system cannot tell, the
    // instance part of the device name.
    std::string location;
    bool located = false;  // the location came from the system
    // Differs for every enumeration; none where the system gives no token.
    std::optional<std::uint32_t> enumeration;
};

// The identity of a device opened from `name` whose device descriptor gave
// `product_id`.
usb_device_identity usb_device_identity_read(platform::UsbHandle handle, const std::string& name,
                                             std::uint16_t product_id);

// Whether `candidate` is the device `device`: the same serial number when the
// device has one, else the same location.
bool usb_same_device(const usb_device_identity& device, const usb_device_identity& candidate);

// Every attached device with DEVICE_VENDOR_ID, one entry per device however
// many interfaces it has, in the platform's order; with `serial`, only those
// whose serial number string equals it. Devices that no interface of opens
// through the WinUSB role are not seen.
std::vector<usb_device_identity> usb_list_devices(serial_number serial);

// "run-time", "DFU mode" or "bridge", from the product ID.
const char* usb_device_mode_name(std::uint16_t product_id);
