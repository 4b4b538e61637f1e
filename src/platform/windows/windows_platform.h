// The Windows backend of the platform seam: WinUSB for the WinUSB role,
// SetupAPI and the HID class driver for the HID role, Sleep and the console
// API for time and console.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/win_handles.h"

namespace platform::windows {

// Arguments and sizes the backend hands to the system.
inline constexpr DWORD DOS_NAME_BUFFER_SIZE = 1024 * 1024;
// "\\?\" followed by the name, terminator included.
inline constexpr std::size_t DEVICE_PATH_BUFFER_SIZE = 272;
inline constexpr char DEVICE_PATH_PREFIX[] = "\\\\?\\";
// Buffer length given to WinUSB for every device-to-host control request.
inline constexpr ULONG CONTROL_IN_BUFFER_LENGTH = 64;
inline constexpr DWORD HID_ENUMERATION_FLAGS = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID device-interface class.
inline constexpr GUID HID_INTERFACE_CLASS = {0x4D1E55B2, 0xF16F, 0x11CF,
                                             {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// Largest interface detail record accepted from SetupAPI: a device path is
// far shorter; anything bigger is a broken answer, not a path.
inline constexpr DWORD HID_DETAIL_SIZE_LIMIT = 64 * 1024;

// The "\\?\" device path of a name from the DOS device namespace; empty when
// it does not fit the path buffer (such a name is not opened, rather than
// truncated into the path of some other device).
std::string device_path_for(const std::string& name);

// The NUL-terminated names of a QueryDosDeviceA buffer of which `stored`
// characters were filled. A last name without terminator ends at `stored`.
std::vector<std::string> split_dos_names(const std::vector<char>& buffer, std::size_t stored);

UsbError usb_error_from(DWORD error);

// The device instance ID behind a DOS device name:
// "USB#VID_2F5A&PID_0001&MI_01#7&1a&0&0001#{guid}" gives
// "USB\VID_2F5A&PID_0001&MI_01\7&1a&0&0001".
std::string device_instance_id(const std::string& name);

class WindowsPlatform final : public Platform {
public:
    WindowsPlatform();

    bool usb_device_names(std::vector<std::string>& names) override;
    UsbHandle usb_open(const std::string& name) override;
    void usb_close(UsbHandle handle) override;
    bool usb_get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index, std::uint16_t language,
                            std::span<std::uint8_t> buffer, std::size_t& transferred) override;
    bool usb_device_speed(UsbHandle handle, std::uint8_t& speed) override;
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
    // The Configuration Manager's location information of the device (for an
    // interface of a composite device, of its parent), e.g.
    // "Port_#0002.Hub_#0001"; no enumeration token.
    bool usb_placement(UsbHandle handle, UsbPlacement& placement) override;

    bool hid_paths(std::vector<std::string>& paths) override;
    HidHandle hid_open(const std::string& path) override;
    void hid_close(HidHandle handle) override;
    bool hid_attributes(HidHandle handle, HidAttributes& attributes) override;
    bool hid_caps(HidHandle handle, HidCaps& caps) override;
    bool hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) override;
    bool hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) override;
    bool hid_serial_number(HidHandle handle, std::string& serial) override;

    void sleep_ms(std::uint32_t milliseconds) override;
    std::uint64_t now_ms() override;
    void console_clear_quick_edit() override;
    const char* backend_name() const override { return "Windows"; }

private:
    // The device handle and the WinUSB interface on it; the interface is
    // released before the device handle is closed.
    struct UsbOpen {
        FileHandle device;
        WinUsbInterface winusb;
        std::string name;  // as usb_device_names gave it
    };

    WINUSB_INTERFACE_HANDLE winusb_of(UsbHandle handle) const;
    HANDLE hid_file_of(HidHandle handle) const;

    std::map<UsbHandle, UsbOpen> usb_opens_;
    std::map<HidHandle, FileHandle> hid_opens_;
    std::uintptr_t next_handle_ = 1;
    ULONGLONG started_ms_;
};

}  // namespace platform::windows
