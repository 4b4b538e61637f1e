#include "platform/linux/linux_platform.h"

#include <cerrno>
#include <ctime>

#include "platform/native.h"

namespace platform::linux_backend {

LinuxPlatform::LinuxPlatform(HidrawConfig hidraw)
    : hid_(std::move(hidraw)), start_(std::chrono::steady_clock::now()) {}

bool LinuxPlatform::usb_device_names(std::vector<std::string>& names) { return fresh(usb_).device_names(names); }
UsbHandle LinuxPlatform::usb_open(const std::string& name) { return fresh(usb_).open(name); }
void LinuxPlatform::usb_close(UsbHandle handle) { fresh(usb_).close(handle); }
bool LinuxPlatform::usb_get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index,
                                       std::uint16_t language, std::span<std::uint8_t> buffer,
                                       std::size_t& transferred) {
    return fresh(usb_).get_descriptor(handle, type, index, language, buffer, transferred);
}
UsbError LinuxPlatform::usb_control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8],
                                             std::span<std::uint8_t> buffer, std::size_t& transferred) {
    return fresh(usb_).control_transfer(handle, setup, buffer, transferred);
}
UsbError LinuxPlatform::usb_read_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<std::uint8_t> buffer,
                                      std::size_t& transferred) {
    return fresh(usb_).read_pipe(handle, pipe_id, buffer, transferred);
}
UsbError LinuxPlatform::usb_write_pipe(UsbHandle handle, std::uint8_t pipe_id,
                                       std::span<const std::uint8_t> buffer, std::size_t& transferred) {
    return fresh(usb_).write_pipe(handle, pipe_id, buffer, transferred);
}
bool LinuxPlatform::usb_interface_settings(UsbHandle handle, std::uint8_t alternate, UsbInterfaceInfo& info) {
    return fresh(usb_).interface_settings(handle, alternate, info);
}
bool LinuxPlatform::usb_query_pipe(UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                                   UsbPipeInfo& info) {
    return fresh(usb_).query_pipe(handle, alternate, pipe_index, info);
}
bool LinuxPlatform::usb_serial_number(UsbHandle handle, std::string& serial) {
    return fresh(usb_).serial_number(handle, serial);
}

bool LinuxPlatform::usb_placement(UsbHandle handle, UsbPlacement& placement) {
    return fresh(usb_).placement(handle, placement);
}

bool LinuxPlatform::hid_paths(std::vector<std::string>& paths) { return fresh(hid_).paths(paths); }
HidHandle LinuxPlatform::hid_open(const std::string& path) { return fresh(hid_).open(path); }
void LinuxPlatform::hid_close(HidHandle handle) { fresh(hid_).close(handle); }
bool LinuxPlatform::hid_attributes(HidHandle handle, HidAttributes& attributes) {
    return fresh(hid_).attributes(handle, attributes);
}
bool LinuxPlatform::hid_caps(HidHandle handle, HidCaps& caps) { return fresh(hid_).caps(handle, caps); }
bool LinuxPlatform::hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) {
    return fresh(hid_).get_feature(handle, report);
}
bool LinuxPlatform::hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) {
    return fresh(hid_).set_feature(handle, report);
}
bool LinuxPlatform::hid_serial_number(HidHandle handle, std::string& serial) {
    return fresh(hid_).serial_number(handle, serial);
}

bool LinuxPlatform::hid_placement(HidHandle handle, UsbPlacement& placement) {
    return fresh(hid_).placement(handle, placement);
}

void LinuxPlatform::sleep_ms(std::uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal cuts the sleep short; sleep what is left of it.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

std::uint64_t LinuxPlatform::now_ms() {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

std::vector<UnopenedDevice> LinuxPlatform::unopened_devices() {
    std::vector<UnopenedDevice> devices = usb_.unopened();
    const std::vector<UnopenedDevice> hid = hid_.unopened();
    devices.insert(devices.end(), hid.begin(), hid.end());
    return devices;
}

std::string LinuxPlatform::last_os_error() {
    return !usb_.last_error().empty() ? usb_.last_error() : hid_.last_error();
}

std::string LinuxPlatform::inaccessible_device_hint() {
    return inaccessible_hint_text(usb_.denied_device(), hid_.denied_device());
}

std::string inaccessible_hint_text(const std::string& usb_denied, const std::string& hid_denied) {
    const std::string& device = !usb_denied.empty() ? usb_denied : hid_denied;
    if (device.empty()) return "";
    return "Device " + device + " is present but not accessible (permission denied); the udev rule " +
           FLASH_TOOL_UDEV_RULE +
           " grants access to the user at the seat: install it there if it is missing, then plug the device "
           "in again";
}

}  // namespace platform::linux_backend

std::unique_ptr<platform::Platform> platform_make_native() {
    return std::make_unique<platform::linux_backend::LinuxPlatform>();
}
