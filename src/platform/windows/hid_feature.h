// Feature reports through the HID class driver's IOCTLs, each bounded in
// time: HidD_GetFeature and HidD_SetFeature wait without end for a device
// that stops answering on endpoint 0.
#pragma once

#include <cstdint>
#include <span>

#include "platform/windows/win32.h"

namespace platform::windows {

// How long one feature report may take, as on the Linux backend.
inline constexpr DWORD HID_FEATURE_TIMEOUT_MS = 5000;

// `file` is opened for reading and writing with FILE_FLAG_OVERLAPPED; byte 0
// of the report is its report ID. False on failure and on timeout (the
// request is then cancelled and has ended before this returns).
bool hid_feature_set(HANDLE file, std::span<const std::uint8_t> report);
// Bytes the driver did not fill are zero.
bool hid_feature_get(HANDLE file, std::span<std::uint8_t> report);

}  // namespace platform::windows
