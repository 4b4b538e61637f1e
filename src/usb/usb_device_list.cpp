// The attached devices of the vendor, each once, from both roles of the
// platform: a device whose DFU interface has no WinUSB binding is still seen
// through its HID interface, and one without a HID interface (the bridge, a
// device in DFU mode) through WinUSB.
#include <algorithm>

#include "platform/platform.h"
#include "usb/usb_device.h"
#include "usb/usb_device_identity.h"
#include "usb/usbhid_device.h"

namespace {

// Whether `entry` and `seen` are sightings of one device. Located sightings
// are one device exactly when they share the port. Without a port, the
// WinUSB names of one device share its instance; a HID interface can only be
// told by its IDs and serial number, so it joins a device that has the same
// ones rather than count a device twice.
bool one_device(const usb_device_identity& seen, const usb_device_identity& entry, bool entry_from_hid) {
    if (!seen.location.empty() && !entry.location.empty()) return seen.location == entry.location;
    if (entry_from_hid) return seen.product_id == entry.product_id && seen.serial == entry.serial;
    return !entry.instance.empty() && seen.instance == entry.instance;
}

void add_sightings(std::vector<usb_device_identity>& devices, std::vector<usb_device_identity> sightings,
                   bool from_hid) {
    for (usb_device_identity& entry : sightings) {
        const bool known = std::any_of(devices.begin(), devices.end(), [&](const usb_device_identity& seen) {
            return one_device(seen, entry, from_hid);
        });
        if (!known) devices.push_back(std::move(entry));
    }
}

}  // namespace

std::vector<usb_device_identity> usb_list_devices(platform::Platform& os) {
    std::vector<usb_device_identity> devices;
    add_sightings(devices, usb_list_winusb_devices(os), false);
    add_sightings(devices, usbhid_list_devices(os), true);
    // Systems list devices in an order of their own (libusb: the newest
    // first); by port they read the same on every system.
    std::stable_sort(devices.begin(), devices.end(), [](const usb_device_identity& a, const usb_device_identity& b) {
        return a.location < b.location;
    });
    return devices;
}

std::vector<usb_device_identity> usb_list_unopened(platform::Platform& os,
                                                   const std::vector<usb_device_identity>& listed) {
    std::vector<usb_device_identity> devices;
    for (const platform::UnopenedDevice& seen : os.unopened_devices()) {
        if (seen.vendor_id != DEVICE_VENDOR_ID) continue;
        // Without a location only the product ID can tell that one interface
        // of a listed device is what could not be opened.
        const auto same = [&](const usb_device_identity& device) {
            return seen.location.empty() || device.location.empty() ? device.product_id == seen.product_id
                                                                    : device.location == seen.location;
        };
        if (std::any_of(listed.begin(), listed.end(), same) || std::any_of(devices.begin(), devices.end(), same))
            continue;
        usb_device_identity device;
        device.product_id = seen.product_id;
        device.location = seen.location;
        device.no_access = seen.reason;
        devices.push_back(std::move(device));
    }
    return devices;
}
