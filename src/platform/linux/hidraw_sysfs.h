// What sysfs tells about the hidraw nodes: which are present, the IDs and
// serial number of the device behind each, and its report descriptor. The
// sysfs root is a parameter so the reading can be tested against a fake tree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::linux_backend {

struct HidrawNodeInfo {
    bool ids_known = false;
    std::uint16_t bus = 0;
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::uint16_t version = 0;  // bcdDevice of the USB device, 0 when unknown
    // HID_UNIQ, or for a USB device its serial number string.
    std::optional<std::string> serial;
    // For a USB device: its sysfs name, which is its port ("1-4.2": bus,
    // then the port path, the form the libusb role gives), and its bus
    // address (devnum), which changes with every enumeration.
    std::optional<std::string> usb_location;
    std::optional<std::uint32_t> usb_address;
    std::vector<std::uint8_t> report_descriptor;
};

// Names of the hidraw nodes ("hidraw0", "hidraw2", ...) in numeric order;
// empty when the class directory is missing.
std::vector<std::string> hidraw_node_names(const std::filesystem::path& sysfs_root);

// Reads what is known of one node. False when the node is not present or its
// report descriptor cannot be read.
bool hidraw_node_info(const std::filesystem::path& sysfs_root, const std::string& node,
                      HidrawNodeInfo& info);

// "0003:00002F5A:00000001" (bus, vendor, product, as in HID_ID of the uevent).
bool hid_id_parse(std::string_view text, std::uint16_t& bus, std::uint16_t& vendor_id,
                  std::uint16_t& product_id);

// The HID bus type of USB devices in HID_ID.
inline constexpr std::uint16_t HID_BUS_USB = 0x0003;

// Whether `name` is a USB device's sysfs name: "<bus>-<port>[.<port>...]".
bool usb_port_name_valid(std::string_view name);

// Whether `node` has the form "hidraw<digits>", so it cannot name a path
// outside the directories it is joined to.
bool hidraw_node_name_valid(std::string_view node);

}  // namespace platform::linux_backend
