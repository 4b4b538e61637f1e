// The HID role of the seam on hidraw. Windows lists one HID device interface
// per top-level collection; so does this role: a node whose report
// descriptor has several top-level collections gives one path per
// collection ("/dev/hidraw3&col02", numbered from 01), each with the usage
// and report lengths of its own collection. Feature reports of every path go
// to the node with HIDIOCGFEATURE/HIDIOCSFEATURE.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::linux_backend {

// The ioctl call, replaceable in tests. Same contract as ioctl(2).
using IoctlFunction = int (*)(int fd, unsigned long request, void* argument);

struct HidrawConfig {
    std::filesystem::path sysfs_root = "/sys";
    std::filesystem::path dev_root = "/dev";
    IoctlFunction ioctl_call = nullptr;  // nullptr: the system's ioctl
};

// "/dev/hidraw3" and its collection index (0-based) from a path made by
// hidraw_paths; false for any other text.
bool hidraw_path_parse(const std::filesystem::path& dev_root, const std::string& path,
                       std::string& node, std::size_t& collection);

class HidrawRole {
public:
    explicit HidrawRole(HidrawConfig config);
    ~HidrawRole();
    HidrawRole(const HidrawRole&) = delete;
    HidrawRole& operator=(const HidrawRole&) = delete;

    bool paths(std::vector<std::string>& paths);
    HidHandle open(const std::string& path);
    void close(HidHandle handle);
    bool attributes(HidHandle handle, HidAttributes& attributes);
    bool caps(HidHandle handle, HidCaps& caps);
    bool get_feature(HidHandle handle, std::span<std::uint8_t> report);
    bool set_feature(HidHandle handle, std::span<const std::uint8_t> report);
    bool serial_number(HidHandle handle, std::string& serial);
    bool placement(HidHandle handle, UsbPlacement& placement);

    // The first node that was present but could not be opened for lack of
    // permission, with its IDs ("/dev/hidraw0 (2F5A:0001)"); "" when none.
    const std::string& denied_device() const { return denied_; }
    // The nodes of the last listing that could not be opened, and why.
    const std::vector<UnopenedDevice>& unopened() const { return unopened_; }
    // The errno name of the last call that failed ("EACCES"); "" after
    // clear_error.
    const std::string& last_error() const { return last_error_; }
    void clear_error() { last_error_.clear(); }

private:
    struct Open;
    Open* find(HidHandle handle);
    int call_ioctl(int fd, unsigned long request, void* argument) const;

    HidrawConfig config_;
    std::map<HidHandle, std::unique_ptr<Open>> open_;
    HidHandle next_handle_ = 1;
    // Records errno for the call under way; false.
    bool failed();

    std::string denied_;
    std::vector<UnopenedDevice> unopened_;
    std::string last_error_;
};

}  // namespace platform::linux_backend
