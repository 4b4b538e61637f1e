// Identity constants shared by every device lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The maker's USB vendor ID, a build-time constant (CMake: FLASH_TOOL_VENDOR_ID).
inline constexpr std::uint16_t DEVICE_VENDOR_ID = FLASH_TOOL_VENDOR_ID;

// Wildcard for a vendor ID or product ID in the open operations.
inline constexpr std::uint16_t ANY_ID = 0xFFFF;

// Product IDs with a meaning of their own.
inline constexpr std::uint16_t BRIDGE_PRODUCT_ID = 0x800E;
inline constexpr std::uint16_t DFU_PRODUCT_ID = 0x0004;

// The optional serial number from the command line. When present, every
// lookup and open only considers devices whose USB serial number string
// equals it exactly.
using serial_number = std::optional<std::string_view>;
