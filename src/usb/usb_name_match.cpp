#include "usb/usb_name_match.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "usb/usb_ids.h"

namespace {
// A "\\?\" path may be as long as the system's longest path, 32,767
// characters with its terminator.
constexpr std::size_t PATH_BUFFER_SIZE = 32767;
constexpr std::string_view PATH_PREFIX = "\\\\?\\";

// Windows names devices in either case ("VID_2F5A" from the bus driver,
// "vid_2f5a" in HID paths): patterns match without regard to ASCII case.
bool contains(std::string_view name, std::string_view pattern) {
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    return std::search(name.begin(), name.end(), pattern.begin(), pattern.end(), same) != name.end();
}
}  // namespace

usb_name_patterns usb_name_patterns_make(std::uint16_t vendor_id, std::uint16_t product_id,
                                         std::optional<int> interface_number) {
    usb_name_patterns patterns;
    char text[32];
    patterns.any_vendor = vendor_id == ANY_ID;
    patterns.any_product = product_id == ANY_ID;
    std::snprintf(text, sizeof text, "VID_%.4X", static_cast<unsigned>(vendor_id));
    patterns.vendor = patterns.any_vendor ? "VID_" : text;
    std::snprintf(text, sizeof text, "PID_%.4X", static_cast<unsigned>(product_id));
    patterns.product = patterns.any_product ? "PID_" : text;
    if (interface_number) {
        std::snprintf(text, sizeof text, "MI_%.2d", *interface_number);
        patterns.interface = text;
    }
    return patterns;
}

bool usb_name_matches(const usb_name_patterns& patterns, std::string_view name) {
    if (!patterns.any_vendor && !contains(name, patterns.vendor)) return false;
    if (!patterns.any_product && !contains(name, patterns.product)) return false;
    return patterns.interface.empty() || contains(name, patterns.interface);
}

bool usb_name_fits_path(std::string_view name) {
    return PATH_PREFIX.size() + name.size() + 1 <= PATH_BUFFER_SIZE;
}
