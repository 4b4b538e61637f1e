// Device names of the WinUSB role on Linux, in the form Windows gives them
// ("USB#VID_2F5A&PID_0001&MI_01#1-4.2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"),
// so the device layers' substring patterns and two search passes work
// unchanged. The instance part is the bus number and port path, which stays
// the same when a device re-enumerates on the same port.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform::linux_backend {

struct UsbNameParts {
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::optional<std::uint8_t> interface_number;  // none for a single-interface device
    std::string location;                           // "1-4.2": bus, then the port path
};

// "1-4.2" from bus 1 and ports {4, 2}; "1-0" for a root hub (no ports).
std::string usb_location(std::uint8_t bus, std::span<const std::uint8_t> ports);

std::string usb_name_format(const UsbNameParts& parts);

// The parts of a name made by usb_name_format; nothing for any other text.
std::optional<UsbNameParts> usb_name_parse(std::string_view name);

}  // namespace platform::linux_backend
