#include "frontend/device_list.h"

#include <string>

#include "frontend/device_lock.h"
#include "frontend/path_choice.h"
#include "native/hid_path.h"
#include "report/console_reporter.h"
#include "report/text_format.h"

namespace {

std::string location_text(const usb_device_identity& device) {
    return device.location.empty() ? std::string("unknown") : device.location;
}

// The path a run would take on this device. A device that neither a location
// nor a serial number tells apart is only addressed when it is alone.
std::optional<run_path> path_of(platform::Platform& os, const usb_device_identity& device, bool alone,
                                std::string& name) {
    if (usb_identity_is_weak(device) && !alone) {
        name = "unknown (no location or serial to select it by)";
        return std::nullopt;
    }
    switch (choose_path(device.product_id, false, false, [&] { return hid_probe(os, device) ? 0 : -1; })) {
        case device_path::hid: name = "HID"; return run_path::hid;
        case device_path::dfu: name = "DFU"; return run_path::dfu;
        case device_path::kxp: name = "KXP"; return run_path::kxp;
        case device_path::none: break;
    }
    name = "none";
    return std::nullopt;
}

std::string candidates(const std::vector<usb_device_identity>& devices) {
    std::string lines;
    for (const usb_device_identity& device : devices) {
        lines += text_format("  %.4x:%.4x  %-19s  USB %s\n", DEVICE_VENDOR_ID, static_cast<unsigned>(device.product_id),
                             device_serial_text(device).c_str(), location_text(device).c_str());
    }
    return lines;
}

// " with serial number <TC0001>" and " at USB <1-2>", as far as asked.
std::string serial_asked(const usb_selection& selection) {
    return selection.serial ? " with serial number <" + std::string(*selection.serial) + ">" : "";
}

std::string location_asked(const usb_selection& selection) {
    return selection.location ? " at USB <" + std::string(*selection.location) + ">" : "";
}

}  // namespace

bool list_devices(platform::Platform& os, reporter& report, const std::vector<usb_device_identity>& devices) {
    if (devices.empty()) {
        report.say("No Korvix device detected\n\n");
        return false;
    }
    for (const usb_device_identity& device : devices) {
        std::optional<run_path> path;
        std::string state = "no access (" + device.no_access + ")";
        if (device.no_access.empty()) {
            // The probe talks to the device: only while no other flash-tool does.
            const device_lock lock = device_lock_take(os, device);
            if (lock.taken()) {
                std::string name;
                path = path_of(os, device, devices.size() == 1, name);
                state = "path " + name;
            } else {
                state = "in use (" + device_lock_holder_text(lock) + ")";
            }
        }
        report.listed({device, path, state});
    }
    report.say("\n");
    return true;
}

void report_several_devices(reporter& report, const std::vector<usb_device_identity>& devices,
                            const usb_selection& selection) {
    // -S can tell them apart only when each has a serial number of its own.
    bool serials_differ = !selection.serial;
    for (std::size_t i = 0; serials_differ && i < devices.size(); ++i) {
        serials_differ = devices[i].serial.has_value();
        for (std::size_t j = 0; serials_differ && j < i; ++j) serials_differ = devices[j].serial != devices[i].serial;
    }
    const char* how = serials_differ ? "-S SERIAL or -p LOCATION" : "-p LOCATION";
    const std::string text =
        text_format("ERROR: %zu Korvix devices%s are attached%s; choose one with %s:\n", devices.size(),
                    serial_asked(selection).c_str(), location_asked(selection).c_str(), how) +
        candidates(devices);
    report.error(error_of(message::several_devices, failed(failure::several_devices), text));
}

void report_no_match(reporter& report, const usb_selection& selection,
                     const std::vector<usb_device_identity>& attached) {
    const std::string asked =
        "ERROR: No Korvix device" + serial_asked(selection) + " is attached" + location_asked(selection);
    const std::string text = attached.empty() ? asked + ".\n" : asked + "; attached are:\n" + candidates(attached);
    report.error(error_of(message::no_match, failed(failure::no_device), text));
}
