// The matching rules of the WinUSB-role device search: substring patterns on
// the platform's device names ("VID_%.4X", "PID_%.4X", "MI_%.2d").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct usb_name_patterns {
    std::string vendor;     // "VID_1234", or "VID_" for ANY_ID
    std::string product;    // "PID_ABCD", or "PID_" for ANY_ID
    std::string interface;  // "MI_01"; empty in the pass without interface pattern
    bool any_vendor = false;
    bool any_product = false;
};

usb_name_patterns usb_name_patterns_make(std::uint16_t vendor_id, std::uint16_t product_id,
                                         std::optional<int> interface_number);
// Substring match of every pattern that applies, without regard to ASCII case.
bool usb_name_matches(const usb_name_patterns& patterns, std::string_view name);

// Whether the device path ("\\?\" followed by the name) fits the longest
// path the system takes, 32,767 characters with the terminator.
// Longer names are skipped rather than truncated into another device's path.
bool usb_name_fits_path(std::string_view name);
