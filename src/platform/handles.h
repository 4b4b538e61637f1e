// RAII owners for the seam's handles: each keeps the platform its handle
// came from and closes the handle through it when it goes out of scope.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace platform {

template <typename Handle, void (Platform::*Close)(Handle)>
class HandleOwner {
public:
    HandleOwner() = default;
    HandleOwner(Platform& platform, Handle handle) : platform_(&platform), handle_(handle) {}
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
    HandleOwner(HandleOwner&& other) noexcept
        : platform_(std::exchange(other.platform_, nullptr)), handle_(std::exchange(other.handle_, Handle{})) {}
    HandleOwner& operator=(HandleOwner&& other) noexcept {
        if (this != &other) {
            reset();
            platform_ = std::exchange(other.platform_, nullptr);
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }
    ~HandleOwner() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    // Closes the handle held, if any; the owner then holds nothing.
    void reset() {
        if (handle_ != Handle{}) (platform_->*Close)(handle_);
        platform_ = nullptr;
        handle_ = Handle{};
    }
    // Closes the handle held, if any, and takes `handle` of `platform`.
    void reset(Platform& platform, Handle handle) {
        reset();
        platform_ = &platform;
        handle_ = handle;
    }

private:
    Platform* platform_ = nullptr;
    Handle handle_{};
};

using UsbHandleOwner = HandleOwner<UsbHandle, &Platform::usb_close>;
using HidHandleOwner = HandleOwner<HidHandle, &Platform::hid_close>;
using LockHandleOwner = HandleOwner<LockHandle, &Platform::unlock_device>;
using DepartureWatchOwner = HandleOwner<DepartureWatch, &Platform::unwatch_departure>;

}  // namespace platform
