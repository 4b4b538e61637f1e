#include "platform/windows/open_failures.h"

#include <algorithm>
#include <cwchar>

#include "platform/windows/device_node.h"
#include "platform/windows/wide_text.h"

namespace platform::windows {
namespace {

// The interface number of "&MI_xx" (two hex digits), or -1 for a device
// that is not one interface of a composite device.
int interface_number(const std::string& hardware_id) {
    const std::wstring wide = utf8_to_wide(hardware_id);
    const std::size_t at = find_nocase(wide, L"&MI_");
    if (at == std::wstring::npos) return -1;
    const std::wstring digits = wide.substr(at + 4, 2);
    wchar_t* end = nullptr;
    const long number = std::wcstol(digits.c_str(), &end, 16);
    return digits.size() == 2 && end == digits.c_str() + 2 ? static_cast<int>(number) : -1;
}

// "VID_2F5A&PID_0001&MI_00" from "USB\VID_2F5a&PID_0001&MI_00" or
// "HID\VID_2F5A&PID_0001&MI_00&Col02", in upper case.
std::string interface_key(const std::string& hardware_id) {
    std::string key = hardware_id.substr(std::min(hardware_id.size(), hardware_id.find('\\') + 1));
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const std::size_t collection = key.find("&COL");
    return collection == std::string::npos ? key : key.substr(0, collection);
}

const char* in_use_reason(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED: return "access denied";
        case ERROR_SHARING_VIOLATION: return "sharing violation";
        default: return nullptr;
    }
}

}  // namespace

std::string device_hardware_id(const std::string& name) {
    const std::string id = wide_to_utf8(device_instance_id(utf8_to_wide(name)));
    const std::size_t first = id.find('\\');
    return first == std::string::npos ? id : id.substr(0, id.find('\\', first + 1));
}

void OpenFailures::new_listing(const std::vector<std::string>& names) {
    std::set<std::string> hid_driven;
    for (const std::string& name : names)
        if (starts_with_nocase(utf8_to_wide(name), L"HID#")) hid_driven.insert(interface_key(device_hardware_id(name)));
    const std::lock_guard lock(mutex_);
    failures_.clear();
    hid_driven_ = std::move(hid_driven);
}

void OpenFailures::record(const std::string& name, DWORD error) {
    const DWORD last_error = GetLastError();
    {
        const std::lock_guard lock(mutex_);
        failures_[name] = error;
    }
    SetLastError(last_error);
}

void OpenFailures::forget(const std::string& name) {
    const std::lock_guard lock(mutex_);
    failures_.erase(name);
}

std::vector<UnopenedDevice> OpenFailures::unopened() const {
    const std::lock_guard lock(mutex_);
    std::vector<UnopenedDevice> devices;
    for (const auto& [name, error] : failures_) {
        const bool in_use = in_use_reason(error) != nullptr;
        const bool unbound = error == NOT_WINUSB && !hid_driven_.contains(interface_key(device_hardware_id(name)));
        if (!in_use && !unbound) continue;
        // "VID_2F5A&PID_0001" in the name, in either case.
        const std::wstring wide = utf8_to_wide(name);
        const std::size_t vid = find_nocase(wide, L"VID_");
        const std::size_t pid = find_nocase(wide, L"PID_");
        if (vid == std::wstring::npos || pid == std::wstring::npos) continue;
        UnopenedDevice device;
        device.vendor_id = static_cast<std::uint16_t>(std::wcstoul(wide.substr(vid + 4, 4).c_str(), nullptr, 16));
        device.product_id = static_cast<std::uint16_t>(std::wcstoul(wide.substr(pid + 4, 4).c_str(), nullptr, 16));
        device.reason = in_use ? "in use by another program" : "no driver bound";
        devices.push_back(device);
    }
    return devices;
}

std::string OpenFailures::in_use_hint() const {
    const std::lock_guard lock(mutex_);
    for (const auto& [name, error] : failures_) {
        if (const char* reason = in_use_reason(error))
            return "Device " + device_hardware_id(name) + " is present but in use by another program (" + reason +
                   "); close that program, then run the tool again";
    }
    return "";
}

std::string OpenFailures::not_winusb_hint() const {
    // Of the interfaces WinUSB refused, the one with the highest number (a
    // device's vendor interfaces follow its HID interface).
    const std::lock_guard lock(mutex_);
    std::string refused;
    int refused_interface = -2;
    for (const auto& [name, error] : failures_) {
        if (error != NOT_WINUSB || !starts_with_nocase(utf8_to_wide(name), L"USB#")) continue;
        const std::string hardware_id = device_hardware_id(name);
        if (hid_driven_.contains(interface_key(hardware_id))) continue;
        const int number = interface_number(hardware_id);
        if (number <= refused_interface) continue;
        refused = hardware_id;
        refused_interface = number;
    }
    if (refused.empty()) return "";
    const std::string binding =
        refused_interface >= 0 ? "interface " + std::to_string(refused_interface) : std::string("the device");
    return "Device " + refused + " is present but not driven by WinUSB; bind WinUSB to " + binding +
           ": docs/windows.md";
}

}  // namespace platform::windows
