#include "dfu/dfu_device.h"

#include <utility>

namespace {

dfu_device_ptr dfu_device_over(usb_device_ptr usb) {
    if (!usb) return nullptr;
    auto device = std::make_unique<dfu_device>();
    device->usb = std::move(usb);
    return device;
}

}  // namespace

dfu_device_ptr dfu_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id, int interface_number,
                        serial_number serial) {
    return dfu_device_over(usb_device_open(os, vendor_id, product_id, interface_number, serial));
}

dfu_device_ptr dfu_open_same(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                             int interface_number, const usb_device_identity& device) {
    return dfu_device_over(usb_device_open_same(os, vendor_id, product_id, interface_number, device));
}

const char* dfu_status_text(const dfu_device& device) { return device.status_text.data(); }

usb_device& dfu_usb_device(dfu_device& device) { return *device.usb; }
