#include "platform/windows/hid_feature.h"

#include <algorithm>

#include "platform/windows/win_handles.h"

namespace platform::windows {
namespace {

// One overlapped IOCTL, waited for at most HID_FEATURE_TIMEOUT_MS. On expiry
// the request is cancelled and GetOverlappedResult waits for it to end, so
// the driver is done with the buffers before the caller releases them.
bool bounded_ioctl(HANDLE file, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size, DWORD& moved) {
    moved = 0;
    EventHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    if (!DeviceIoControl(file, code, in, in_size, out, out_size, nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        if (WaitForSingleObject(event.get(), HID_FEATURE_TIMEOUT_MS) != WAIT_OBJECT_0) {
            CancelIoEx(file, &overlapped);
            GetOverlappedResult(file, &overlapped, &moved, TRUE);
            moved = 0;
            return false;
        }
    }
    return GetOverlappedResult(file, &overlapped, &moved, TRUE) != FALSE;
}

DWORD length_of(std::size_t size) { return static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD)); }

}  // namespace

bool hid_feature_set(HANDLE file, std::span<const std::uint8_t> report) {
    DWORD moved = 0;
    // The IOCTL's input buffer is only read.
    auto* data = const_cast<std::uint8_t*>(report.data());
    return bounded_ioctl(file, IOCTL_HID_SET_FEATURE, data, length_of(report.size()), nullptr, 0, moved);
}

bool hid_feature_get(HANDLE file, std::span<std::uint8_t> report) {
    DWORD moved = 0;
    // The report ID goes in with byte 0; the report comes back in place.
    const DWORD length = length_of(report.size());
    if (!bounded_ioctl(file, IOCTL_HID_GET_FEATURE, report.data(), length, report.data(), length, moved))
        return false;
    std::fill(report.begin() + std::min<std::size_t>(moved, report.size()), report.end(), std::uint8_t{0});
    return true;
}

}  // namespace platform::windows
