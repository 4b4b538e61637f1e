// RAII owners for the seam's handles: each closes its handle through the
// installed platform when it goes out of scope.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace platform {

template <typename Handle, void (Platform::*Close)(Handle)>
class HandleOwner {
public:
    HandleOwner() = default;
    explicit HandleOwner(Handle handle) : handle_(handle) {}
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
    HandleOwner(HandleOwner&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    HandleOwner& operator=(HandleOwner&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }
    ~HandleOwner() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    void reset(Handle handle = Handle{}) {
        if (handle_ != Handle{}) (current().*Close)(handle_);
        handle_ = handle;
    }

private:
    Handle handle_{};
};

using UsbHandleOwner = HandleOwner<UsbHandle, &Platform::usb_close>;
using HidHandleOwner = HandleOwner<HidHandle, &Platform::hid_close>;
using LockHandleOwner = HandleOwner<LockHandle, &Platform::unlock_device>;
using DepartureWatchOwner = HandleOwner<DepartureWatch, &Platform::unwatch_departure>;

}  // namespace platform
