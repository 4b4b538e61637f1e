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
//
// Several threads may use one role at once on different handles: each open
// has its own context, the table of opens and the record of the last
// listing's failures take a lock only while they are read or changed, and
// the error of the last call is the calling thread's.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/handle_table.h"
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
    std::string denied_device() const;
    // The interfaces of the last listing that could not be opened, and why.
    std::vector<UnopenedDevice> unopened() const;
    // The libusb error name of the calling thread's last call that failed
    // ("LIBUSB_ERROR_ACCESS"), "" after one that succeeded.
    const std::string& last_error() const { return last_error_; }
    void clear_error() { last_error_.clear(); }

private:
    struct Open;
    std::shared_ptr<Open> find(UsbHandle handle) const;
    UsbError pipe_transfer(Open& open, std::uint8_t pipe_id, std::uint8_t* data, std::size_t length,
                           std::size_t& transferred);
    // Records a libusb error code of the call under way; `result` as given.
    static int note(int result);
    // Adds an interface the system would not open to the listing's record.
    void note_unopened(const UnopenedDevice& device);

    HandleTable<Open> open_;

    mutable std::mutex listing_mutex_;  // guards denied_ and unopened_
    std::string denied_;
    std::vector<UnopenedDevice> unopened_;

    static thread_local std::string last_error_;
};

}  // namespace platform::linux_backend
