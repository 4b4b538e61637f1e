// The platform seam: the operating system primitives the device layers need,
// at the level Windows offers them (WinUSB role, HID role, time, console).
// Everything above this interface (matching rules, pass order, pipe choice,
// report layouts) is written once and runs unchanged on every backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

// Opaque handle values; 0 never names an open object.
using UsbHandle = std::uintptr_t;
using HidHandle = std::uintptr_t;
using LockHandle = std::uintptr_t;
using DepartureWatch = std::uintptr_t;

// Why a WinUSB-role transfer failed. `general_failure` is what Windows reports
// as ERROR_GEN_FAILURE (a stalled request); `device_gone` a device that left
// the bus during the request.
enum class UsbError {
    none = 0,
    general_failure,
    device_gone,
    timeout,
    other,
};

// Device speed codes as WinUSB reports them.
inline constexpr std::uint8_t USB_SPEED_LOW = 1;
inline constexpr std::uint8_t USB_SPEED_FULL = 2;
inline constexpr std::uint8_t USB_SPEED_HIGH = 3;

struct UsbInterfaceInfo {
    std::uint8_t interface_number = 0;
    std::uint8_t alternate_setting = 0;
    std::uint8_t num_endpoints = 0;
    std::uint8_t interface_class = 0;
    std::uint8_t interface_subclass = 0;
    std::uint8_t interface_protocol = 0;
};

inline constexpr std::uint8_t USB_PIPE_CONTROL = 0;
inline constexpr std::uint8_t USB_PIPE_ISOCHRONOUS = 1;
inline constexpr std::uint8_t USB_PIPE_BULK = 2;
inline constexpr std::uint8_t USB_PIPE_INTERRUPT = 3;

struct UsbPipeInfo {
    std::uint8_t pipe_type = 0;  // USB_PIPE_*
    std::uint8_t pipe_id = 0;    // endpoint address, bit 7 set for IN
    std::uint16_t max_packet_size = 0;
    std::uint8_t interval = 0;
};

// What HidD_GetAttributes and HidP_GetCaps report for one HID interface.
struct HidAttributes {
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::uint16_t version = 0;
};

struct HidCaps {
    std::uint16_t usage_page = 0;
    std::uint16_t usage = 0;
    std::uint16_t input_report_length = 0;
    std::uint16_t output_report_length = 0;
    std::uint16_t feature_report_length = 0;  // counts the report ID byte
};

// Where an opened WinUSB-role device sits on the bus, and which enumeration
// of it the handle belongs to.
struct UsbPlacement {
    // The port the device is plugged into ("1-4.2" on Linux: bus, then the
    // port path). It stays the same when the device enumerates again on that
    // port, in whatever mode and under whatever product ID.
    std::string location;
    // Differs for every enumeration of the device (the bus address on Linux);
    // none where the system offers no such token.
    std::optional<std::uint32_t> enumeration;
};

// A device interface of the last listing that the system would not open.
struct UnopenedDevice {
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::string location;  // its port, as usb_placement gives it; "" when unknown
    std::string reason;    // "permission denied", "busy", "no driver bound", ...
};

class Platform {
public:
    virtual ~Platform() = default;

    // ---- WinUSB role -------------------------------------------------------
    // The device namespace's names (QueryDosDeviceA), in the platform's order.
    // False when the list cannot be produced.
    virtual bool usb_device_names(std::vector<std::string>& names) = 0;
    // Opens a name from usb_device_names as a WinUSB interface (the backend
    // forms the device path); 0 where WinUSB does not drive it.
    virtual UsbHandle usb_open(const std::string& name) = 0;
    virtual void usb_close(UsbHandle handle) = 0;
    // GET_DESCRIPTOR to the device; `transferred` receives the byte count.
    virtual bool usb_get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index,
                                    std::uint16_t language, std::span<std::uint8_t> buffer,
                                    std::size_t& transferred) = 0;
    // One control transfer with the given 8-byte setup packet. For a
    // device-to-host request `buffer` receives data, otherwise it is sent.
    virtual UsbError usb_control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8],
                                          std::span<std::uint8_t> buffer,
                                          std::size_t& transferred) = 0;
    virtual UsbError usb_read_pipe(UsbHandle handle, std::uint8_t pipe_id,
                                   std::span<std::uint8_t> buffer, std::size_t& transferred) = 0;
    virtual UsbError usb_write_pipe(UsbHandle handle, std::uint8_t pipe_id,
                                    std::span<const std::uint8_t> buffer,
                                    std::size_t& transferred) = 0;
    // The opened interface's settings and pipes (WinUsb_QueryInterfaceSettings,
    // WinUsb_QueryPipe).
    virtual bool usb_interface_settings(UsbHandle handle, std::uint8_t alternate,
                                        UsbInterfaceInfo& info) = 0;
    virtual bool usb_query_pipe(UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                                UsbPipeInfo& info) = 0;
    // The device's serial number string; false when it has none.
    virtual bool usb_serial_number(UsbHandle handle, std::string& serial) = 0;
    // The opened device's place on the bus; false when the system cannot tell.
    virtual bool usb_placement(UsbHandle, UsbPlacement&) { return false; }

    // ---- HID role ----------------------------------------------------------
    // Paths of the present HID interfaces, in enumeration order.
    virtual bool hid_paths(std::vector<std::string>& paths) = 0;
    virtual HidHandle hid_open(const std::string& path) = 0;
    virtual void hid_close(HidHandle handle) = 0;
    virtual bool hid_attributes(HidHandle handle, HidAttributes& attributes) = 0;
    virtual bool hid_caps(HidHandle handle, HidCaps& caps) = 0;
    // Whole feature reports: byte 0 is the report ID, the span is the
    // interface's feature report length.
    virtual bool hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) = 0;
    virtual bool hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) = 0;
    virtual bool hid_serial_number(HidHandle handle, std::string& serial) = 0;
    // Where the USB device behind an opened HID interface sits on the bus, in
    // the form usb_placement gives for the same device (so that the HID
    // interface and the WinUSB interfaces of one device are known as one);
    // false when the system cannot tell.
    virtual bool hid_placement(HidHandle, UsbPlacement&) { return false; }

    // ---- Departure ---------------------------------------------------------
    // Watches the USB device behind an open handle for its removal, set
    // before the device is told to restart or detach: departed() is true once
    // the system has seen it go, however fast it comes back. 0 where the
    // system offers no such watch; the waits then rely on their lookups.
    virtual DepartureWatch usb_watch_departure(UsbHandle) { return 0; }
    virtual DepartureWatch hid_watch_departure(HidHandle) { return 0; }
    virtual bool departed(DepartureWatch) { return false; }
    virtual void unwatch_departure(DepartureWatch) {}

    // ---- One process per device --------------------------------------------
    // Takes the exclusive lock named `key` (a device's location) for this
    // process, until unlock_device or the end of the process however it ends.
    // 0 when another process holds it, with that process's ID in `holder` (0
    // when it cannot be told). Where the system offers no such lock, every
    // key is granted. Not a device call.
    virtual LockHandle lock_device(const std::string& key, std::uint64_t& holder) {
        holder = 0;
        return key.empty() ? 0 : 1;
    }
    virtual void unlock_device(LockHandle) {}

    // ---- Workers -----------------------------------------------------------
    // A run on several devices at once gives each device a thread of its own.
    // The thread calls worker_begins with its device's location before its
    // first call for it, and worker_ends after its last: a backend that keeps
    // time per device (the simulator) binds the thread to it, a recording
    // marks the thread's records with it. Every call of the seam is safe from
    // several threads at once as long as each handle is used by one thread
    // at a time; listings, the clock and the diagnostics are safe anywhere.
    virtual void worker_begins(const std::string& /*location*/) {}
    virtual void worker_ends() {}

    // ---- Time and console --------------------------------------------------
    virtual void sleep_ms(std::uint32_t milliseconds) = 0;
    // Milliseconds since the platform was created (virtual in the simulator).
    virtual std::uint64_t now_ms() = 0;
    virtual void console_clear_quick_edit() = 0;
    // What the tool runs on, as the version text names it ("Linux",
    // "Windows", "simulator").
    virtual const char* backend_name() const = 0;

    // ---- Diagnostics -------------------------------------------------------
    // One line naming a device that was present but could not be opened for
    // lack of permission, and what grants it; "" when there was none.
    virtual std::string inaccessible_device_hint() { return ""; }
    // The device interfaces the last listings (usb_device_names, hid_paths
    // and the opens that followed them) saw but could not open.
    virtual std::vector<UnopenedDevice> unopened_devices() { return {}; }
    // The system's own error of the call that just failed (an errno name, a
    // libusb error name, a Win32 error number), for the trace; "" when none
    // is known.
    virtual std::string last_os_error() { return ""; }
};

}  // namespace platform
