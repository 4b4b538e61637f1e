// One flash-tool per device: an flock(2) on a file named after the device's
// location, in a directory every user can write (/run/lock on Debian). The
// kernel drops the lock when its process ends, however it ends, so a crashed
// run never leaves a device locked. The file holds the holder's process ID.
//
// Threads of one process exclude each other too: each lock opens the file
// anew, and flock(2) locks of separate opens conflict even within a process.
// The table of held locks takes its own lock only to enter or remove one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/handle_table.h"
#include "platform/platform.h"

namespace platform::linux_backend {

// The directory for the lock files: /run/lock where it is writable, else
// $XDG_RUNTIME_DIR, else /tmp.
std::filesystem::path device_lock_directory();

class DeviceLocks {
public:
    explicit DeviceLocks(std::filesystem::path directory);
    ~DeviceLocks();
    DeviceLocks(const DeviceLocks&) = delete;
    DeviceLocks& operator=(const DeviceLocks&) = delete;

    // See Platform::lock_device. A lock file that cannot be opened at all
    // (a directory without rights) grants the lock: the tool must not refuse
    // a device it cannot guard.
    LockHandle lock(const std::string& key, std::uint64_t& holder);
    void unlock(LockHandle handle);

private:
    // A held lock's file, closed (and so unlocked) when it ends.
    struct LockFile {
        int fd = -1;  // -1: not guarded
        explicit LockFile(int descriptor) : fd(descriptor) {}
        ~LockFile();
        LockFile(const LockFile&) = delete;
        LockFile& operator=(const LockFile&) = delete;
    };

    const std::filesystem::path directory_;
    HandleTable<LockFile> held_;
};

}  // namespace platform::linux_backend
