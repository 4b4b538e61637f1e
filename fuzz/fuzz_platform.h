// The platform of the fuzz harnesses: one device whose enumeration answers
// (names, IDs, HID capabilities, pipes) the harness fixes, while every byte the
// device sends comes from the fuzz input, one record per call:
//   - a call that receives (descriptor, control IN, pipe read, get feature)
//     takes a length byte L and up to L bytes into the buffer, zero-filling
//     the rest;
//   - a call that sends (control OUT, pipe write, set feature) takes one byte
//     L: the transfer moves L bytes (0: all of them).
// An L of 0xFC to 0xFF fails the call instead (general failure, device gone,
// time-out, other). Once the input is used up every such call fails, so each
// poll loop of the code under test ends with its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/platform.h"

namespace fuzz {

// Reads the input front to back; past its end every read comes up empty.
class FuzzInput {
public:
    explicit FuzzInput(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool empty() const { return bytes_.empty(); }
    // The next byte, 0 once the input is used up.
    std::uint8_t byte();
    // Up to `count` next bytes.
    std::span<const std::uint8_t> take(std::size_t count);
    std::span<const std::uint8_t> rest() const { return bytes_; }

private:
    std::span<const std::uint8_t> bytes_;
};

struct FuzzDevice {
    std::uint16_t product_id = 0x0001;
    int interface_number = 0;  // the MI_ part of the WinUSB-role name
    // False: the device descriptor is made from the IDs and string requests
    // fail; true: every descriptor comes from the input.
    bool descriptors_from_input = false;
    std::uint16_t feature_report_length = 257;  // HID role, report ID included
    std::vector<platform::UsbPipeInfo> pipes;   // alternate setting 0
};

class FuzzPlatform final : public platform::Platform {
public:
    // The harness passes it to the code under test.
    FuzzPlatform(std::span<const std::uint8_t> input, FuzzDevice device);
    FuzzPlatform(const FuzzPlatform&) = delete;
    FuzzPlatform& operator=(const FuzzPlatform&) = delete;

    bool usb_device_names(std::vector<std::string>& names) override;
    platform::UsbHandle usb_open(const std::string& name) override;
    void usb_close(platform::UsbHandle) override {}
    bool usb_get_descriptor(platform::UsbHandle, std::uint8_t type, std::uint8_t index, std::uint16_t language,
                            std::span<std::uint8_t> buffer, std::size_t& transferred) override;
    platform::UsbError usb_control_transfer(platform::UsbHandle, const std::uint8_t (&setup)[8],
                                            std::span<std::uint8_t> buffer, std::size_t& transferred) override;
    platform::UsbError usb_read_pipe(platform::UsbHandle, std::uint8_t pipe_id, std::span<std::uint8_t> buffer,
                                     std::size_t& transferred) override;
    platform::UsbError usb_write_pipe(platform::UsbHandle, std::uint8_t pipe_id,
                                      std::span<const std::uint8_t> buffer, std::size_t& transferred) override;
    bool usb_interface_settings(platform::UsbHandle, std::uint8_t alternate,
                                platform::UsbInterfaceInfo& info) override;
    bool usb_query_pipe(platform::UsbHandle, std::uint8_t alternate, std::uint8_t pipe_index,
                        platform::UsbPipeInfo& info) override;
    bool usb_serial_number(platform::UsbHandle, std::string&) override { return false; }

    bool hid_paths(std::vector<std::string>& paths) override;
    platform::HidHandle hid_open(const std::string& path) override;
    void hid_close(platform::HidHandle) override {}
    bool hid_attributes(platform::HidHandle, platform::HidAttributes& attributes) override;
    bool hid_caps(platform::HidHandle, platform::HidCaps& caps) override;
    bool hid_get_feature(platform::HidHandle, std::span<std::uint8_t> report) override;
    bool hid_set_feature(platform::HidHandle, std::span<const std::uint8_t> report) override;
    bool hid_serial_number(platform::HidHandle, std::string&) override { return false; }

    void sleep_ms(std::uint32_t milliseconds) override { clock_ms_ += milliseconds; }
    std::uint64_t now_ms() override { return clock_ms_; }
    const char* backend_name() const override { return "fuzz"; }
    void console_clear_quick_edit() override {}

private:
    platform::UsbError receive(std::span<std::uint8_t> buffer, std::size_t& transferred);
    platform::UsbError send(std::size_t size, std::size_t& transferred);

    FuzzInput input_;
    FuzzDevice device_;
    std::uint64_t clock_ms_ = 0;
};

}  // namespace fuzz
