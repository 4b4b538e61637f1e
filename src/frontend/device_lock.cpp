#include "frontend/device_lock.h"

device_lock device_lock_take(platform::Platform& os, const usb_device_identity& device) {
    device_lock lock;
    if (device.location.empty()) {
        lock.guarded = false;
        return lock;
    }
    lock.handle.reset(os, os.lock_device(device.location, lock.holder));
    return lock;
}

std::string device_lock_holder_text(const device_lock& lock) {
    return lock.holder != 0 ? "process " + std::to_string(lock.holder) : std::string("process unknown");
}
