#include "kxp/client_info.h"

#include <algorithm>

#include "kxp/kxp_codes.h"

namespace {

bool supported(int version) { return version >= 0 && version <= 2; }

struct field {
    std::size_t offset;
    std::size_t size;
};

field mfg_field(int version) {
    if (version == 2) return {CLIENT_INFO_V2_MFG_OFFSET, CLIENT_INFO_V2_MFG_SIZE};
    return {CLIENT_INFO_V1_MFG_OFFSET, CLIENT_INFO_V1_MFG_SIZE};
}

void write_mfg_id(client_info& info, std::string_view text) {
    const field f = mfg_field(info.version);
    auto begin = info.wire.begin() + static_cast<std::ptrdiff_t>(f.offset);
    std::fill_n(begin, f.size, 0);
    // The last byte of the field always stays a terminator.
    std::copy_n(text.begin(), std::min(text.size(), f.size - 1), begin);
}

kxp_version_bytes four_bytes(const client_info& info, std::size_t offset) {
    kxp_version_bytes out{};
    std::copy_n(info.wire.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return out;
}

}  // namespace

int client_info_version_code(std::uint8_t high, std::uint8_t low) {
    const int digits[] = {high >> 4, high & 0x0F, low >> 4, low & 0x0F};
    int code = 0;
    for (int digit : digits) {
        if (digit > 9) return CLIENT_INFO_NO_VERSION;
        code = code * 10 + digit;
    }
    return code;
}

int client_info_init(client_info& info) {
    info.wire.fill(0);
    info.wire[1] = 0x02;
    info.wire[3] = 0x02;
    info.version = 2;
    info.stored_length = CLIENT_INFO_WIRE_SIZE;
    return 0;
}

bool client_info_set_mfg_id(client_info& info, std::string_view text) {
    if (!supported(info.version)) return false;
    write_mfg_id(info, text);
    return true;
}

int client_info_parse(client_info& info, std::span<const std::uint8_t> bytes) {
    if (bytes.size() <= 3) return KXP_ERR_BAD_INFO;
    info.version = client_info_version_code(bytes[0], bytes[1]);
    if (!supported(info.version)) return KXP_ERR_BAD_INFO;
    const std::size_t needed = info.version == 2 ? CLIENT_INFO_WIRE_SIZE : CLIENT_INFO_V1_SIZE;
    if (bytes.size() < needed) {
        // Without its fields the version would only label bytes the peer
        // never sent.
        info.version = CLIENT_INFO_NO_VERSION;
        return KXP_ERR_BAD_INFO;
    }
    std::copy_n(bytes.begin(), needed, info.wire.begin());
    return 0;
}

void client_info_convert(client_info& info, const kxp_version_bytes& protocol_version) {
    const int version = client_info_version_code(protocol_version[0], protocol_version[1]);
    if (!supported(version)) return;
    const client_info before = info;
    info.version = version;
    std::copy(protocol_version.begin(), protocol_version.end(), info.wire.begin());
    const auto old_mfg = client_info_mfg_id(before);
    write_mfg_id(info, old_mfg.value_or(std::string_view{}));
    // Old and new code 2: the serial number is outside the moved field and
    // keeps its bytes.
}

std::optional<kxp_version_bytes> client_info_protocol_version(const client_info& info) {
    if (!supported(info.version)) return std::nullopt;
    return four_bytes(info, 0);
}

std::optional<kxp_version_bytes> client_info_sw_version(const client_info& info) {
    if (!supported(info.version)) return std::nullopt;
    return four_bytes(info, CLIENT_INFO_SW_VERSION_OFFSET);
}

std::optional<std::string_view> client_info_mfg_id(const client_info& info) {
    if (!supported(info.version)) return std::nullopt;
    const field f = mfg_field(info.version);
    const auto* text = reinterpret_cast<const char*>(info.wire.data() + f.offset);
    const std::string_view whole(text, f.size);
    return whole.substr(0, whole.find('\0'));
}

void client_info_serial_number(const client_info& info, std::span<char> buffer) {
    if (buffer.empty()) return;
    if (info.version != 2 || buffer.size() <= CLIENT_INFO_SERIAL_SIZE) {
        buffer[0] = '\0';
        return;
    }
    std::copy_n(info.wire.begin() + CLIENT_INFO_SERIAL_OFFSET, CLIENT_INFO_SERIAL_SIZE,
                buffer.begin());
    buffer[CLIENT_INFO_SERIAL_SIZE] = '\0';
}
