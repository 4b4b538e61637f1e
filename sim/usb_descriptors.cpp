#include "sim/usb_descriptors.h"

#include <algorithm>

#include "usb/le.h"

namespace sim {
namespace {

void append_le16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

constexpr std::size_t MAX_STRING_CHARACTERS = 126;  // (255 - 2) / 2, rounded down

}  // namespace

std::vector<std::uint8_t> make_device_descriptor(const DeviceIdentity& identity) {
    std::vector<std::uint8_t> d{18, DESC_DEVICE};
    append_le16(d, identity.usb_version);
    d.insert(d.end(), {0x00, 0x00, 0x00, 64});  // class in interfaces, EP0 64 bytes
    append_le16(d, identity.vendor_id);
    append_le16(d, identity.product_id);
    append_le16(d, identity.release);
    d.push_back(identity.manufacturer.empty() ? 0 : STRING_MANUFACTURER);
    d.push_back(identity.product.empty() ? 0 : STRING_PRODUCT);
    d.push_back(identity.serial.empty() ? 0 : STRING_SERIAL);
    d.push_back(1);  // one configuration
    return d;
}

void append_interface_descriptor(std::vector<std::uint8_t>& out, std::uint8_t number,
                                 std::uint8_t num_endpoints, std::uint8_t interface_class,
                                 std::uint8_t subclass, std::uint8_t protocol) {
    out.insert(out.end(), {9, DESC_INTERFACE, number, 0, num_endpoints, interface_class, subclass,
                           protocol, 0});
}

void append_endpoint_descriptor(std::vector<std::uint8_t>& out, std::uint8_t address,
                                std::uint8_t attributes, std::uint16_t max_packet_size,
                                std::uint8_t interval) {
    out.insert(out.end(), {7, DESC_ENDPOINT, address, attributes});
    append_le16(out, max_packet_size);
    out.push_back(interval);
}

void append_hid_descriptor(std::vector<std::uint8_t>& out, std::uint16_t report_descriptor_length) {
    out.insert(out.end(), {9, DESC_HID, 0x11, 0x01, 0x00, 0x01, DESC_HID_REPORT});
    append_le16(out, report_descriptor_length);
}

void append_dfu_functional_descriptor(std::vector<std::uint8_t>& out, std::uint8_t attributes,
                                      std::uint16_t detach_timeout_ms, std::uint16_t transfer_size) {
    out.insert(out.end(), {9, DESC_DFU_FUNCTIONAL, attributes});
    append_le16(out, detach_timeout_ms);
    append_le16(out, transfer_size);
    append_le16(out, 0x0110);  // bcdDFUVersion 1.1
}

std::vector<std::uint8_t> make_configuration_descriptor(std::span<const std::uint8_t> body,
                                                        std::uint8_t num_interfaces) {
    const std::uint8_t header[9] = {9, DESC_CONFIGURATION, 0, 0, num_interfaces, 1, 0, 0x80, 50};
    std::vector<std::uint8_t> d(sizeof header + body.size());
    std::copy(std::begin(header), std::end(header), d.begin());
    std::copy(body.begin(), body.end(), d.begin() + sizeof header);
    put_le16(d, 2, static_cast<std::uint16_t>(d.size()));
    return d;
}

std::vector<std::uint8_t> make_language_descriptor() {
    std::vector<std::uint8_t> d{4, DESC_STRING};
    append_le16(d, LANGUAGE_EN_US);
    return d;
}

std::vector<std::uint8_t> make_string_descriptor(std::string_view text) {
    const std::size_t count = std::min(text.size(), MAX_STRING_CHARACTERS);
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * count), DESC_STRING};
    for (std::size_t i = 0; i < count; ++i) append_le16(d, static_cast<std::uint8_t>(text[i]));
    return d;
}

}  // namespace sim
