#include "platform/linux/usb_names.h"

#include <cstdio>

namespace platform::linux_backend {
namespace {

// The device interface class Windows lists USB devices under; only its
// presence in the name matters to the callers.
constexpr std::string_view INTERFACE_CLASS = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr std::string_view PREFIX = "USB#";

// Exactly `digits` hexadecimal digits (upper case, as formatted) at the
// front of `text`, consumed.
bool take_hex(std::string_view& text, std::size_t digits, std::uint32_t& value) {
    if (text.size() < digits) return false;
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[i];
        std::uint32_t nibble = 0;
        if (c >= '0' && c <= '9') nibble = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F') nibble = static_cast<std::uint32_t>(c - 'A' + 10);
        else return false;
        value = value * 16 + nibble;
    }
    text.remove_prefix(digits);
    return true;
}

// The decimal interface number of "MI_%.2u": two or three digits, at most 255.
bool take_interface_number(std::string_view& text, std::uint32_t& value) {
    std::size_t digits = 0;
    value = 0;
    while (digits < text.size() && digits < 3 && text[digits] >= '0' && text[digits] <= '9')
        value = value * 10 + static_cast<std::uint32_t>(text[digits++] - '0');
    if (digits < 2 || value > 255 || (digits == 3 && text[0] == '0')) return false;
    text.remove_prefix(digits);
    return true;
}

bool take(std::string_view& text, std::string_view literal) {
    if (!text.starts_with(literal)) return false;
    text.remove_prefix(literal.size());
    return true;
}

}  // namespace

std::string usb_location(std::uint8_t bus, std::span<const std::uint8_t> ports) {
    std::string location = std::to_string(bus) + "-";
    if (ports.empty()) return location + "0";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i != 0) location += '.';
        location += std::to_string(ports[i]);
    }
    return location;
}

std::string usb_name_format(const UsbNameParts& parts) {
    char ids[40];
    std::snprintf(ids, sizeof ids, "VID_%.4X&PID_%.4X", static_cast<unsigned>(parts.vendor_id),
                  static_cast<unsigned>(parts.product_id));
    std::string name(PREFIX);
    name += ids;
    if (parts.interface_number) {
        char mi[8];
        std::snprintf(mi, sizeof mi, "&MI_%.2u", static_cast<unsigned>(*parts.interface_number));
        name += mi;
    }
    name += '#';
    name += parts.location;
    name += '#';
    name += INTERFACE_CLASS;
    return name;
}

std::optional<UsbNameParts> usb_name_parse(std::string_view name) {
    UsbNameParts parts;
    std::uint32_t value = 0;
    if (!take(name, PREFIX) || !take(name, "VID_") || !take_hex(name, 4, value)) return std::nullopt;
    parts.vendor_id = static_cast<std::uint16_t>(value);
    if (!take(name, "&PID_") || !take_hex(name, 4, value)) return std::nullopt;
    parts.product_id = static_cast<std::uint16_t>(value);
    if (take(name, "&MI_")) {
        if (!take_interface_number(name, value)) return std::nullopt;
        parts.interface_number = static_cast<std::uint8_t>(value);
    }
    if (!take(name, "#")) return std::nullopt;
    const std::size_t end = name.find('#');
    if (end == std::string_view::npos || end == 0) return std::nullopt;
    parts.location = std::string(name.substr(0, end));
    name.remove_prefix(end);
    if (!take(name, "#") || name != INTERFACE_CLASS) return std::nullopt;
    return parts;
}

}  // namespace platform::linux_backend
