// Finding and opening a device through the WinUSB role of the platform, and
// the transfers on it (class control requests, bulk pipes).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/handles.h"
#include "usb/usb_device_identity.h"
#include "usb/usb_ids.h"

struct usb_device {
    platform::Platform* os = nullptr;  // the platform that opened it, which every call on it goes through
    std::uint16_t vendor_id = 0;   // wanted before the open, idVendor after it
    std::uint16_t product_id = 0;  // wanted before the open, idProduct after it
    std::uint16_t release = 0;     // bcdDevice
    int interface_number = 0;      // wanted interface; wIndex of class requests
    platform::UsbHandleOwner handle;
    // Why the last control transfer failed (the platform's last-error value).
    platform::UsbError last_error = platform::UsbError::none;
};

using usb_device_ptr = std::unique_ptr<usb_device>;

// First matching device: vendor and product ID (or ANY_ID), preferring a name
// that carries the interface number; null when none opens through WinUSB.
usb_device_ptr usb_device_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                               int interface_number, serial_number serial);
// The same, on the physical device `device` only (usb_same_device), e.g.
// after it enumerated again in another mode. A device known by neither
// location nor serial number is taken as the first match: the caller has made
// sure it is the only one.
usb_device_ptr usb_device_open_same(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                    int interface_number, const usb_device_identity& device);

std::uint16_t usb_device_vendor_id(const usb_device& device);
std::uint16_t usb_device_product_id(const usb_device& device);
std::uint16_t usb_device_release(const usb_device& device);

// The devices of DEVICE_VENDOR_ID that open through the WinUSB role, one
// entry per opened name (a composite device gives one per interface).
std::vector<usb_device_identity> usb_list_winusb_devices(platform::Platform& os);

// Class requests to the device's interface (bmRequestType 0xA1 / 0x21).
// 0 and the byte count in `transferred`; -1 on failure with `transferred` 0
// and the reason in device.last_error. `buffer` must hold `length` bytes.
int usb_device_control_in(usb_device& device, std::uint8_t request, std::uint16_t value,
                          std::span<std::uint8_t> buffer, std::uint16_t length, int& transferred);
int usb_device_control_out(usb_device& device, std::uint8_t request, std::uint16_t value,
                           std::span<const std::uint8_t> buffer, std::uint16_t length,
                           int& transferred);

// Bulk transfer: reads when bit 7 of the pipe identifier is set, else writes.
// The number of bytes transferred, or -1.
int usb_device_transfer(usb_device& device, std::uint8_t pipe_id, std::span<std::uint8_t> buffer);

// First bulk IN and first bulk OUT pipe of alternate setting 0. 1 when both
// were found, 0 when not both, -1 on a platform failure.
int usb_device_find_pipes(usb_device& device, std::uint8_t& in_pipe, std::uint8_t& out_pipe);
