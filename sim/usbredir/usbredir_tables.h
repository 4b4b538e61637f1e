// The interface and endpoint tables a usbredir peer needs before a device
// connects, read from the device's configuration descriptor (USB 2.0 wire
// format). Alternate settings other than 0 are left out: the models only
// have setting 0.
#pragma once

#include <cstdint>
#include <span>

#include <usbredirproto.h>

namespace sim {

// usbredir numbers endpoints 0-15 OUT and 16-31 IN.
inline int usbredir_endpoint_index(std::uint8_t address) { return ((address & 0x80) >> 3) | (address & 0x0F); }

struct UsbredirTables {
    usb_redir_interface_info_header interfaces{};
    usb_redir_ep_info_header endpoints{};
};

// Fills both tables. Endpoint 0 is a control endpoint both ways with
// `ep0_max_packet_size`; every other unused slot is marked invalid. A
// descriptor that is truncated or runs past the buffer ends the walk there.
UsbredirTables usbredir_tables(std::span<const std::uint8_t> configuration, std::uint16_t ep0_max_packet_size);

}  // namespace sim
