// Reading a configuration descriptor the way the host stack does: the
// interfaces (every alternate setting) with their endpoints. Stops at the
// first descriptor that does not fit, whatever the device sent.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

struct InterfaceView {
    platform::UsbInterfaceInfo info;
    std::vector<platform::UsbPipeInfo> pipes;
};

std::vector<InterfaceView> parse_configuration(std::span<const std::uint8_t> descriptor);

// The interface `number` with alternate setting `alternate`, if described.
std::optional<InterfaceView> find_interface(std::span<const std::uint8_t> descriptor, std::uint8_t number,
                                            std::uint8_t alternate);

// A string descriptor's text: code units below 0x100 as single bytes, any
// other as '?'. Empty for a malformed descriptor.
std::string decode_string_descriptor(std::span<const std::uint8_t> descriptor);

}  // namespace sim
