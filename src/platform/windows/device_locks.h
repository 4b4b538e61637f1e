// One flash-tool per device on Windows: a named mutex per device location,
// and beside it a named word of shared memory with the holder's process ID.
// Windows gives both up when their process ends, however it ends.
//
// Threads of one process exclude each other too: a mutex held by one thread
// is not granted to another. It is released best by the thread that took
// it; released by another thread, ReleaseMutex fails, and the lock ends when
// its last handle is closed here all the same. The table of held locks takes
// its own lock only to enter or remove one.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handle_table.h"
#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace platform::windows {

class DeviceLocks {
public:
    DeviceLocks() = default;
    DeviceLocks(const DeviceLocks&) = delete;
    DeviceLocks& operator=(const DeviceLocks&) = delete;

    // See Platform::lock_device. Where the mutex cannot be made, the lock is
    // granted: the tool must not refuse a device it cannot guard.
    LockHandle lock(const std::string& key, std::uint64_t& holder);
    void unlock(LockHandle handle);

private:
    // A held lock, released and closed when it ends.
    struct Held {
        HANDLE mutex = nullptr;   // owned by this process; null: not guarded
        HANDLE holder = nullptr;  // the shared word with this process's ID
        Held() = default;
        ~Held();
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
    };
    HandleTable<Held> held_;
};

}  // namespace platform::windows
