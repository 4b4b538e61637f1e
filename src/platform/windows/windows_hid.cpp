// HID role: the present HID interfaces of the tool's vendor from SetupAPI,
// opened with CreateFileW and driven through the HID class driver. A handle
// without access reads attributes, capabilities and the serial number (it
// disturbs no other program and needs no rights); the first feature report
// opens the interface for reading and writing.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cwchar>

#include "platform/usb_string.h"
#include "platform/windows/device_node.h"
#include "platform/windows/hid_feature.h"
#include "platform/windows/wide_text.h"
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
std::wstring interface_path(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& entry) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &entry, nullptr, 0, &required, nullptr);
    constexpr DWORD path_offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    if (required <= path_offset || required > HID_DETAIL_SIZE_LIMIT) return {};
    // DWORD elements keep the record's size field aligned.
    std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &entry, detail, required, nullptr, nullptr)) return {};
    // The path ends at its terminator, or at the end of the record if the
    // system left none.
    const wchar_t* path = detail->DevicePath;
    return std::wstring(path, wcsnlen(path, (required - path_offset) / sizeof(wchar_t)));
}

// "vid_2f5a": how the paths of the vendor's interfaces name it.
std::wstring vendor_part() {
    constexpr std::wstring_view digits = L"0123456789abcdef";
    std::wstring text = L"vid_";
    for (int shift = 12; shift >= 0; shift -= 4) text += digits[(FLASH_TOOL_VENDOR_ID >> shift) & 0xF];
    return text;
}

HANDLE open_hid(const std::string& path, DWORD access) {
    return CreateFileW(utf8_to_wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace

bool WindowsPlatform::hid_paths(std::vector<std::string>& paths) {
    DeviceInfoSet set(SetupDiGetClassDevsW(&HID_INTERFACE_CLASS, nullptr, nullptr, HID_ENUMERATION_FLAGS));
    if (!set.valid()) return false;
    paths.clear();
    const std::wstring vendor = vendor_part();
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA entry{};
        entry.cbSize = sizeof(entry);
        // The list ends with ERROR_NO_MORE_ITEMS; any other failure ends it
        // as well, since retrying the same index would never finish.
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &HID_INTERFACE_CLASS, index, &entry)) break;
        // Other vendors' interfaces (keyboards, mice) are never opened.
        const std::wstring path = interface_path(set.get(), entry);
        if (contains_nocase(path, vendor)) paths.push_back(wide_to_utf8(path));
    }
    hid_failures_.new_listing({});
    return true;
}

HidHandle WindowsPlatform::hid_open(const std::string& path) {
    auto open = std::make_shared<HidOpen>();
    open->query.reset(open_hid(path, 0));
    if (!open->query.valid()) {
        hid_failures_.record_create_error(path, GetLastError());
        return 0;
    }
    open->path = path;
    return hid_opens_.add(std::move(open));
}

void WindowsPlatform::hid_close(HidHandle handle) { hid_opens_.erase(handle); }

HANDLE WindowsPlatform::hid_io_file(HidOpen& open) {
    DWORD error = ERROR_SUCCESS;
    {
        const std::lock_guard lock(open.io_mutex);
        if (open.io.valid()) return open.io.get();
        open.io.reset(open_hid(open.path, GENERIC_READ | GENERIC_WRITE));
        if (open.io.valid()) return open.io.get();
        error = GetLastError();
    }
    hid_failures_.record_create_error(open.path, error);
    // The failed open's error for last_os_error, whatever the unlock did.
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

bool WindowsPlatform::hid_attributes(HidHandle handle, HidAttributes& attributes) {
    const std::shared_ptr<const HidOpen> open = hid_of(handle);
    if (!open) return false;
    const HANDLE file = open->query.get();
    HIDD_ATTRIBUTES record{};
    record.Size = sizeof(record);
    const bool ok = HidD_GetAttributes(file, &record);
    attributes.vendor_id = record.VendorID;
    attributes.product_id = record.ProductID;
    attributes.version = record.VersionNumber;
    return ok;
}

bool WindowsPlatform::hid_caps(HidHandle handle, HidCaps& caps) {
    const std::shared_ptr<const HidOpen> open = hid_of(handle);
    if (!open) return false;
    const HANDLE file = open->query.get();
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

// The reference to the collection keeps its handles open until the
// transfer returns, whatever another thread closes meanwhile.
bool WindowsPlatform::hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) {
    if (report.empty()) return false;
    const std::shared_ptr<HidOpen> open = hid_of(handle);
    if (!open) return false;
    const HANDLE file = hid_io_file(*open);
    return file != INVALID_HANDLE_VALUE && hid_feature_get(file, report);
}

bool WindowsPlatform::hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) {
    if (report.empty()) return false;
    const std::shared_ptr<HidOpen> open = hid_of(handle);
    if (!open) return false;
    const HANDLE file = hid_io_file(*open);
    return file != INVALID_HANDLE_VALUE && hid_feature_set(file, report);
}

bool WindowsPlatform::hid_serial_number(HidHandle handle, std::string& serial) {
    const std::shared_ptr<const HidOpen> open = hid_of(handle);
    if (!open) return false;
    const HANDLE file = open->query.get();
    std::array<std::uint8_t, HID_SERIAL_UNITS * 2> buffer{};
    // The last unit is not offered to the driver, so the text always ends
    // with a NUL unit inside the buffer.
    if (!HidD_GetSerialNumberString(file, buffer.data(), static_cast<ULONG>(buffer.size() - 2))) return false;
    serial = utf16le_to_utf8(buffer);
    return true;
}

bool WindowsPlatform::hid_placement(HidHandle handle, UsbPlacement& placement) {
    const std::shared_ptr<const HidOpen> open = hid_of(handle);
    if (!open) return false;
    placement.enumeration.reset();
    return usb_device_location(device_instance_id(utf8_to_wide(open->path)), placement.location);
}

}  // namespace platform::windows
