// Construction, time and console of the Windows backend.
#include "platform/windows/windows_platform.h"

#include <memory>

#include "platform/native.h"
#include "platform/windows/device_node.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_console.h"

namespace platform::windows {

WindowsPlatform::WindowsPlatform() : started_ms_(GetTickCount64()) { console_use_utf8_output(); }

WindowsPlatform::~WindowsPlatform() { console_release(); }

void WindowsPlatform::sleep_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }

std::uint64_t WindowsPlatform::now_ms() { return GetTickCount64() - started_ms_; }

void WindowsPlatform::console_clear_quick_edit() { windows::console_clear_quick_edit(); }

DepartureWatch WindowsPlatform::usb_watch_departure(UsbHandle handle) {
    const std::shared_ptr<const UsbOpen> open = usb_of(handle);
    return open ? departures_.watch(device_instance_id(utf8_to_wide(open->name))) : 0;
}

DepartureWatch WindowsPlatform::hid_watch_departure(HidHandle handle) {
    const std::shared_ptr<const HidOpen> open = hid_of(handle);
    return open ? departures_.watch(device_instance_id(utf8_to_wide(open->path))) : 0;
}

std::vector<UnopenedDevice> WindowsPlatform::unopened_devices() {
    std::vector<UnopenedDevice> devices = usb_failures_.unopened();
    const std::vector<UnopenedDevice> hid = hid_failures_.unopened();
    devices.insert(devices.end(), hid.begin(), hid.end());
    return devices;
}

std::string WindowsPlatform::inaccessible_device_hint() {
    for (const std::string& hint :
         {usb_failures_.in_use_hint(), hid_failures_.in_use_hint(), usb_failures_.not_winusb_hint()})
        if (!hint.empty()) return hint;
    return "";
}

}  // namespace platform::windows

std::unique_ptr<platform::Platform> platform_make_native() {
    return std::make_unique<platform::windows::WindowsPlatform>();
}
