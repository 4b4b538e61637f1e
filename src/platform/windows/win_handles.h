// RAII owners of the Windows handles the backend opens: a file handle and an
// event (CloseHandle), a WinUSB interface (WinUsb_Free), a device information set
// (SetupDiDestroyDeviceInfoList) and HID preparsed data (HidD_FreePreparsedData).
#pragma once

#include <utility>

#include "platform/windows/win32.h"

namespace platform::windows {

template <typename Traits>
class WinOwner {
public:
    using Handle = typename Traits::Handle;

    WinOwner() = default;
    explicit WinOwner(Handle handle) : handle_(handle) {}
    WinOwner(const WinOwner&) = delete;
    WinOwner& operator=(const WinOwner&) = delete;
    WinOwner(WinOwner&& other) noexcept : handle_(std::exchange(other.handle_, Traits::none())) {}
    WinOwner& operator=(WinOwner&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Traits::none());
        }
        return *this;
    }
    ~WinOwner() { reset(); }

    Handle get() const { return handle_; }
    // For the out-parameter of the call that creates the handle.
    Handle* put() {
        reset();
        return &handle_;
    }
    bool valid() const { return Traits::valid(handle_); }
    void reset(Handle handle = Traits::none()) {
        if (Traits::valid(handle_)) Traits::close(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = Traits::none();
};

struct FileTraits {
    using Handle = HANDLE;
    static Handle none() { return INVALID_HANDLE_VALUE; }
    static bool valid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Handle h) { CloseHandle(h); }
};

struct EventTraits {
    using Handle = HANDLE;
    static Handle none() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr; }
    static void close(Handle h) { CloseHandle(h); }
};

struct WinUsbTraits {
    using Handle = WINUSB_INTERFACE_HANDLE;
    static Handle none() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr; }
    static void close(Handle h) { WinUsb_Free(h); }
};

struct DeviceInfoSetTraits {
    using Handle = HDEVINFO;
    static Handle none() { return INVALID_HANDLE_VALUE; }
    static bool valid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Handle h) { SetupDiDestroyDeviceInfoList(h); }
};

struct PreparsedDataTraits {
    using Handle = PHIDP_PREPARSED_DATA;
    static Handle none() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr; }
    static void close(Handle h) { HidD_FreePreparsedData(h); }
};

using FileHandle = WinOwner<FileTraits>;
using EventHandle = WinOwner<EventTraits>;
using WinUsbInterface = WinOwner<WinUsbTraits>;
using DeviceInfoSet = WinOwner<DeviceInfoSetTraits>;
using PreparsedData = WinOwner<PreparsedDataTraits>;

}  // namespace platform::windows
