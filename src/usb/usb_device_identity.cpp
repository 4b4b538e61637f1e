#include "usb/usb_device_identity.h"

namespace {

// "USB#VID_2F5A&PID_0001&MI_01#<instance>#{guid}": the <instance> part, which
// names the device where the system gives no location.
std::string instance_part(const std::string& name) {
    const std::size_t first = name.find('#');
    if (first == std::string::npos) return name;
    const std::size_t second = name.find('#', first + 1);
    if (second == std::string::npos) return name;
    const std::size_t third = name.find('#', second + 1);
    return name.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
}

}  // namespace

usb_device_identity usb_device_identity_read(platform::UsbHandle handle, const std::string& name,
                                             std::uint16_t product_id) {
    auto& os = platform::current();
    usb_device_identity identity;
    identity.product_id = product_id;
    std::string serial;
    if (os.usb_serial_number(handle, serial)) identity.serial = serial;
    platform::UsbPlacement placement;
    if (os.usb_placement(handle, placement) && !placement.location.empty()) {
        identity.location = placement.location;
        identity.located = true;
        identity.enumeration = placement.enumeration;
    } else {
        identity.location = instance_part(name);
    }
    return identity;
}

bool usb_same_device(const usb_device_identity& device, const usb_device_identity& candidate) {
    if (device.serial) return candidate.serial == device.serial;
    return !device.location.empty() && candidate.location == device.location;
}

const char* usb_device_mode_name(std::uint16_t product_id) {
    if (product_id == DFU_PRODUCT_ID) return "DFU mode";
    if (product_id == BRIDGE_PRODUCT_ID) return "bridge";
    return "run-time";
}
