// The HID role of the seam on hidraw. Windows lists one HID device interface
// per top-level collection; so does this role: a node whose report
// descriptor has several top-level collections gives one path per
// collection ("/dev/hidraw3&col02", numbered from 01), each with the usage
// and report lengths of its own collection. Feature reports of every path go
// to the node with HIDIOCGFEATURE/HIDIOCSFEATURE.
//
// Several threads may use one role at once on different handles: the table
// of opens and the record of the last listing's failures take a lock only
// while they are read or changed (never across an ioctl), and the error of
// the last call is the calling thread's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/handle_table.h"
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
    std::string denied_device() const;
    // The nodes of the last listing that could not be opened, and why.
    std::vector<UnopenedDevice> unopened() const;
    // The errno name of the calling thread's last call that failed
    // ("EACCES"); "" after clear_error.
    const std::string& last_error() const { return last_error_; }
    void clear_error() { last_error_.clear(); }

private:
    struct Open;
    std::shared_ptr<Open> find(HidHandle handle) const;
    int call_ioctl(int fd, unsigned long request, void* argument) const;
    // Records `error` (an errno value) for the call under way; false.
    static bool failed(int error);

    const HidrawConfig config_;
    HandleTable<Open> open_;

    mutable std::mutex listing_mutex_;  // guards denied_ and unopened_
    std::string denied_;
    std::vector<UnopenedDevice> unopened_;

    static thread_local std::string last_error_;
};

}  // namespace platform::linux_backend
