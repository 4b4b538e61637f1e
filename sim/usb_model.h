// What a simulated device looks like from the USB bus: descriptors, control
// requests on endpoint 0, bulk endpoints, and presence on the bus over
// virtual time. The simulated host (SimPlatform) maps the seam's primitives
// onto these, as an operating system would.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

struct SetupPacket {
    std::uint8_t request_type = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;

    bool device_to_host() const { return (request_type & 0x80) != 0; }
    unsigned type() const { return (request_type >> 5) & 3; }       // 0 std, 1 class, 2 vendor
    unsigned recipient() const { return request_type & 0x1F; }      // 0 device, 1 interface
};

// Outcome of a transfer as the bus sees it.
enum class TransferStatus {
    ack,    // completed; `transferred` bytes moved
    stall,  // the device refused the request (STALL handshake)
    gone,   // the device left the bus during the request
};

class UsbDeviceModel {
public:
    virtual ~UsbDeviceModel() = default;

    // Whether the device is on the bus at virtual time `now_ms`. Models leave
    // and come back on their own schedule; each new enumeration changes
    // connection(), and the host fails every handle of an older connection.
    virtual bool present(std::uint64_t now_ms) = 0;
    virtual std::uint32_t connection() const = 0;
    // Bus speed of the current enumeration (platform::USB_SPEED_* codes).
    virtual std::uint8_t speed() { return 2; }

    // Descriptors of the current enumeration, in USB 2.0 wire format. The
    // configuration descriptor carries every interface, endpoint and class
    // descriptor (HID, DFU functional).
    virtual std::vector<std::uint8_t> device_descriptor() = 0;
    virtual std::vector<std::uint8_t> configuration_descriptor() = 0;
    // String descriptor `index` in wire format (index 0: the language IDs);
    // nothing when the device stalls the request.
    virtual std::optional<std::vector<std::uint8_t>> string_descriptor(std::uint8_t index,
                                                                       std::uint16_t language) = 0;
    // HID report descriptor of a HID interface; empty for other interfaces.
    virtual std::vector<std::uint8_t> hid_report_descriptor(std::uint8_t interface_number) = 0;

    // Control request other than the standard GET_DESCRIPTOR (which the host
    // answers from the descriptors above). For device-to-host requests `data`
    // has room for wLength bytes and receives the data stage.
    virtual TransferStatus control(std::uint64_t now_ms, const SetupPacket& setup,
                                   std::span<std::uint8_t> data, std::size_t& transferred) = 0;
    // Bulk transfer on endpoint `endpoint` (bit 7 set: IN, `data` receives).
    virtual TransferStatus bulk(std::uint64_t now_ms, std::uint8_t endpoint,
                                std::span<std::uint8_t> data, std::size_t& transferred) = 0;
};

}  // namespace sim
