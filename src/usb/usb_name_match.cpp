#include "usb/usb_name_match.h"

#include <cstdio>

#include "usb/usb_ids.h"

namespace {
constexpr std::size_t PATH_BUFFER_SIZE = 272;
constexpr std::string_view PATH_PREFIX = "\\\\?\\";
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
    if (!patterns.any_vendor && name.find(patterns.vendor) == std::string_view::npos) return false;
    if (!patterns.any_product && name.find(patterns.product) == std::string_view::npos) return false;
    if (!patterns.interface.empty() && name.find(patterns.interface) == std::string_view::npos)
        return false;
    return true;
}

bool usb_name_fits_path(std::string_view name) {
    return PATH_PREFIX.size() + name.size() + 1 <= PATH_BUFFER_SIZE;
}
