// The WinUSB role of the seam on libusb-1.0.
//
// Names: one per interface of a composite device ("...&MI_01#..."), one
// without interface part for a single-interface device (see usb_names.h).
// Every lookup works on a libusb context of its own, created for the call:
// without udevd a context that already exists does not learn of a device
// that left the bus and enumerated again, while a new one scans the bus.
// An open holds its own context for as long as the handle lives.
//
// Opening claims the interface the name stands for and fails where a kernel
// driver holds it (usbhid on the HID interface), as WinUSB fails there; a
// kernel driver is never detached.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::linux_backend {

// Transfer time-outs. The devices answer control requests within
// milliseconds and a DFU status poll within its own bwPollTimeout; 5 s
// leaves ample margin yet ends a wait on a hung device.
inline constexpr unsigned CONTROL_TIMEOUT_MS = 5000;
inline constexpr unsigned PIPE_TIMEOUT_MS = 5000;

// A libusb error code as the seam's error kind: a stalled request is what
// WinUSB reports as a general failure; a device that left is device_gone.
UsbError usb_error_from_libusb(int code);

class LibusbRole {
public:
    LibusbRole();
    ~LibusbRole();
    LibusbRole(const LibusbRole&) = delete;
    LibusbRole& operator=(const LibusbRole&) = delete;

    bool device_names(std::vector<std::string>& names);
    UsbHandle open(const std::string& name);
    void close(UsbHandle handle);
    bool get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index, std::uint16_t language,
                        std::span<std::uint8_t> buffer, std::size_t& transferred);
    UsbError control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8],
                              std::span<std::uint8_t> buffer, std::size_t& transferred);
    UsbError read_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<std::uint8_t> buffer,
                       std::size_t& transferred);
    UsbError write_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<const std::uint8_t> buffer,
                        std::size_t& transferred);
    bool interface_settings(UsbHandle handle, std::uint8_t alternate, UsbInterfaceInfo& info);
    bool query_pipe(UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index, UsbPipeInfo& info);
    bool serial_number(UsbHandle handle, std::string& serial);
    // Location "bus-ports"; the bus address (new at every enumeration) as the
    // enumeration token.
    bool placement(UsbHandle handle, UsbPlacement& placement);

    // The first device that was found but could not be opened for lack of
    // permission ("2F5A:0001 at USB 1-4"); "" when none.
    const std::string& denied_device() const { return denied_; }
    // The interfaces of the last listing that could not be opened, and why.
    const std::vector<UnopenedDevice>& unopened() const { return unopened_; }
    // The libusb error name of the last call that failed ("LIBUSB_ERROR_ACCESS"),
    // "" after one that succeeded.
    const std::string& last_error() const { return last_error_; }
    void clear_error() { last_error_.clear(); }

private:
    struct Open;
    Open* find(UsbHandle handle);
    UsbError pipe_transfer(Open& open, std::uint8_t pipe_id, std::uint8_t* data, std::size_t length,
                           std::size_t& transferred);

    std::map<UsbHandle, std::unique_ptr<Open>> open_;
    UsbHandle next_handle_ = 1;
    // Records a libusb error code of the call under way; `result` as given.
    int note(int result);

    std::string denied_;
    std::vector<UnopenedDevice> unopened_;
    std::string last_error_;
};

}  // namespace platform::linux_backend
