#include "platform/linux/hidraw_role.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/hid_report_descriptor.h"
#include "platform/linux/hidraw_sysfs.h"

namespace platform::linux_backend {
namespace {

constexpr std::string_view COLLECTION_MARK = "&col";
// The ioctl encodes the report length in 14 bits.
constexpr std::size_t MAX_FEATURE_REPORT = 0x3FFF;

std::string collection_suffix(std::size_t index) {
    char text[32];
    std::snprintf(text, sizeof text, "&col%.2zu", index + 1);
    return text;
}

}  // namespace

struct HidrawRole::Open {
    int fd = -1;
    HidrawNodeInfo info;
    HidCaps caps;
    ~Open() {
        if (fd >= 0) ::close(fd);
    }
};

bool hidraw_path_parse(const std::filesystem::path& dev_root, const std::string& path,
                       std::string& node, std::size_t& collection) {
    std::string_view rest(path);
    const std::string root = dev_root.string() + "/";
    if (!rest.starts_with(root)) return false;
    rest.remove_prefix(root.size());
    collection = 0;
    const std::size_t mark = rest.find(COLLECTION_MARK);
    if (mark != std::string_view::npos) {
        const std::string_view digits = rest.substr(mark + COLLECTION_MARK.size());
        if (digits.size() < 2 || digits.size() > 3) return false;
        std::size_t number = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return false;
            number = number * 10 + static_cast<std::size_t>(c - '0');
        }
        if (number == 0) return false;
        collection = number - 1;
        rest = rest.substr(0, mark);
    }
    if (!hidraw_node_name_valid(rest)) return false;
    node = std::string(rest);
    return true;
}

HidrawRole::HidrawRole(HidrawConfig config) : config_(std::move(config)) {}
HidrawRole::~HidrawRole() = default;

int HidrawRole::call_ioctl(int fd, unsigned long request, void* argument) const {
    if (config_.ioctl_call != nullptr) return config_.ioctl_call(fd, request, argument);
    return ::ioctl(fd, request, argument);
}

thread_local std::string HidrawRole::last_error_;

bool HidrawRole::failed(int error) {
    const char* name = strerrorname_np(error);
    last_error_ = name != nullptr ? name : std::to_string(error);
    return false;
}

std::string HidrawRole::denied_device() const {
    const std::lock_guard lock(listing_mutex_);
    return denied_;
}

std::vector<UnopenedDevice> HidrawRole::unopened() const {
    const std::lock_guard lock(listing_mutex_);
    return unopened_;
}

bool HidrawRole::paths(std::vector<std::string>& paths) {
    paths.clear();
    {
        const std::lock_guard lock(listing_mutex_);
        unopened_.clear();
    }
    for (const std::string& node : hidraw_node_names(config_.sysfs_root)) {
        HidrawNodeInfo info;
        HidReportDescriptor descriptor;
        // A node whose descriptor cannot be read or parsed offers no
        // collection to list.
        if (!hidraw_node_info(config_.sysfs_root, node, info) ||
            !hid_parse_report_descriptor(info.report_descriptor, descriptor))
            continue;
        const std::string base = (config_.dev_root / node).string();
        const std::size_t count = descriptor.collections.size();
        for (std::size_t i = 0; i < count; ++i)
            paths.push_back(count == 1 ? base : base + collection_suffix(i));
    }
    return true;
}

HidHandle HidrawRole::open(const std::string& path) {
    std::string node;
    std::size_t collection = 0;
    if (!hidraw_path_parse(config_.dev_root, path, node, collection)) return 0;
    auto record = std::make_shared<Open>();
    if (!hidraw_node_info(config_.sysfs_root, node, record->info)) return 0;
    HidReportDescriptor descriptor;
    if (!hid_parse_report_descriptor(record->info.report_descriptor, descriptor) ||
        collection >= descriptor.collections.size())
        return 0;
    const HidTopCollection& top = descriptor.collections[collection];
    record->caps.usage_page = top.usage_page;
    record->caps.usage = top.usage;
    record->caps.input_report_length = top.input_report_length;
    record->caps.output_report_length = top.output_report_length;
    record->caps.feature_report_length = top.feature_report_length;

    const std::string device_path = (config_.dev_root / node).string();
    record->fd = ::open(device_path.c_str(), O_RDWR | O_CLOEXEC);
    if (record->fd < 0) {
        const int error = errno;
        failed(error);
        const bool denied = error == EACCES || error == EPERM;
        const std::lock_guard lock(listing_mutex_);
        if (record->info.ids_known && (denied || error == EBUSY))
            unopened_.push_back({record->info.vendor_id, record->info.product_id,
                                 record->info.usb_location.value_or(""), denied ? "permission denied" : "busy"});
        if (denied && denied_.empty()) {
            char ids[24] = "";
            if (record->info.ids_known)
                std::snprintf(ids, sizeof ids, " (%.4X:%.4X)", static_cast<unsigned>(record->info.vendor_id),
                              static_cast<unsigned>(record->info.product_id));
            denied_ = device_path + ids;
        }
        return 0;
    }
    return open_.add(std::move(record));
}

void HidrawRole::close(HidHandle handle) { open_.erase(handle); }

std::shared_ptr<HidrawRole::Open> HidrawRole::find(HidHandle handle) const { return open_.find(handle); }

bool HidrawRole::attributes(HidHandle handle, HidAttributes& attributes) {
    const std::shared_ptr<const Open> open = find(handle);
    if (open == nullptr || !open->info.ids_known) return false;
    attributes.vendor_id = open->info.vendor_id;
    attributes.product_id = open->info.product_id;
    attributes.version = open->info.version;
    return true;
}

bool HidrawRole::caps(HidHandle handle, HidCaps& caps) {
    const std::shared_ptr<const Open> open = find(handle);
    if (open == nullptr) return false;
    caps = open->caps;
    return true;
}

// Both transfers move the whole report, report ID in byte 0, and succeed only
// when the kernel moved all of it: a short report would leave stale bytes
// behind that the caller would take for the device's.
bool HidrawRole::get_feature(HidHandle handle, std::span<std::uint8_t> report) {
    const std::shared_ptr<const Open> open = find(handle);
    if (open == nullptr || report.empty() || report.size() > MAX_FEATURE_REPORT) return false;
    const int got = call_ioctl(open->fd, HIDIOCGFEATURE(report.size()), report.data());
    if (got < 0) return failed(errno);
    return static_cast<std::size_t>(got) == report.size();
}

bool HidrawRole::set_feature(HidHandle handle, std::span<const std::uint8_t> report) {
    const std::shared_ptr<const Open> open = find(handle);
    if (open == nullptr || report.empty() || report.size() > MAX_FEATURE_REPORT) return false;
    // The ioctl only reads the buffer; it takes a non-const pointer.
    std::vector<std::uint8_t> copy(report.begin(), report.end());
    const int sent = call_ioctl(open->fd, HIDIOCSFEATURE(copy.size()), copy.data());
    if (sent < 0) return failed(errno);
    return static_cast<std::size_t>(sent) == report.size();
}

bool HidrawRole::placement(HidHandle handle, UsbPlacement& placement) {
    const std::shared_ptr<const Open> open = find(handle);
    if (open == nullptr || !open->info.usb_location) return false;
    placement.location = *open->info.usb_location;
    placement.enumeration = open->info.usb_address;
    return true;
}

bool HidrawRole::serial_number(HidHandle handle, std::string& serial) {
    const std::shared_ptr<const Open> open = find(handle);
    if (open == nullptr || !open->info.serial) return false;
    serial = *open->info.serial;
    return true;
}

}  // namespace platform::linux_backend
