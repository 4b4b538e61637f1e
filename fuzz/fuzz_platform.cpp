#include "fuzz/fuzz_platform.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "usb/le.h"
#include "usb/usb_ids.h"
#include "usb/usbhid_device.h"

namespace fuzz {
namespace {

constexpr platform::UsbHandle HANDLE = 1;
constexpr std::uint8_t FIRST_FAILURE = 0xFC;
constexpr std::array<platform::UsbError, 4> FAILURES = {
    platform::UsbError::general_failure, platform::UsbError::device_gone, platform::UsbError::timeout,
    platform::UsbError::other};
constexpr std::uint8_t DESCRIPTOR_DEVICE = 1;
constexpr char HID_PATH[] = "fuzz-hid";

}  // namespace

std::uint8_t FuzzInput::byte() {
    if (bytes_.empty()) return 0;
    const std::uint8_t value = bytes_[0];
    bytes_ = bytes_.subspan(1);
    return value;
}

std::span<const std::uint8_t> FuzzInput::take(std::size_t count) {
    const auto taken = bytes_.first(std::min(count, bytes_.size()));
    bytes_ = bytes_.subspan(taken.size());
    return taken;
}

FuzzPlatform::FuzzPlatform(std::span<const std::uint8_t> input, FuzzDevice device)
    : input_(input), device_(std::move(device)) {}

platform::UsbError FuzzPlatform::receive(std::span<std::uint8_t> buffer, std::size_t& transferred) {
    transferred = 0;
    if (input_.empty()) return platform::UsbError::other;
    const std::uint8_t length = input_.byte();
    if (length >= FIRST_FAILURE) return FAILURES[length - FIRST_FAILURE];
    const auto bytes = input_.take(std::min<std::size_t>(length, buffer.size()));
    std::fill(std::copy(bytes.begin(), bytes.end(), buffer.begin()), buffer.end(), 0);
    transferred = bytes.size();
    return platform::UsbError::none;
}

platform::UsbError FuzzPlatform::send(std::size_t size, std::size_t& transferred) {
    transferred = 0;
    if (input_.empty()) return platform::UsbError::other;
    const std::uint8_t length = input_.byte();
    if (length >= FIRST_FAILURE) return FAILURES[length - FIRST_FAILURE];
    transferred = length == 0 ? size : std::min<std::size_t>(length, size);
    return platform::UsbError::none;
}

bool FuzzPlatform::usb_device_names(std::vector<std::string>& names) {
    char name[96];
    std::snprintf(name, sizeof name, "USB#VID_%.4X&PID_%.4X&MI_%.2d#fuzz#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                  static_cast<unsigned>(DEVICE_VENDOR_ID), static_cast<unsigned>(device_.product_id),
                  device_.interface_number);
    names.assign(1, name);
    return true;
}

platform::UsbHandle FuzzPlatform::usb_open(const std::string&) { return HANDLE; }

bool FuzzPlatform::usb_get_descriptor(platform::UsbHandle, std::uint8_t type, std::uint8_t, std::uint16_t,
                                      std::span<std::uint8_t> buffer, std::size_t& transferred) {
    if (device_.descriptors_from_input) return receive(buffer, transferred) == platform::UsbError::none;
    transferred = 0;
    if (type != DESCRIPTOR_DEVICE) return false;
    std::array<std::uint8_t, 18> descriptor{18, DESCRIPTOR_DEVICE, 0x00, 0x02, 0, 0, 0, 64};
    put_le16(descriptor, 8, DEVICE_VENDOR_ID);
    put_le16(descriptor, 10, device_.product_id);
    put_le16(descriptor, 12, 0x0100);
    transferred = std::min(descriptor.size(), buffer.size());
    std::copy_n(descriptor.begin(), transferred, buffer.begin());
    return true;
}

platform::UsbError FuzzPlatform::usb_control_transfer(platform::UsbHandle, const std::uint8_t (&setup)[8],
                                                      std::span<std::uint8_t> buffer, std::size_t& transferred) {
    if ((setup[0] & 0x80) != 0) return receive(buffer, transferred);
    return send(buffer.size(), transferred);
}

platform::UsbError FuzzPlatform::usb_read_pipe(platform::UsbHandle, std::uint8_t, std::span<std::uint8_t> buffer,
                                               std::size_t& transferred) {
    return receive(buffer, transferred);
}

platform::UsbError FuzzPlatform::usb_write_pipe(platform::UsbHandle, std::uint8_t,
                                                std::span<const std::uint8_t> buffer, std::size_t& transferred) {
    return send(buffer.size(), transferred);
}

bool FuzzPlatform::usb_interface_settings(platform::UsbHandle, std::uint8_t alternate,
                                          platform::UsbInterfaceInfo& info) {
    if (alternate != 0) return false;
    info = {};
    info.interface_number = static_cast<std::uint8_t>(device_.interface_number);
    info.num_endpoints = static_cast<std::uint8_t>(device_.pipes.size());
    info.interface_class = 0xFF;
    return true;
}

bool FuzzPlatform::usb_query_pipe(platform::UsbHandle, std::uint8_t alternate, std::uint8_t pipe_index,
                                  platform::UsbPipeInfo& info) {
    if (alternate != 0 || pipe_index >= device_.pipes.size()) return false;
    info = device_.pipes[pipe_index];
    return true;
}

bool FuzzPlatform::hid_paths(std::vector<std::string>& paths) {
    paths.assign(1, HID_PATH);
    return true;
}

platform::HidHandle FuzzPlatform::hid_open(const std::string&) { return HANDLE; }

bool FuzzPlatform::hid_attributes(platform::HidHandle, platform::HidAttributes& attributes) {
    attributes = {DEVICE_VENDOR_ID, device_.product_id, 0x0100};
    return true;
}

bool FuzzPlatform::hid_caps(platform::HidHandle, platform::HidCaps& caps) {
    caps = {};
    caps.usage_page = VENDOR_USAGE_PAGE;
    caps.usage = VENDOR_USAGE;
    caps.feature_report_length = device_.feature_report_length;
    return true;
}

bool FuzzPlatform::hid_get_feature(platform::HidHandle, std::span<std::uint8_t> report) {
    std::size_t transferred = 0;
    return receive(report, transferred) == platform::UsbError::none;
}

bool FuzzPlatform::hid_set_feature(platform::HidHandle, std::span<const std::uint8_t> report) {
    std::size_t transferred = 0;
    return send(report.size(), transferred) == platform::UsbError::none && transferred == report.size();
}

}  // namespace fuzz
