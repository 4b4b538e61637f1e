// Which physical device a lookup found: enough to tell it apart from other
// attached devices of the vendor, and to recognise it when it enumerates
// again after a restart or a detach, in whatever mode.
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
    // Its port (see platform::UsbPlacement); empty where the system cannot
    // tell. A device keeps its port in every mode.
    std::string location;
    // Differs for every enumeration; none where the system gives no token.
    std::optional<std::uint32_t> enumeration;
    // Where there is no location: what the system's names share for all the
    // interfaces of this one enumeration of the device, so that it is
    // counted once. Empty where the name tells nothing.
    std::string instance;
    // Why the system would not open it ("permission denied", "busy", ...);
    // empty for a device the tool can use.
    std::string no_access;
};

// The identity of a device opened through the WinUSB role from `name`
// whose device descriptor gave `product_id`.
usb_device_identity usb_device_identity_read(platform::Platform& os, platform::UsbHandle handle,
                                             const std::string& name, std::uint16_t product_id);
// The identity of the device behind an opened HID interface.
usb_device_identity usb_device_identity_read_hid(platform::Platform& os, platform::HidHandle handle,
                                                 std::uint16_t product_id);

// Whether a device went from run-time mode to DFU mode or back between two
// sightings (its product ID became or stopped being DFU_PRODUCT_ID).
bool usb_changed_mode(std::uint16_t before, std::uint16_t after);

// Whether `candidate` is the device `device`: on the same port and with the
// same serial number (unless it changed mode: a boot loader may report
// another serial number, or none); where either port is unknown, the same
// serial number. A device with neither matches nothing here: only a single
// candidate can be taken for it (usb_identity_is_weak).
bool usb_same_device(const usb_device_identity& device, const usb_device_identity& candidate);

// Neither a location nor a serial number tells this device apart.
bool usb_identity_is_weak(const usb_device_identity& device);

// Every attached device with DEVICE_VENDOR_ID, once however many interfaces
// it has and whichever role (WinUSB or HID) the system lets the tool see it
// through, sorted by location.
std::vector<usb_device_identity> usb_list_devices(platform::Platform& os);

// The devices of DEVICE_VENDOR_ID that the last listing saw but could not
// open, each once, none of them one of `listed`.
std::vector<usb_device_identity> usb_list_unopened(platform::Platform& os,
                                                   const std::vector<usb_device_identity>& listed);

// What the command line asks for: a serial number (-S) and a location (-p).
struct usb_selection {
    serial_number serial;
    std::optional<std::string_view> location;
};

// Those of `devices` that fit the selection.
std::vector<usb_device_identity> usb_select(const std::vector<usb_device_identity>& devices,
                                            const usb_selection& selection);

// "run-time", "DFU mode" or "bridge", from the product ID.
const char* usb_device_mode_name(std::uint16_t product_id);
