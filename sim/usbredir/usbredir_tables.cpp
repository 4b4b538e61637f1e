#include "sim/usbredir/usbredir_tables.h"

#include "sim/usb_descriptors.h"
#include "usb/le.h"

namespace sim {
namespace {

constexpr std::size_t MAX_INTERFACES = 32;

void add_endpoint(UsbredirTables& tables, std::uint8_t address, std::uint8_t type, std::uint8_t interval,
                  std::uint8_t interface, std::uint16_t max_packet_size) {
    const int index = usbredir_endpoint_index(address);
    auto& endpoints = tables.endpoints;
    endpoints.type[index] = type;
    endpoints.interval[index] = interval;
    endpoints.interface[index] = interface;
    endpoints.max_packet_size[index] = max_packet_size;
}

}  // namespace

UsbredirTables usbredir_tables(std::span<const std::uint8_t> configuration, std::uint16_t ep0_max_packet_size) {
    UsbredirTables tables;
    for (auto& type : tables.endpoints.type) type = usb_redir_type_invalid;
    add_endpoint(tables, 0x00, usb_redir_type_control, 0, 0, ep0_max_packet_size);
    add_endpoint(tables, 0x80, usb_redir_type_control, 0, 0, ep0_max_packet_size);

    auto& interfaces = tables.interfaces;
    std::uint8_t current_interface = 0;
    bool in_setting_zero = false;
    std::size_t offset = 0;
    while (offset + 2 <= configuration.size()) {
        const std::size_t length = configuration[offset];
        const std::uint8_t type = configuration[offset + 1];
        if (length < 2 || offset + length > configuration.size()) break;
        const auto descriptor = configuration.subspan(offset, length);
        offset += length;

        if (type == DESC_INTERFACE && length >= 9) {
            current_interface = descriptor[2];
            in_setting_zero = descriptor[3] == 0;
            if (!in_setting_zero || interfaces.interface_count >= MAX_INTERFACES) continue;
            const std::uint32_t slot = interfaces.interface_count++;
            interfaces.interface[slot] = current_interface;
            interfaces.interface_class[slot] = descriptor[5];
            interfaces.interface_subclass[slot] = descriptor[6];
            interfaces.interface_protocol[slot] = descriptor[7];
        } else if (type == DESC_ENDPOINT && length >= 7 && in_setting_zero) {
            const std::uint8_t address = descriptor[2];
            if ((address & 0x0F) == 0) continue;  // endpoint 0 is not described by the configuration
            add_endpoint(tables, address, descriptor[3] & 0x03, descriptor[6], current_interface,
                         le16(descriptor, 4));
        }
    }
    return tables;
}

}  // namespace sim
