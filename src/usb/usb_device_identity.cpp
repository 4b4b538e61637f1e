#include "usb/usb_device_identity.h"

#include "platform/platform.h"

namespace {

// "USB#VID_2F5A&PID_0001&MI_01#<instance>#{guid}": the <instance> part. The
// interfaces of a composite device ("&MI_nn") are numbered in its last
// '&' field ("7&2a5b3c1&0&0001"), which is left out, so that all of them
// give the one device's part.
std::string instance_key(const std::string& name) {
    const std::size_t first = name.find('#');
    if (first == std::string::npos) return "";
    const std::size_t second = name.find('#', first + 1);
    if (second == std::string::npos) return "";
    const std::size_t third = name.find('#', second + 1);
    std::string instance = name.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
    if (name.find("&MI_") < second) {
        const std::size_t last = instance.rfind('&');
        if (last != std::string::npos) instance.resize(last);
    }
    return instance;
}

void take_placement(bool placed, const platform::UsbPlacement& placement, usb_device_identity& identity) {
    if (!placed || placement.location.empty()) return;
    identity.location = placement.location;
    identity.enumeration = placement.enumeration;
}

}  // namespace

usb_device_identity usb_device_identity_read(platform::Platform& os, platform::UsbHandle handle,
                                             const std::string& name, std::uint16_t product_id) {
    usb_device_identity identity;
    identity.product_id = product_id;
    std::string serial;
    if (os.usb_serial_number(handle, serial)) identity.serial = serial;
    platform::UsbPlacement placement;
    take_placement(os.usb_placement(handle, placement), placement, identity);
    if (identity.location.empty()) identity.instance = instance_key(name);
    return identity;
}

usb_device_identity usb_device_identity_read_hid(platform::Platform& os, platform::HidHandle handle,
                                                 std::uint16_t product_id) {
    usb_device_identity identity;
    identity.product_id = product_id;
    std::string serial;
    if (os.hid_serial_number(handle, serial)) identity.serial = serial;
    platform::UsbPlacement placement;
    take_placement(os.hid_placement(handle, placement), placement, identity);
    return identity;
}

bool usb_changed_mode(std::uint16_t before, std::uint16_t after) {
    return (before == DFU_PRODUCT_ID) != (after == DFU_PRODUCT_ID);
}

bool usb_same_device(const usb_device_identity& device, const usb_device_identity& candidate) {
    if (!device.location.empty() && !candidate.location.empty()) {
        if (candidate.location != device.location) return false;
        return usb_changed_mode(device.product_id, candidate.product_id) || candidate.serial == device.serial;
    }
    return device.serial && candidate.serial == device.serial;
}

bool usb_identity_is_weak(const usb_device_identity& device) { return device.location.empty() && !device.serial; }

std::vector<usb_device_identity> usb_select(const std::vector<usb_device_identity>& devices,
                                            const usb_selection& selection) {
    std::vector<usb_device_identity> chosen;
    for (const usb_device_identity& device : devices) {
        if (selection.serial && device.serial != *selection.serial) continue;
        if (selection.location && device.location != *selection.location) continue;
        chosen.push_back(device);
    }
    return chosen;
}

const char* usb_device_mode_name(std::uint16_t product_id) {
    if (product_id == DFU_PRODUCT_ID) return "DFU mode";
    if (product_id == BRIDGE_PRODUCT_ID) return "bridge";
    return "run-time";
}
