// One flash-tool per device: the lock a run (or -l's probe) holds on the
// device it talks to, named after the device's location, which stays the
// same across its restarts and mode changes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"
#include "usb/usb_device_identity.h"

struct device_lock {
    platform::LockHandleOwner handle;
    std::uint64_t holder = 0;  // the process that holds it, when refused (0: unknown)
    bool guarded = true;       // false: nothing to name the lock by (no location)

    bool taken() const { return !guarded || static_cast<bool>(handle); }
};

// A device without a location cannot be named to other processes: it is
// not guarded, and the run goes on.
device_lock device_lock_take(platform::Platform& os, const usb_device_identity& device);

// "process 1234", or "process unknown".
std::string device_lock_holder_text(const device_lock& lock);
