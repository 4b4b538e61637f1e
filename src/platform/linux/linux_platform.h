// The Linux backend of the platform seam: the WinUSB role on libusb-1.0,
// the HID role on hidraw, time from the monotonic clock.
//
// Threads: every call may be made from several threads at once, on
// different devices, through one LinuxPlatform; listings (usb_device_names,
// hid_paths) may run while other threads transfer. A handle is used by one
// thread at a time. Transfers on different handles run side by side: the
// tables of opens, device locks and unopened devices are locked only while
// an entry is looked up, added or removed, never across a transfer or an
// ioctl. last_os_error answers for the calling thread's last call.
#pragma once

#include <chrono>

#include "platform/linux/device_locks.h"
#include "platform/linux/hidraw_role.h"
#include "platform/linux/libusb_role.h"
#include "platform/platform.h"

namespace platform::linux_backend {

class LinuxPlatform final : public Platform {
public:
    explicit LinuxPlatform(HidrawConfig hidraw = {});

    bool usb_device_names(std::vector<std::string>& names) override;
    UsbHandle usb_open(const std::string& name) override;
    void usb_close(UsbHandle handle) override;
    bool usb_get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index, std::uint16_t language,
                            std::span<std::uint8_t> buffer, std::size_t& transferred) override;
    UsbError usb_control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8], std::span<std::uint8_t> buffer,
                                  std::size_t& transferred) override;
    UsbError usb_read_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<std::uint8_t> buffer,
                           std::size_t& transferred) override;
    UsbError usb_write_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<const std::uint8_t> buffer,
                            std::size_t& transferred) override;
    bool usb_interface_settings(UsbHandle handle, std::uint8_t alternate, UsbInterfaceInfo& info) override;
    bool usb_query_pipe(UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                        UsbPipeInfo& info) override;
    bool usb_serial_number(UsbHandle handle, std::string& serial) override;
    bool usb_placement(UsbHandle handle, UsbPlacement& placement) override;

    bool hid_paths(std::vector<std::string>& paths) override;
    HidHandle hid_open(const std::string& path) override;
    void hid_close(HidHandle handle) override;
    bool hid_attributes(HidHandle handle, HidAttributes& attributes) override;
    bool hid_caps(HidHandle handle, HidCaps& caps) override;
    bool hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) override;
    bool hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) override;
    bool hid_serial_number(HidHandle handle, std::string& serial) override;
    bool hid_placement(HidHandle handle, UsbPlacement& placement) override;

    void sleep_ms(std::uint32_t milliseconds) override;
    std::uint64_t now_ms() override;
    // Linux terminals have no quick-edit mode to clear.
    void console_clear_quick_edit() override {}
    const char* backend_name() const override { return "Linux"; }

    std::string inaccessible_device_hint() override;
    std::vector<UnopenedDevice> unopened_devices() override;
    std::string last_os_error() override;

    LockHandle lock_device(const std::string& key, std::uint64_t& holder) override {
        return locks_.lock(key, holder);
    }
    void unlock_device(LockHandle handle) override { locks_.unlock(handle); }

private:
    // The role a call goes to, the calling thread's error of an earlier call
    // forgotten (the other role's too), so that last_os_error is this call's.
    template <typename Role>
    Role& fresh(Role& role) {
        usb_.clear_error();
        hid_.clear_error();
        return role;
    }

    LibusbRole usb_;
    HidrawRole hid_;
    DeviceLocks locks_{device_lock_directory()};
    std::chrono::steady_clock::time_point start_;
};

// The one-line hint for a device seen but not openable for lack of
// permission; "" when there was none.
std::string inaccessible_hint_text(const std::string& usb_denied, const std::string& hid_denied);

}  // namespace platform::linux_backend
