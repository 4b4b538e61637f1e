// One interface of a simulated device: its descriptors, its class or vendor
// control requests and its endpoints. A device is an identity plus a list of
// functions; re-enumerating swaps the list (run-time mode, DFU mode, ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/usb_model.h"

namespace sim {

class CompositeDevice;

class UsbFunction {
public:
    virtual ~UsbFunction() = default;

    // Called when a device enumerates with this function, so that a
    // function can make its device leave the bus or re-enumerate (a restart,
    // a DFU detach). The device owns its functions and outlives every call
    // it makes into them.
    virtual void on_attach(CompositeDevice& device) { (void)device; }

    // Appends the interface descriptor, its class descriptors and its
    // endpoint descriptors, numbered `interface_number`.
    virtual void append_descriptors(std::uint8_t interface_number,
                                    std::vector<std::uint8_t>& out) const = 0;
    // The HID report descriptor of a HID function; empty otherwise.
    virtual std::vector<std::uint8_t> hid_report_descriptor() const { return {}; }

    // A class or vendor request whose recipient is this interface.
    virtual TransferStatus control(std::uint64_t now_ms, const SetupPacket& setup,
                                   std::span<std::uint8_t> data, std::size_t& transferred) = 0;

    // Whether the endpoint `address` (bit 7 set: IN) belongs to this function.
    virtual bool has_endpoint(std::uint8_t address) const {
        (void)address;
        return false;
    }
    virtual TransferStatus transfer(std::uint64_t now_ms, std::uint8_t endpoint,
                                    std::span<std::uint8_t> data, std::size_t& transferred) {
        (void)now_ms;
        (void)endpoint;
        (void)data;
        transferred = 0;
        return TransferStatus::stall;
    }
};

}  // namespace sim
