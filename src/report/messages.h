// The one table from what failed to what the user reads: every error line
// the tool writes, and the name a failure has in JSON output.
#pragma once

#include <cstdint>
#include <string>

#include "report/outcome.h"

// Each error line the tool can write; several may report the same failure.
enum class message : std::uint8_t {
    communication_error,
    open_device,  // first: the device's product ID
    upgrade_failed,
    info_failed,
    dfu_upgrade_failed,  // the DFU path's, after an empty line
    dfu_info_failed,
    did_not_restart,
    not_back,
    back_in_dfu_mode,
    dfu_interface_unopened,  // subject: the platform's hint, if any
    not_in_upgrade_mode,
    came_back_as_other,  // first: the image's product ID, second: the device's
    link_syserror,       // the outcome's code is the link's result
    link_upgrade,
    link_restart,
    link_unavailable,        // first: the device's product ID
    serial_too_long,         // subject: the serial number, first: the longest a link address holds
    image_unreadable,        // subject: what went wrong, in words
    image_empty,             // subject: the file
    image_suffix_only,       // subject: the file
    image_malformed_suffix,  // first: the suffix's length, second: the length it must have
    image_bad_crc,           // first: the CRC the suffix gives, second: the contents' CRC
    image_wrong_vendor,      // first: the image's vendor ID, second: the tool's
    image_wrong_product,     // first: the image's product ID, second: the device's
    several_devices,         // subject: the whole text, with the candidates
    no_match,                // subject: the whole text, with the devices attached
    device_in_use,           // subject: the location, detail: who holds it
    dfu_request_failed,      // the outcome's code: the DFU request that failed (standard output)
};

struct error_report {
    message id = message::communication_error;
    outcome result;
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    std::string subject;
    std::string detail;
};

// Error reports with the fields their message names; the rest stay empty.
inline error_report error_of(message id, outcome result) { return {id, result, 0, 0, {}, {}}; }
inline error_report error_of(message id, outcome result, std::string subject, std::string detail = {}) {
    return {id, result, 0, 0, std::move(subject), std::move(detail)};
}
inline error_report error_of(message id, outcome result, std::uint32_t first, std::uint32_t second = 0,
                             std::string subject = {}) {
    return {id, result, first, second, std::move(subject), {}};
}

// The console text of the error, line ends included, as written to standard
// error.
std::string message_text(const error_report& report);

// The failure's name in JSON output: "communication", "device_status", ...;
// "none" for success.
const char* failure_name(failure kind);
