#include "frontend/device_list.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "frontend/device_lock.h"
#include "frontend/path_choice.h"
#include "native/hid_procedures.h"

namespace {

bool plain(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7F && c != '"' && c != '\\';
    });
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string location_text(const usb_device_identity& device) {
    return device.location.empty() ? std::string("unknown") : device.location;
}

// The path a run would take on this device. A device that neither a location
// nor a serial number tells apart is only addressed when it is alone.
const char* path_name(platform::Platform& os, const usb_device_identity& device, bool alone) {
    if (usb_identity_is_weak(device) && !alone) return "unknown (no location or serial to select it by)";
    switch (choose_path(device.product_id, false, false, [&] { return hid_probe(os, device); })) {
        case device_path::hid: return "HID";
        case device_path::dfu: return "DFU";
        case device_path::kxp: return "KXP";
        case device_path::none: break;
    }
    return "none";
}

void print_candidates(const std::vector<usb_device_identity>& devices) {
    for (const usb_device_identity& device : devices) {
        std::fprintf(stderr, "  %.4x:%.4x  %-19s  USB %s\n", DEVICE_VENDOR_ID, static_cast<unsigned>(device.product_id),
                     device_serial_text(device).c_str(), location_text(device).c_str());
    }
}

// " with serial number <TC0001>" and " at USB <1-2>", as far as asked.
std::string serial_asked(const usb_selection& selection) {
    return selection.serial ? " with serial number <" + std::string(*selection.serial) + ">" : "";
}

std::string location_asked(const usb_selection& selection) {
    return selection.location ? " at USB <" + std::string(*selection.location) + ">" : "";
}

}  // namespace

std::string device_serial_text(const usb_device_identity& device) {
    if (!device.no_access.empty()) return "serial unknown";
    if (!device.serial) return "no serial";
    return "serial " + (plain(*device.serial) ? *device.serial : quoted(*device.serial));
}

bool list_devices(platform::Platform& os, const std::vector<usb_device_identity>& devices) {
    if (devices.empty()) {
        std::puts("No Korvix device detected\n");
        return false;
    }
    for (const usb_device_identity& device : devices) {
        std::string path = "no access (" + device.no_access + ")";
        if (device.no_access.empty()) {
            // The probe talks to the device: only while no other flash-tool does.
            const device_lock lock = device_lock_take(os, device);
            path = lock.taken() ? std::string("path ") + path_name(os, device, devices.size() == 1)
                                : "in use (" + device_lock_holder_text(lock) + ")";
        }
        std::printf("%.4x:%.4x  %-8s  %-19s  USB %-10s  %s\n", DEVICE_VENDOR_ID,
                    static_cast<unsigned>(device.product_id), usb_device_mode_name(device.product_id),
                    device_serial_text(device).c_str(), location_text(device).c_str(), path.c_str());
    }
    std::puts("");
    return true;
}

void print_several_devices(const std::vector<usb_device_identity>& devices, const usb_selection& selection) {
    // -S can tell them apart only when each has a serial number of its own.
    bool serials_differ = !selection.serial;
    for (std::size_t i = 0; serials_differ && i < devices.size(); ++i) {
        serials_differ = devices[i].serial.has_value();
        for (std::size_t j = 0; serials_differ && j < i; ++j) serials_differ = devices[j].serial != devices[i].serial;
    }
    const char* how = serials_differ ? "-S SERIAL or -p LOCATION" : "-p LOCATION";
    std::fflush(stdout);
    std::fprintf(stderr, "ERROR: %zu Korvix devices%s are attached%s; choose one with %s:\n", devices.size(),
                 serial_asked(selection).c_str(), location_asked(selection).c_str(), how);
    print_candidates(devices);
}

void print_no_match(const usb_selection& selection, const std::vector<usb_device_identity>& attached) {
    std::fflush(stdout);
    const std::string asked =
        "ERROR: No Korvix device" + serial_asked(selection) + " is attached" + location_asked(selection);
    if (attached.empty()) {
        std::fprintf(stderr, "%s.\n", asked.c_str());
        return;
    }
    std::fprintf(stderr, "%s; attached are:\n", asked.c_str());
    print_candidates(attached);
}
