// One flash-tool per device on Windows: a named mutex per device location,
// and beside it a named word of shared memory with the holder's process ID.
// Windows gives both up when their process ends, however it ends.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace platform::windows {

class DeviceLocks {
public:
    DeviceLocks() = default;
    ~DeviceLocks();
    DeviceLocks(const DeviceLocks&) = delete;
    DeviceLocks& operator=(const DeviceLocks&) = delete;

    // See Platform::lock_device. Where the mutex cannot be made, the lock is
    // granted: the tool must not refuse a device it cannot guard.
    LockHandle lock(const std::string& key, std::uint64_t& holder);
    void unlock(LockHandle handle);

private:
    struct Held {
        HANDLE mutex = nullptr;   // owned by this process; null: not guarded
        HANDLE holder = nullptr;  // the shared word with this process's ID
    };
    std::map<LockHandle, Held> held_;
    LockHandle next_ = 1;
};

}  // namespace platform::windows
