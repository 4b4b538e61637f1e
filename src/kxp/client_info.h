// The client information each side of the link introduces itself with, in
// its two wire layouts: 36 bytes for protocol versions 0 and 1, 46 bytes for
// version 2.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

inline constexpr std::size_t CLIENT_INFO_WIRE_SIZE = 46;
inline constexpr std::size_t CLIENT_INFO_V1_SIZE = 36;
inline constexpr std::size_t CLIENT_INFO_SERIAL_SIZE = 10;
// Offsets of the fields; the manufacturer id moves with the version.
inline constexpr std::size_t CLIENT_INFO_SW_VERSION_OFFSET = 4;
inline constexpr std::size_t CLIENT_INFO_SERIAL_OFFSET = 8;
inline constexpr std::size_t CLIENT_INFO_V1_MFG_OFFSET = 8;
inline constexpr std::size_t CLIENT_INFO_V1_MFG_SIZE = 28;
inline constexpr std::size_t CLIENT_INFO_V2_MFG_OFFSET = 18;
inline constexpr std::size_t CLIENT_INFO_V2_MFG_SIZE = 26;
inline constexpr int CLIENT_INFO_NO_VERSION = -1;

using kxp_version_bytes = std::array<std::uint8_t, 4>;

struct client_info {
    std::array<std::uint8_t, CLIENT_INFO_WIRE_SIZE> wire{};
    // Protocol version number from the first two (BCD) bytes; -1 when they
    // are not BCD or nothing has been decoded yet.
    int version = CLIENT_INFO_NO_VERSION;
    // How many wire bytes the hello sends (local information only).
    std::uint32_t stored_length = CLIENT_INFO_WIRE_SIZE;
};

// The version number that two BCD bytes spell, or -1 when a nibble is above 9.
int client_info_version_code(std::uint8_t high, std::uint8_t low);

// Local information of version 2 (0002.0002) with an empty manufacturer id. 0.
int client_info_init(client_info& info);
// Writes `text`, cut to the field, into the manufacturer id of the record's
// layout. False (nothing written) on a record of an unsupported version.
bool client_info_set_mfg_id(client_info& info, std::string_view text);
// Decodes a peer's information. 0, or KXP_ERR_BAD_INFO when it is shorter
// than 4 bytes (the record is left as it was), not BCD, of an unsupported
// version, or shorter than its version's layout (the record then has no
// valid version either).
int client_info_parse(client_info& info, std::span<const std::uint8_t> bytes);
// Re-lays local version-2 information out for the peer's protocol version.
void client_info_convert(client_info& info, const kxp_version_bytes& protocol_version);

// Fields of a record of version 0, 1 or 2; none otherwise.
std::optional<kxp_version_bytes> client_info_protocol_version(const client_info& info);
std::optional<kxp_version_bytes> client_info_sw_version(const client_info& info);
// The manufacturer id up to its first NUL, never beyond its field even when
// the peer filled the whole field.
std::optional<std::string_view> client_info_mfg_id(const client_info& info);
// The 10 serial number characters and a NUL for version 2 when `buffer`
// holds more than 10 bytes; otherwise an empty text.
void client_info_serial_number(const client_info& info, std::span<char> buffer);
