// The base of the platform's decorators: every call of the seam passed on,
// unchanged, to the platform it wraps. A decorator overrides only the calls
// it records or alters; a call added to the seam needs one forwarder here.
#pragma once

#include "platform/platform.h"

namespace platform {

class ForwardingPlatform : public Platform {
public:
    explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

    // ---- WinUSB role -------------------------------------------------------
    bool usb_device_names(std::vector<std::string>& names) override { return inner_.usb_device_names(names); }
    UsbHandle usb_open(const std::string& name) override { return inner_.usb_open(name); }
    void usb_close(UsbHandle handle) override { inner_.usb_close(handle); }
    bool usb_get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index, std::uint16_t language,
                            std::span<std::uint8_t> buffer, std::size_t& transferred) override {
        return inner_.usb_get_descriptor(handle, type, index, language, buffer, transferred);
    }
    UsbError usb_control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8], std::span<std::uint8_t> buffer,
                                  std::size_t& transferred) override {
        return inner_.usb_control_transfer(handle, setup, buffer, transferred);
    }
    UsbError usb_read_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<std::uint8_t> buffer,
                           std::size_t& transferred) override {
        return inner_.usb_read_pipe(handle, pipe_id, buffer, transferred);
    }
    UsbError usb_write_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<const std::uint8_t> buffer,
                            std::size_t& transferred) override {
        return inner_.usb_write_pipe(handle, pipe_id, buffer, transferred);
    }
    bool usb_interface_settings(UsbHandle handle, std::uint8_t alternate, UsbInterfaceInfo& info) override {
        return inner_.usb_interface_settings(handle, alternate, info);
    }
    bool usb_query_pipe(UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                        UsbPipeInfo& info) override {
        return inner_.usb_query_pipe(handle, alternate, pipe_index, info);
    }
    bool usb_serial_number(UsbHandle handle, std::string& serial) override {
        return inner_.usb_serial_number(handle, serial);
    }
    bool usb_placement(UsbHandle handle, UsbPlacement& placement) override {
        return inner_.usb_placement(handle, placement);
    }

    // ---- HID role ----------------------------------------------------------
    bool hid_paths(std::vector<std::string>& paths) override { return inner_.hid_paths(paths); }
    HidHandle hid_open(const std::string& path) override { return inner_.hid_open(path); }
    void hid_close(HidHandle handle) override { inner_.hid_close(handle); }
    bool hid_attributes(HidHandle handle, HidAttributes& attributes) override {
        return inner_.hid_attributes(handle, attributes);
    }
    bool hid_caps(HidHandle handle, HidCaps& caps) override { return inner_.hid_caps(handle, caps); }
    bool hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) override {
        return inner_.hid_get_feature(handle, report);
    }
    bool hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) override {
        return inner_.hid_set_feature(handle, report);
    }
    bool hid_serial_number(HidHandle handle, std::string& serial) override {
        return inner_.hid_serial_number(handle, serial);
    }
    bool hid_placement(HidHandle handle, UsbPlacement& placement) override {
        return inner_.hid_placement(handle, placement);
    }

    // ---- Departure ---------------------------------------------------------
    DepartureWatch usb_watch_departure(UsbHandle handle) override { return inner_.usb_watch_departure(handle); }
    DepartureWatch hid_watch_departure(HidHandle handle) override { return inner_.hid_watch_departure(handle); }
    bool departed(DepartureWatch watch) override { return inner_.departed(watch); }
    void unwatch_departure(DepartureWatch watch) override { inner_.unwatch_departure(watch); }

    // ---- One process per device --------------------------------------------
    LockHandle lock_device(const std::string& key, std::uint64_t& holder) override {
        return inner_.lock_device(key, holder);
    }
    void unlock_device(LockHandle handle) override { inner_.unlock_device(handle); }

    // ---- Time and console --------------------------------------------------
    void worker_begins(const std::string& location) override { inner_.worker_begins(location); }
    void worker_ends() override { inner_.worker_ends(); }
    void sleep_ms(std::uint32_t milliseconds) override { inner_.sleep_ms(milliseconds); }
    std::uint64_t now_ms() override { return inner_.now_ms(); }
    void console_clear_quick_edit() override { inner_.console_clear_quick_edit(); }
    const char* backend_name() const override { return inner_.backend_name(); }

    // ---- Diagnostics -------------------------------------------------------
    std::string inaccessible_device_hint() override { return inner_.inaccessible_device_hint(); }
    std::vector<UnopenedDevice> unopened_devices() override { return inner_.unopened_devices(); }
    std::string last_os_error() override { return inner_.last_os_error(); }

protected:
    Platform& inner_;
};

}  // namespace platform
