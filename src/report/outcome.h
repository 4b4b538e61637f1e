// What a run, a phase or a device operation came to: success, or what failed
// and the number that says more (the device's status byte, the link's result
// code, errno). Device statuses stay numbers here; only the message table
// (report/messages.h) turns an outcome into words.
#pragma once

#include <cstdint>

enum class failure : std::uint8_t {
    none,
    usage,             // the command line was refused
    no_device,         // no device of the vendor attached (or none fits -S/-p)
    several_devices,   // more than one fits: the user must choose
    device_in_use,     // another flash-tool holds the device
    open_failed,       // the device is attached but did not open
    communication,     // a request or its reply failed on the way
    device_status,     // the device answered with a non-zero status (code)
    image_unreadable,  // the image file could not be read (code: errno, if any)
    image_empty,
    image_suffix_only,
    image_malformed_suffix,
    image_bad_crc,
    image_wrong_vendor,
    image_wrong_product,
    not_in_dfu_mode,  // detached into DFU mode, but came back in run-time mode
    did_not_restart,  // told to restart, it never left the bus
    did_not_come_back,
    came_back_in_dfu_mode,  // the new firmware did not start
    link_unavailable,       // the link layer could not be opened
    serial_too_long,        // the serial number does not fit a link address
    interrupted,            // Ctrl-C
};

struct [[nodiscard]] outcome {
    failure kind = failure::none;
    std::int64_t code = 0;

    constexpr bool ok() const { return kind == failure::none; }
    friend constexpr bool operator==(const outcome&, const outcome&) = default;
};

constexpr outcome succeeded() { return {}; }
constexpr outcome failed(failure kind, std::int64_t code = 0) { return {kind, code}; }
