// Decoding of USB string descriptors (bLength, bDescriptorType 3, UTF-16LE
// code units), shared by the backends that read them from a device.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace platform {

// The text of a string descriptor as UTF-8. Only the bytes actually received
// are read, whatever bLength claims; an unpaired surrogate becomes U+FFFD.
// None when the bytes are not a string descriptor.
std::optional<std::string> usb_string_descriptor_text(std::span<const std::uint8_t> received);

// UTF-16 code units (little-endian pairs of bytes, an odd last byte ignored)
// as UTF-8, stopping at the first NUL unit.
std::string utf16le_to_utf8(std::span<const std::uint8_t> bytes);

}  // namespace platform
