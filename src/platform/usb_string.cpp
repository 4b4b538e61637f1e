#include "platform/usb_string.h"

namespace platform {
namespace {

constexpr std::uint8_t STRING_DESCRIPTOR = 3;
constexpr char32_t REPLACEMENT = 0xFFFD;

void append_utf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string utf16le_to_utf8(std::span<const std::uint8_t> bytes) {
    std::string out;
    const std::size_t units = bytes.size() / 2;
    auto unit_at = [&](std::size_t i) -> char32_t { return bytes[2 * i] | (bytes[2 * i + 1] << 8); };
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = unit_at(i);
        if (unit == 0) break;
        if (is_high_surrogate(unit) && i + 1 < units && is_low_surrogate(unit_at(i + 1))) {
            append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unit_at(i + 1) - 0xDC00));
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            append_utf8(out, REPLACEMENT);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

std::optional<std::string> usb_string_descriptor_text(std::span<const std::uint8_t> received) {
    if (received.size() < 2 || received[1] != STRING_DESCRIPTOR || received[0] < 2) return std::nullopt;
    const std::size_t length = received[0] < received.size() ? received[0] : received.size();
    return utf16le_to_utf8(received.subspan(2, length - 2));
}

}  // namespace platform
