#include "platform/linux/hidraw_sysfs.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace platform::linux_backend {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view NODE_PREFIX = "hidraw";
// The kernel caps report descriptors at 4 KiB; anything larger is not one.
constexpr std::size_t MAX_DESCRIPTOR_SIZE = 4096;
// sysfs attribute files are one page at most.
constexpr std::size_t MAX_ATTRIBUTE_SIZE = 4096;

bool read_bounded(const fs::path& file, std::size_t limit, std::string& text) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    text.assign(limit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got > limit || in.bad()) return false;
    text.resize(got);
    return true;
}

std::optional<std::string> read_line_attribute(const fs::path& file) {
    std::string text;
    if (!read_bounded(file, MAX_ATTRIBUTE_SIZE, text)) return std::nullopt;
    const std::size_t end = text.find('\n');
    if (end != std::string::npos) text.resize(end);
    return text;
}

// The value of KEY=value in a uevent file.
std::optional<std::string> uevent_value(const std::string& uevent, std::string_view key) {
    std::size_t pos = 0;
    while (pos < uevent.size()) {
        std::size_t end = uevent.find('\n', pos);
        if (end == std::string::npos) end = uevent.size();
        const std::string_view line(uevent.data() + pos, end - pos);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
            return std::string(line.substr(key.size() + 1));
        pos = end + 1;
    }
    return std::nullopt;
}

bool parse_hex(std::string_view text, std::uint32_t limit, std::uint32_t& value) {
    if (text.empty() || text.size() > 8) return false;
    value = 0;
    for (const char c : text) {
        std::uint32_t nibble = 0;
        if (c >= '0' && c <= '9') nibble = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') nibble = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') nibble = static_cast<std::uint32_t>(c - 'A' + 10);
        else return false;
        value = value * 16 + nibble;
    }
    return value <= limit;
}

std::uint64_t node_number(const std::string& node) {
    std::uint64_t number = 0;
    for (std::size_t i = NODE_PREFIX.size(); i < node.size(); ++i)
        number = number * 10 + static_cast<std::uint64_t>(node[i] - '0');
    return number;
}

}  // namespace

bool hidraw_node_name_valid(std::string_view node) {
    if (!node.starts_with(NODE_PREFIX) || node.size() == NODE_PREFIX.size() ||
        node.size() > NODE_PREFIX.size() + 9)
        return false;
    return std::all_of(node.begin() + static_cast<std::ptrdiff_t>(NODE_PREFIX.size()), node.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool hid_id_parse(std::string_view text, std::uint16_t& bus_type, std::uint16_t& vendor_id,
                  std::uint16_t& product_id) {
    const std::size_t first = text.find(':');
    if (first == std::string_view::npos) return false;
    const std::size_t second = text.find(':', first + 1);
    if (second == std::string_view::npos) return false;
    std::uint32_t bus = 0, vendor = 0, product = 0;
    if (!parse_hex(text.substr(0, first), 0xFFFF, bus) ||
        !parse_hex(text.substr(first + 1, second - first - 1), 0xFFFF, vendor) ||
        !parse_hex(text.substr(second + 1), 0xFFFF, product))
        return false;
    bus_type = static_cast<std::uint16_t>(bus);
    vendor_id = static_cast<std::uint16_t>(vendor);
    product_id = static_cast<std::uint16_t>(product);
    return true;
}

std::vector<std::string> hidraw_node_names(const fs::path& sysfs_root) {
    std::vector<std::string> nodes;
    std::error_code error;
    for (fs::directory_iterator it(sysfs_root / "class" / "hidraw", error), end; !error && it != end;
         it.increment(error)) {
        std::string name = it->path().filename().string();
        if (hidraw_node_name_valid(name)) nodes.push_back(std::move(name));
    }
    std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
        return node_number(a) < node_number(b);
    });
    return nodes;
}

bool hidraw_node_info(const fs::path& sysfs_root, const std::string& node, HidrawNodeInfo& info) {
    info = {};
    if (!hidraw_node_name_valid(node)) return false;
    std::error_code error;
    // The HID device directory; its parent is the USB interface, whose parent
    // is the USB device (for HID devices on USB).
    const fs::path hid_device = fs::canonical(sysfs_root / "class" / "hidraw" / node / "device", error);
    if (error) return false;

    std::string descriptor;
    if (!read_bounded(hid_device / "report_descriptor", MAX_DESCRIPTOR_SIZE, descriptor)) return false;
    info.report_descriptor.assign(descriptor.begin(), descriptor.end());

    std::string uevent;
    if (read_bounded(hid_device / "uevent", MAX_ATTRIBUTE_SIZE, uevent)) {
        if (const auto id = uevent_value(uevent, "HID_ID"))
            info.ids_known = hid_id_parse(*id, info.bus, info.vendor_id, info.product_id);
        if (const auto uniq = uevent_value(uevent, "HID_UNIQ"); uniq && !uniq->empty())
            info.serial = *uniq;
    }

    if (!info.ids_known || info.bus != HID_BUS_USB) return true;
    const fs::path usb_device = hid_device.parent_path().parent_path();
    if (const auto bcd = read_line_attribute(usb_device / "bcdDevice")) {
        std::uint32_t version = 0;
        if (parse_hex(*bcd, 0xFFFF, version)) info.version = static_cast<std::uint16_t>(version);
    }
    if (!info.serial) {
        if (auto serial = read_line_attribute(usb_device / "serial"); serial && !serial->empty())
            info.serial = std::move(*serial);
    }
    if (const std::string port = usb_device.filename().string(); usb_port_name_valid(port)) {
        info.usb_location = port;
        std::uint32_t address = 0;
        if (const auto devnum = read_line_attribute(usb_device / "devnum");
            devnum && !devnum->empty() && devnum->size() <= 3 &&
            std::all_of(devnum->begin(), devnum->end(), [](char c) { return c >= '0' && c <= '9'; })) {
            for (const char c : *devnum) address = address * 10 + static_cast<std::uint32_t>(c - '0');
            info.usb_address = address;
        }
    }
    return true;
}

bool usb_port_name_valid(std::string_view name) {
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size()) return false;
    const auto digits = [](std::string_view part, bool dots) {
        bool digit_before = false;
        for (const char c : part) {
            if (c >= '0' && c <= '9') {
                digit_before = true;
            } else if (dots && c == '.' && digit_before) {
                digit_before = false;
            } else {
                return false;
            }
        }
        return digit_before;
    };
    return digits(name.substr(0, dash), false) && digits(name.substr(dash + 1), true);
}

}  // namespace platform::linux_backend
