// The Configuration Manager's device tree: from a device name or HID path to
// the USB device node it belongs to, and that node's place on the bus.
#pragma once

#include <string>
#include <string_view>

namespace platform::windows {

// Parent steps taken at most from a HID collection or an interface up to its
// USB device (two on every real tree); a longer walk is a broken answer.
inline constexpr int MAX_PARENT_STEPS = 8;

// The device instance ID behind a DOS device name or a "\\?\" device path:
// "USB#VID_2F5A&PID_0001&MI_01#7&1a&0&0001#{guid}" gives
// "USB\VID_2F5A&PID_0001&MI_01\7&1a&0&0001".
std::wstring device_instance_id(std::wstring_view name);

// A USB device node proper: enumerated by the USB hub ("USB\") and not one
// interface of a composite device ("&MI_").
bool is_usb_device_id(std::wstring_view instance_id);

// The instance ID of the USB device node at or above the node `instance_id`
// (a HID collection's, an interface's or the device's own); false when there
// is no such node.
bool usb_device_instance_id(std::wstring instance_id, std::wstring& usb_device_id);

// The location of the USB device node at or above the node `instance_id`:
// its first location path ("PCIROOT(0)#PCI(1400)#USB(2)"), else its location
// information ("Port_#0002.Hub_#0001"). False when there is no such node or
// it has no location.
bool usb_device_location(std::wstring instance_id, std::string& location);

}  // namespace platform::windows
