// Builders for USB 2.0 descriptors in wire format, used by the device models.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Standard descriptor types (USB 2.0 table 9-5) and class descriptor types.
inline constexpr std::uint8_t DESC_DEVICE = 0x01;
inline constexpr std::uint8_t DESC_CONFIGURATION = 0x02;
inline constexpr std::uint8_t DESC_STRING = 0x03;
inline constexpr std::uint8_t DESC_INTERFACE = 0x04;
inline constexpr std::uint8_t DESC_ENDPOINT = 0x05;
inline constexpr std::uint8_t DESC_HID = 0x21;
inline constexpr std::uint8_t DESC_HID_REPORT = 0x22;
inline constexpr std::uint8_t DESC_DFU_FUNCTIONAL = 0x21;

inline constexpr std::uint8_t ENDPOINT_BULK = 0x02;
inline constexpr std::uint8_t ENDPOINT_INTERRUPT = 0x03;

inline constexpr std::uint16_t LANGUAGE_EN_US = 0x0409;

// What the device descriptor and the strings of a device say about it.
struct DeviceIdentity {
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::uint16_t release = 0x0100;      // bcdDevice
    std::uint16_t usb_version = 0x0200;  // bcdUSB
    std::uint8_t speed = 2;              // platform::USB_SPEED_*
    std::string manufacturer;
    std::string product;
    std::string serial;
};

// String indexes the device descriptor uses; 0 when the string is empty.
inline constexpr std::uint8_t STRING_MANUFACTURER = 1;
inline constexpr std::uint8_t STRING_PRODUCT = 2;
inline constexpr std::uint8_t STRING_SERIAL = 3;

std::vector<std::uint8_t> make_device_descriptor(const DeviceIdentity& identity);

void append_interface_descriptor(std::vector<std::uint8_t>& out, std::uint8_t number,
                                 std::uint8_t num_endpoints, std::uint8_t interface_class,
                                 std::uint8_t subclass, std::uint8_t protocol);
void append_endpoint_descriptor(std::vector<std::uint8_t>& out, std::uint8_t address,
                                std::uint8_t attributes, std::uint16_t max_packet_size,
                                std::uint8_t interval);
void append_hid_descriptor(std::vector<std::uint8_t>& out, std::uint16_t report_descriptor_length);
void append_dfu_functional_descriptor(std::vector<std::uint8_t>& out, std::uint8_t attributes,
                                      std::uint16_t detach_timeout_ms, std::uint16_t transfer_size);

// A configuration descriptor (value 1, bus powered) around the interface
// descriptors in `body`.
std::vector<std::uint8_t> make_configuration_descriptor(std::span<const std::uint8_t> body,
                                                        std::uint8_t num_interfaces);

// String descriptor 0 (one language, en-US) and a string descriptor for a
// text, each byte becoming one UTF-16LE code unit. Texts longer than a
// descriptor can hold are cut at 126 characters.
std::vector<std::uint8_t> make_language_descriptor();
std::vector<std::uint8_t> make_string_descriptor(std::string_view text);

}  // namespace sim
