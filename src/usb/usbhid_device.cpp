#include "usb/usbhid_device.h"

#include <functional>
#include <string>
#include <vector>

namespace {

bool serial_matches(platform::Platform& os, platform::HidHandle handle, serial_number serial) {
    if (!serial) return true;
    std::string actual;
    return os.hid_serial_number(handle, actual) && actual == *serial;
}

// The first vendor collection with the IDs (or ANY_ID) that `accept` takes.
usbhid_device_ptr open_first(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                             const std::function<bool(platform::HidHandle, const platform::HidAttributes&)>& accept) {
    std::vector<std::string> paths;
    if (!os.hid_paths(paths)) return nullptr;
    for (const std::string& path : paths) {
        platform::HidHandleOwner handle(os, os.hid_open(path));
        if (!handle) continue;
        platform::HidAttributes attributes;
        os.hid_attributes(handle.get(), attributes);
        if (vendor_id != ANY_ID && attributes.vendor_id != vendor_id) continue;
        if (product_id != ANY_ID && attributes.product_id != product_id) continue;
        platform::HidCaps caps;
        if (!os.hid_caps(handle.get(), caps)) continue;
        if (caps.usage_page != VENDOR_USAGE_PAGE || caps.usage != VENDOR_USAGE) continue;
        if (!accept(handle.get(), attributes)) continue;
        auto device = std::make_unique<usbhid_device>();
        device->os = &os;
        device->vendor_id = attributes.vendor_id;
        device->product_id = attributes.product_id;
        device->feature_report_length = caps.feature_report_length;
        device->handle = std::move(handle);
        return device;
    }
    return nullptr;
}

}  // namespace

usbhid_device_ptr usbhid_device_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                     serial_number serial) {
    return open_first(os, vendor_id, product_id, [&](platform::HidHandle handle, const platform::HidAttributes&) {
        return serial_matches(os, handle, serial);
    });
}

usbhid_device_ptr usbhid_device_open_same(platform::Platform& os, const usb_device_identity& device) {
    return open_first(os, DEVICE_VENDOR_ID, device.product_id,
                      [&](platform::HidHandle handle, const platform::HidAttributes& attributes) {
                          return usb_identity_is_weak(device) ||
                                 usb_same_device(device,
                                                 usb_device_identity_read_hid(os, handle, attributes.product_id));
                      });
}

std::vector<usb_device_identity> usbhid_list_devices(platform::Platform& os) {
    std::vector<usb_device_identity> devices;
    std::vector<std::string> paths;
    if (!os.hid_paths(paths)) return devices;
    for (const std::string& path : paths) {
        platform::HidHandleOwner handle(os, os.hid_open(path));
        if (!handle) continue;
        platform::HidAttributes attributes;
        if (!os.hid_attributes(handle.get(), attributes) || attributes.vendor_id != DEVICE_VENDOR_ID) continue;
        devices.push_back(usb_device_identity_read_hid(os, handle.get(), attributes.product_id));
    }
    return devices;
}

int usbhid_device_feature_length(const usbhid_device* device) {
    return device != nullptr ? device->feature_report_length : -1;
}

int usbhid_device_get_feature(usbhid_device* device, std::span<std::uint8_t> report) {
    if (device == nullptr || !device->handle || device->feature_report_length <= 0 ||
        report.size() < static_cast<std::size_t>(device->feature_report_length))
        return -1;
    const auto whole = report.first(static_cast<std::size_t>(device->feature_report_length));
    if (!device->os->hid_get_feature(device->handle.get(), whole)) return -1;
    return device->feature_report_length;
}

int usbhid_device_set_feature(usbhid_device* device, std::span<const std::uint8_t> report) {
    if (device == nullptr || !device->handle || device->feature_report_length <= 0 ||
        report.size() < static_cast<std::size_t>(device->feature_report_length))
        return -1;
    const auto whole = report.first(static_cast<std::size_t>(device->feature_report_length));
    if (!device->os->hid_set_feature(device->handle.get(), whole)) return -1;
    return device->feature_report_length;
}
