// HID role: the present HID interfaces from SetupAPI, opened with CreateFileA
// and driven through the HID class driver's HidD_*/HidP_* calls.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "platform/usb_string.h"
#include "platform/windows/windows_platform.h"

namespace platform::windows {
namespace {

static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "HidD_GetAttributes expects the 12-byte record");

// USB string descriptors hold at most 126 UTF-16 units; one more for the
// terminator this backend keeps.
constexpr std::size_t HID_SERIAL_UNITS = 128;

// The device path of one enumerated interface: a size query, then the detail
// record with its size field set to the fixed record size. Empty when the
// detail cannot be read.
std::string interface_path(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &interface, nullptr, 0, &required, nullptr);
    constexpr DWORD path_offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    if (required <= path_offset || required > HID_DETAIL_SIZE_LIMIT) return {};
    // DWORD elements keep the record's size field aligned.
    std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &interface, detail, required, nullptr, nullptr)) return {};
    // The path ends at its terminator, or at the end of the record if the
    // system left none.
    const char* path = detail->DevicePath;
    return std::string(path, strnlen(path, required - path_offset));
}

}  // namespace

bool WindowsPlatform::hid_paths(std::vector<std::string>& paths) {
    DeviceInfoSet set(SetupDiGetClassDevsA(&HID_INTERFACE_CLASS, nullptr, nullptr, HID_ENUMERATION_FLAGS));
    if (!set.valid()) return false;
    paths.clear();
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interface{};
        interface.cbSize = sizeof(interface);
        // The list ends with ERROR_NO_MORE_ITEMS; any other failure ends it
        // as well, since retrying the same index would never finish.
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &HID_INTERFACE_CLASS, index, &interface)) break;
        std::string path = interface_path(set.get(), interface);
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return true;
}

HidHandle WindowsPlatform::hid_open(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!file.valid()) return 0;
    const HidHandle handle = next_handle_++;
    hid_opens_.emplace(handle, std::move(file));
    return handle;
}

void WindowsPlatform::hid_close(HidHandle handle) { hid_opens_.erase(handle); }

HANDLE WindowsPlatform::hid_file_of(HidHandle handle) const {
    const auto found = hid_opens_.find(handle);
    return found != hid_opens_.end() ? found->second.get() : INVALID_HANDLE_VALUE;
}

bool WindowsPlatform::hid_attributes(HidHandle handle, HidAttributes& attributes) {
    const HANDLE file = hid_file_of(handle);
    if (file == INVALID_HANDLE_VALUE) return false;
    HIDD_ATTRIBUTES record{};
    record.Size = sizeof(record);
    const bool ok = HidD_GetAttributes(file, &record);
    attributes.vendor_id = record.VendorID;
    attributes.product_id = record.ProductID;
    attributes.version = record.VersionNumber;
    return ok;
}

bool WindowsPlatform::hid_caps(HidHandle handle, HidCaps& caps) {
    const HANDLE file = hid_file_of(handle);
    if (file == INVALID_HANDLE_VALUE) return false;
    PreparsedData preparsed;
    if (HidD_GetPreparsedData(file, preparsed.put()) != TRUE) return false;
    HIDP_CAPS record{};
    if (HidP_GetCaps(preparsed.get(), &record) != HIDP_STATUS_SUCCESS) return false;
    caps.usage_page = record.UsagePage;
    caps.usage = record.Usage;
    caps.input_report_length = record.InputReportByteLength;
    caps.output_report_length = record.OutputReportByteLength;
    caps.feature_report_length = record.FeatureReportByteLength;
    return true;
}

bool WindowsPlatform::hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) {
    const HANDLE file = hid_file_of(handle);
    if (file == INVALID_HANDLE_VALUE || report.empty()) return false;
    return HidD_GetFeature(file, report.data(), static_cast<ULONG>(report.size()));
}

bool WindowsPlatform::hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) {
    const HANDLE file = hid_file_of(handle);
    if (file == INVALID_HANDLE_VALUE || report.empty()) return false;
    // HidD_SetFeature takes a non-const buffer but only reads from it.
    return HidD_SetFeature(file, const_cast<std::uint8_t*>(report.data()), static_cast<ULONG>(report.size()));
}

bool WindowsPlatform::hid_serial_number(HidHandle handle, std::string& serial) {
    const HANDLE file = hid_file_of(handle);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::array<std::uint8_t, HID_SERIAL_UNITS * 2> buffer{};
    // The last unit is not offered to the driver, so the text always ends
    // with a NUL unit inside the buffer.
    if (!HidD_GetSerialNumberString(file, buffer.data(), static_cast<ULONG>(buffer.size() - 2))) return false;
    serial = utf16le_to_utf8(buffer);
    return true;
}

}  // namespace platform::windows
