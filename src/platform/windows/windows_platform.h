// The Windows backend of the platform seam: WinUSB for the WinUSB role,
// SetupAPI and the HID class driver for the HID role, Sleep and the console
// API for time and console.
//
// Threads: every device call may be made from several threads at once, on
// different devices, through one WindowsPlatform; listings (usb_device_names,
// hid_paths) may run while other threads transfer. A handle is used by one
// thread at a time. Transfers on different handles run side by side: the
// tables of opens, departure watches, device locks and open failures are
// locked only while an entry is looked up, added or removed, never across a
// transfer. last_os_error is the calling thread's last Win32 error. A device
// lock is best released by the thread that took it (a Windows mutex belongs
// to a thread); released by another, it still ends with its last handle.
// The console calls are for the thread that runs the tool.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/handle_table.h"
#include "platform/platform.h"
#include "platform/windows/departure_watches.h"
#include "platform/windows/device_locks.h"
#include "platform/windows/open_failures.h"
#include "platform/windows/win_handles.h"

namespace platform::windows {

// Arguments and sizes the backend hands to the system.
// Characters (UTF-16 units) of the QueryDosDeviceW buffer.
inline constexpr DWORD DOS_NAME_BUFFER_SIZE = 1024 * 1024;
// "\\?\" paths are not bound to MAX_PATH, only to the 32,767 units an
// object name can have.
inline constexpr std::size_t DEVICE_PATH_MAX_UNITS = 32767;
inline constexpr wchar_t DEVICE_PATH_PREFIX[] = L"\\\\?\\";
// Buffer length given to WinUSB for every device-to-host control request.
inline constexpr ULONG CONTROL_IN_BUFFER_LENGTH = 64;
// PIPE_TRANSFER_TIMEOUT of every bulk and interrupt pipe, as the control
// pipe has by default.
inline constexpr ULONG PIPE_TRANSFER_TIMEOUT_MS = 5000;
inline constexpr DWORD HID_ENUMERATION_FLAGS = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID device-interface class.
inline constexpr GUID HID_INTERFACE_CLASS = {0x4D1E55B2, 0xF16F, 0x11CF,
                                             {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// Largest interface detail record accepted from SetupAPI: a device path is
// far shorter; anything bigger is a broken answer, not a path.
inline constexpr DWORD HID_DETAIL_SIZE_LIMIT = 64 * 1024;

// The "\\?\" device path of a name from the DOS device namespace; empty when
// it is longer than any object name can be.
std::wstring device_path_for(const std::string& name);

// The NUL-terminated names of a QueryDosDeviceW buffer of which `stored`
// units were filled, as UTF-8. A last name without terminator ends at
// `stored`.
std::vector<std::string> split_dos_names(const std::vector<wchar_t>& buffer, std::size_t stored);

UsbError usb_error_from(DWORD error);

class WindowsPlatform final : public Platform {
public:
    WindowsPlatform();
    // Gives the console back as it was.
    ~WindowsPlatform() override;
    WindowsPlatform(const WindowsPlatform&) = delete;
    WindowsPlatform& operator=(const WindowsPlatform&) = delete;

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
    // The location of the USB device node (for an interface of a composite
    // device, of its parent): its first location path, else its location
    // information; no enumeration token.
    bool usb_placement(UsbHandle handle, UsbPlacement& placement) override;

    bool hid_paths(std::vector<std::string>& paths) override;
    HidHandle hid_open(const std::string& path) override;
    void hid_close(HidHandle handle) override;
    bool hid_attributes(HidHandle handle, HidAttributes& attributes) override;
    bool hid_caps(HidHandle handle, HidCaps& caps) override;
    bool hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) override;
    bool hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) override;
    bool hid_serial_number(HidHandle handle, std::string& serial) override;
    // The location of the USB device the HID collection belongs to, read as
    // usb_placement reads it, so both roles of one device compare equal.
    bool hid_placement(HidHandle handle, UsbPlacement& placement) override;

    void sleep_ms(std::uint32_t milliseconds) override;
    std::uint64_t now_ms() override;
    void console_clear_quick_edit() override;
    const char* backend_name() const override { return "Windows"; }
    // A device in use by another program, or a USB interface WinUSB does not
    // drive, seen in the last listing.
    std::string inaccessible_device_hint() override;
    std::vector<UnopenedDevice> unopened_devices() override;
    // The thread's last Win32 error, read right after the call that failed.
    std::string last_os_error() override { return std::to_string(GetLastError()); }

    // The USB device node's removal, from the Configuration Manager.
    DepartureWatch usb_watch_departure(UsbHandle handle) override;
    DepartureWatch hid_watch_departure(HidHandle handle) override;
    bool departed(DepartureWatch watch) override { return departures_.departed(watch); }
    void unwatch_departure(DepartureWatch watch) override { departures_.unwatch(watch); }

    LockHandle lock_device(const std::string& key, std::uint64_t& holder) override {
        return locks_.lock(key, holder);
    }
    void unlock_device(LockHandle handle) override { locks_.unlock(handle); }

private:
    // The device handle and the WinUSB interface on it; the interface is
    // released before the device handle is closed.
    struct UsbOpen {
        FileHandle device;
        WinUsbInterface winusb;
        std::string name;  // as usb_device_names gave it
    };

    // A HID collection: the handle without access for attributes,
    // capabilities and serial, and the one for feature reports, opened for
    // reading and writing at the first of them.
    struct HidOpen {
        FileHandle query;
        std::mutex io_mutex;  // guards the opening of `io`
        FileHandle io;
        std::string path;
    };

    // The opened object of a handle, alive while the caller holds it; null
    // for a handle that names none.
    std::shared_ptr<UsbOpen> usb_of(UsbHandle handle) const { return usb_opens_.find(handle); }
    std::shared_ptr<HidOpen> hid_of(HidHandle handle) const { return hid_opens_.find(handle); }
    // The collection's handle for feature reports, opened at the first;
    // INVALID_HANDLE_VALUE when it cannot be opened.
    HANDLE hid_io_file(HidOpen& open);

    HandleTable<UsbOpen> usb_opens_;
    HandleTable<HidOpen> hid_opens_;
    OpenFailures usb_failures_;
    OpenFailures hid_failures_;
    const ULONGLONG started_ms_;
    DeviceLocks locks_;
    DepartureWatches departures_;
};

}  // namespace platform::windows
