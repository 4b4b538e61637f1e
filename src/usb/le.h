// Little-endian field access for wire formats. Every read is bounds-checked
// by the span's size at the call site (the helpers take fixed-size views).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline std::uint16_t le16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline std::uint32_t le24(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16);
}

inline std::uint32_t le32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return le24(bytes, offset) | (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

inline std::uint64_t le64(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint64_t>(le32(bytes, offset)) |
           (static_cast<std::uint64_t>(le32(bytes, offset + 4)) << 32);
}

inline void put_le16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void put_le32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    put_le16(bytes, offset, static_cast<std::uint16_t>(value));
    put_le16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void put_le64(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value) {
    put_le32(bytes, offset, static_cast<std::uint32_t>(value));
    put_le32(bytes, offset + 4, static_cast<std::uint32_t>(value >> 32));
}
