#include "frontend/device_list.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "frontend/path_choice.h"
#include "native/hid_procedures.h"

namespace {

std::string serial_text(const usb_device_identity& device) {
    return device.serial ? "serial " + *device.serial : std::string("no serial");
}

// The path a run would take on this device. The native probe can only be
// aimed at a device that has a serial number, or at the only one attached.
const char* path_name(const usb_device_identity& device, bool alone) {
    if (!device.serial && !alone && device.product_id != BRIDGE_PRODUCT_ID && device.product_id != DFU_PRODUCT_ID)
        return "unknown (no serial to select it by)";
    const serial_number serial = device.serial ? serial_number(std::string_view(*device.serial)) : std::nullopt;
    switch (choose_path(device.product_id, false, false,
                        [&] { return hid_probe(DEVICE_VENDOR_ID, device.product_id, serial); })) {
        case device_path::hid: return "HID";
        case device_path::dfu: return "DFU";
        case device_path::kxp: return "KXP";
        case device_path::none: break;
    }
    return "none";
}

}  // namespace

bool list_devices(const std::vector<usb_device_identity>& devices) {
    if (devices.empty()) {
        std::puts("No Korvix device detected\n");
        return false;
    }
    for (const usb_device_identity& device : devices) {
        std::printf("%.4x:%.4x  %-8s  %-19s  USB %-10s  path %s\n", DEVICE_VENDOR_ID,
                    static_cast<unsigned>(device.product_id), usb_device_mode_name(device.product_id),
                    serial_text(device).c_str(), device.location.c_str(), path_name(device, devices.size() == 1));
    }
    std::puts("");
    return true;
}

void print_several_devices(const std::vector<usb_device_identity>& devices) {
    std::fflush(stdout);
    std::fprintf(stderr, "ERROR: %zu Korvix devices are attached; choose one with -S SERIAL:\n", devices.size());
    for (const usb_device_identity& device : devices) {
        std::fprintf(stderr, "  %.4x:%.4x  %-19s  USB %s\n", DEVICE_VENDOR_ID,
                     static_cast<unsigned>(device.product_id), serial_text(device).c_str(), device.location.c_str());
    }
}
